// The page pass on any page: the same input and values give the same bytes (also
// with the tag rules run one after the other rather than in one sweep), and
// what it adds or changes is only the watermark, the declaration move, letter
// case, whitespace and random comments; nothing of the page is lost, and
// attribute values, comments and raw text read as before.
#include <array>

#include "../html_model.h"
#include "fuzz_support.h"
#include "page/page_pass.h"
#include "page/tag_rule.h"
#include "vantoro/protector.h"

namespace {

using namespace vantoro::fuzz;

std::string Watermark(char c) {
  std::string w = "\r\n<!--*本*页*面*已*经*过*Vantoro*防*采*集* https://vantoro.example *处*理*-->"
                  "\r\n<!--*Vantoro*防*采*集 v2.0正式版*-->\r\n";
  for (char& x : w) {
    if (x == '*') x = c;
  }
  return w;
}

// A declaration that holds a tag may get a comment inside it: its end moves. Its
// end as a browser has it: the first ">" behind "<!DOCTYPE ".
bool HasTagInsideDeclaration(const std::string& page) {
  std::string lower;
  for (char c : page) lower += Lower(c);
  for (std::size_t p = lower.find("<!doctype"); p != std::string::npos; p = lower.find("<!doctype", p + 1)) {
    std::size_t gt = lower.find('>', p + 10), lt = lower.find('<', p + 1);
    if (lt < gt) return true;
  }
  return false;
}

// The same for the declarations that taking others out joins together, as
// Normalize does ("<!D<!DOCTYPE b>OCTYPE b<a>" holds one).
bool HasTagInsideAnyDeclaration(const std::string& page) {
  std::string plain = page;
  for (;;) {
    if (HasTagInsideDeclaration(plain)) return true;
    std::string next = WithoutDeclarations(plain);
    if (next == plain) return false;
    plain.swap(next);
  }
}

// A declaration inside a tag is that tag's text: gaps may go into it. Where the
// model does not read as a browser does (inside svg or math, say, a "<title>"
// is a tag and not the start of raw text), any declaration past the start may
// be inside a tag.
bool HasDeclarationInsideTag(const std::string& page) {
  if (!vantoro::testing::PlainHtmlContext(page)) {
    std::string lower;
    for (char c : page) lower += Lower(c);
    return lower.find("<!doctype", 1) != std::string::npos;
  }
  for (std::size_t lt : vantoro::testing::Tokenize(page, false).in_tag) {
    std::string head;
    for (std::size_t k = lt; k < page.size() && k < lt + 9; ++k) head += Lower(page[k]);
    if (head == "<!doctype") return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  Input input(data, size);
  CyclingSource source(input.Text(255));
  std::string page = input.Rest();
  vantoro::ScopedRandomSource use(source);
  // The pass itself on any bytes: the watermark in UTF-8, whatever the page declares.
  vantoro::Options options;
  options.charset = "UTF-8";
  vantoro::Protector m(options);
  std::string out = m.protect_page(page);
  source.Restart();
  FUZZ_CHECK(m.protect_page(page) == out);
  // The one sweep gives what the rules give one after the other.
  source.Restart();
  FUZZ_CHECK(vantoro::internal::PagePassRuleByRule(
                 page, {vantoro::internal::CommonAttributes(),
                        vantoro::internal::DefaultVersionText(), nullptr}) == out);

  const std::string bom = "\xEF\xBB\xBF";
  std::string rest = out;
  std::string_view body = page;
  if (page.starts_with(bom)) {
    FUZZ_CHECK(rest.starts_with(bom));
    rest.erase(0, 3);
    body.remove_prefix(3);
  }
  std::size_t at = std::string::npos, length = 0;
  for (char c : std::string_view("~`.,-_/\\|=+()[]{}^")) {
    std::string w = Watermark(c);
    std::size_t p = rest.find(w);
    if (p < at) at = p, length = w.size();
  }
  FUZZ_CHECK(at != std::string::npos);
  // Only a declaration (and an XML declaration) stands before it.
  FUZZ_CHECK(at == 0 || Lower(rest[2]) == 'd' || rest.starts_with("<?xml"));
  rest.erase(at, length);
  if (!HasTagInsideAnyDeclaration(page)) {
    if (!HasDeclarationInsideTag(page)) FUZZ_CHECK(Normalize(rest) == Normalize(body));
    // Values, comments and raw text read as before, where the model reads as a
    // browser does (the parser comparison of tests/parse covers the rest).
    if (vantoro::testing::PlainHtmlContext(page)) {
      vantoro::testing::Said before = vantoro::testing::SaidBy(page, false);
      vantoro::testing::Said after = vantoro::testing::SaidBy(out, false);
      FUZZ_CHECK(after.quoted == before.quoted);
      FUZZ_CHECK(after.comments == before.comments);
      FUZZ_CHECK(after.raw == before.raw);
    }
  }
  return 0;
}
