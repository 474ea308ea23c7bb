// Marks on any page: they add nothing but selectors (with random-text decoys,
// which carry no notice, the output without its selectors is the unmarked
// one, under the same draws); the id comes back from the marked page under its
// key; and any text, marked or not, read under another key gives no id.
#include <regex>

#include "fuzz_support.h"
#include "vantoro/protector.h"

namespace {

using namespace vantoro::fuzz;

std::string WithoutSelectors(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "\xEF\xB8") == 0 && i + 2 < text.size() &&
        (static_cast<unsigned char>(text[i + 2]) & 0xF0) == 0x80) {
      i += 3;
      continue;
    }
    if (text.compare(i, 2, "\xF3\xA0") == 0 && i + 3 < text.size()) {
      const auto third = static_cast<unsigned char>(text[i + 2]);
      if (third >= 0x84 && third <= 0x87) {
        i += 4;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  Input input(data, size);
  const std::uint8_t choice = input.Byte();
  CyclingSource source(input.Text(255));
  const std::string page = input.Rest();
  vantoro::ScopedRandomSource use(source);

  // Any text under a key nobody marked with: nothing.
  FUZZ_CHECK(vantoro::Trace(page, "a key no page was marked with").empty());

  vantoro::Options options;
  options.charset = "UTF-8";
  options.content.hide = vantoro::HideMethod::kLayered;
  options.content.site_key = "fuzz-key";
  options.content.copy_notices = choice % 5;
  options.content.decoy = vantoro::DecoyKind::kRandomText;
  vantoro::Protector plain(options);
  options.content.marks = true;
  vantoro::Protector marking(options);
  const std::uint64_t id = 0x8000000000000000ull | choice;
  marking.set_mark_id(id);
  const bool whole = (choice & 0x80) != 0;
  std::string marked, unmarked;
  try {
    marked = whole ? marking.protect(page) : marking.protect_content(page);
  } catch (const vantoro::Error&) {
    return 0;  // a page in a set that cannot be protected fails alike
  }
  source.Restart();
  unmarked = whole ? plain.protect(page) : plain.protect_content(page);
  FUZZ_CHECK(WithoutSelectors(marked) == WithoutSelectors(unmarked));
  if (WithoutSelectors(page) == page) FUZZ_CHECK(WithoutSelectors(unmarked) == unmarked);

  // With copyright notices, the id comes back; under another key, none.
  options.content.decoy = vantoro::DecoyKind::kCopyright;
  options.content.copyright = "Fuzz Site:All rights reserved";
  vantoro::Protector notices(options);
  notices.set_mark_id(id);
  const std::string noticed = notices.protect_content(page);
  const std::vector<vantoro::MarkFound> found = vantoro::Trace(noticed, "fuzz-key");
  for (const vantoro::MarkFound& f : found) FUZZ_CHECK(f.id == id);
  auto notices_in = [](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = text.find("Fuzz Site"); at != std::string::npos; at = text.find("Fuzz Site", at + 1)) ++n;
    return n;
  };
  if (notices_in(noticed) > notices_in(page)) FUZZ_CHECK(!found.empty());
  FUZZ_CHECK(vantoro::Trace(noticed, "another key").empty());
  return 0;
}
