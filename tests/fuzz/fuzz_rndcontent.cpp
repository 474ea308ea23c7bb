// The content pass on any article, copyright text and decoy kind: the same input
// and values give the same bytes; without copyright texts only the markers'
// letter case changes; with a copyright text that cannot occur in the article,
// taking the decoys out gives the article back (letter case aside); with one that
// holds no markup, attribute values, comments and raw text read as before.
// protect, which scans the page once for both passes, gives the bytes and draws
// of the content pass and then the page pass, under each way of hiding.
#include "../html_model.h"
#include "fuzz_support.h"
#include "vantoro/protector.h"

namespace {

using namespace vantoro::fuzz;

std::string LowerAll(std::string_view s) {
  std::string out;
  for (char c : s) out += Lower(c);
  return out;
}

// Takes out every decoy holding the marker byte 0x01 and checks its form.
std::string WithoutDecoys(const std::string& out) {
  std::string result;
  std::size_t pos = 0;
  for (std::size_t mark; (mark = out.find('\x01', pos)) != std::string::npos;) {
    std::size_t start = out.rfind('<', mark);
    FUZZ_CHECK(start != std::string::npos && start >= pos);
    std::size_t close = out.find("</", mark);
    FUZZ_CHECK(close != std::string::npos && close <= mark + 2);
    std::size_t end = out.find('>', close) + 1;
    std::string name = out.substr(close + 2, end - close - 3);
    FUZZ_CHECK(name == "span" || name == "font" || name == "label");
    FUZZ_CHECK(out.compare(start, name.size() + 9, "<" + name + " style='") == 0);
    FUZZ_CHECK(LowerAll(out.substr(end, 3)) == "</p" || LowerAll(out.substr(end, 3)) == "<br");
    result.append(out, pos, start - pos);
    pos = end;
  }
  result.append(out, pos);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  Input input(data, size);
  const std::uint8_t flags = input.Byte();
  auto kind = static_cast<vantoro::DecoyKind>(flags % 3 + 1);
  std::string copyright = input.Text(64);
  CyclingSource source(input.Text(255));
  std::string article = input.Rest();
  vantoro::ScopedRandomSource use(source);

  // The pass itself, on any bytes: the character set is fixed, and a copyright
  // text of separators (or none) is allowed.
  vantoro::Options options;
  options.charset = "UTF-8";
  options.content.empty_notices = true;
  vantoro::Protector m(options);
  m.set_copyright(copyright);
  m.set_decoy_kind(kind);
  std::string out = m.protect_content(article);
  source.Restart();
  FUZZ_CHECK(m.protect_content(article) == out);
  // Values, comments and raw text read as before, where the model reads as a
  // browser does (the parser comparison of tests/parse covers the rest).
  if (copyright.find_first_of("<>\"'") == std::string::npos &&
      vantoro::testing::PlainHtmlContext(article)) {
    vantoro::testing::Said before = vantoro::testing::SaidBy(article, true);
    vantoro::testing::Said after = vantoro::testing::SaidBy(out, true);
    FUZZ_CHECK(after.quoted == before.quoted);
    FUZZ_CHECK(after.comments == before.comments);
    FUZZ_CHECK(after.raw == before.raw);
  }

  {
    vantoro::Options hidden = options;
    hidden.content.site_key = "fuzz-site-key";
    switch (flags / 3 % 4) {
      case 0: break;
      case 1:
        hidden.content.hide = vantoro::HideMethod::kClass;
        hidden.content.copy_notices = 2;
        break;
      case 2: hidden.content.hide = vantoro::HideMethod::kLayered; break;
      default:
        hidden.content.hide = vantoro::HideMethod::kLayered;
        hidden.content.marks = true;
        break;
    }
    vantoro::Protector both(hidden);
    both.set_copyright(copyright);
    both.set_decoy_kind(kind);
    source.Restart();
    const std::string once = both.protect(article);
    const std::size_t drawn = source.drawn();
    source.Restart();
    FUZZ_CHECK(both.protect_page(both.protect_content(article)) == once);
    FUZZ_CHECK(source.drawn() == drawn);
  }

  vantoro::Protector plain(options);  // no copyright texts: empty decoys
  std::string lowered = plain.protect_content(article);
  FUZZ_CHECK(lowered.size() == article.size());
  for (std::size_t i = 0; i < article.size(); ++i) {
    FUZZ_CHECK(lowered[i] == article[i] ||
               (Lower(article[i]) == lowered[i] && std::string_view("pbr").find(lowered[i]) != std::string_view::npos));
  }

  if (article.find('\x01') == std::string::npos) {
    vantoro::Protector marked(options);
    marked.set_copyright(std::string("\x01"));
    FUZZ_CHECK(LowerAll(WithoutDecoys(marked.protect_content(article))) == LowerAll(article));
  }
  return 0;
}
