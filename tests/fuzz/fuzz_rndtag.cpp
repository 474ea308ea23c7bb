// One tag rule, itself fuzzed (empty parts, no ":", four parts, odd names), on any
// page: malformed rules give the empty text, the same input and values give the
// same bytes, and a rule of plain names changes only case, whitespace and
// random comments.
#include "../test_support.h"
#include "fuzz_support.h"

namespace {

using namespace vantoro::fuzz;

bool Plain(std::string_view text, bool allow_empty) {
  if (text.empty()) return allow_empty;
  for (char c : text) {
    if (!IsAlnumLower(Lower(c))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  Input input(data, size);
  // Rules from a small alphabet reach the interesting shapes quickly.
  static constexpr std::string_view kRuleChars = "apdivbrPA:::;;12 hrefidclass<>-";
  std::string rule;
  for (char c : input.Text(24)) rule += kRuleChars[static_cast<unsigned char>(c) % kRuleChars.size()];
  std::uint8_t flags = input.Byte();
  bool fresh = flags & 1;
  int mode = 1 + (flags >> 1) % 3;
  vantoro::Variant gap_range = (flags & 8) ? vantoro::Variant("0-3") : vantoro::Variant(2);
  CyclingSource source(input.Text(255));
  std::string page = input.Rest();
  vantoro::ScopedRandomSource use(source);
  vantoro::Marquel m;
  m.Load();
  std::string out = vantoro::ToText(
      vantoro::MarquelTestAccess::RndTag(m, page, rule, fresh, gap_range, mode, "0-16"));
  source.Restart();
  FUZZ_CHECK(vantoro::ToText(vantoro::MarquelTestAccess::RndTag(m, page, rule, fresh, gap_range,
                                                                 mode, "0-16")) == out);

  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    std::size_t colon = rule.find(':', start);
    parts.push_back(rule.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (page.empty() || parts.size() < 2 || parts[0].empty() || parts[1].empty()) {
    FUZZ_CHECK(out.empty());
    return 0;
  }
  bool plain_attributes = true;
  if (parts.size() == 3) {
    for (std::size_t start = 0;;) {
      std::size_t semi = parts[2].find(';', start);
      plain_attributes &= Plain(parts[2].substr(start, semi - start), true);
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
  }
  std::string lowered;
  for (char c : page) lowered += Lower(c);
  // A lead comment inside a declaration would move the declaration's end.
  if (Plain(parts[0], false) && plain_attributes && lowered.find("<!doctype") == std::string::npos) {
    FUZZ_CHECK(Normalize(out) == Normalize(page));
  }
  return 0;
}
