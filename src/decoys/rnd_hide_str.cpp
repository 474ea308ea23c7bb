// RndHideStr: a hidden element holding random characters (codes 1 to 128, never
// "<" or ">").
#include <array>

#include "component/conversions.h"
#include "decoys/decoy_element.h"
#include "random/primitives.h"
#include "vantoro/marquel.h"
#include "vantoro/random.h"

namespace vantoro {
namespace internal {
namespace {

// Ten phrasing elements, allowed wherever text is. Headings would close an open
// paragraph and "a" would end an open link, leaving a visible gap or an
// unlinked tail even though the decoy itself is hidden.
constexpr std::array<std::string_view, 10> kNames = {"span", "font", "b", "i", "em",
                                                     "small", "s",   "u", "q", "label"};

}  // namespace

std::string RandomTextDecoy(const Variant& range, int case_mode, std::string_view euro) {
  RandomSource& source = CurrentRandomSource();
  source.Reseed();
  if (range.is_null()) return {};
  std::int64_t count = DrawCount(ParseRangeSpec(range));
  if (count < 1) return {};
  std::string_view name = kNames[static_cast<std::size_t>(DrawIndex(kNames.size()))];
  std::string style = HidingStyle(range, case_mode);
  source.Reseed();
  std::string content;
  for (std::int64_t i = 0; i < count; ++i) {
    std::int64_t code = DrawIndex(128) + 1;
    if (code == '<' || code == '>') ++code;  // "=" and "?" instead
    if (code == 128) {
      content += euro;
    } else {
      content += static_cast<char>(code);
    }
  }
  return DecoyElement(name, style, content);
}

}  // namespace internal

Variant Marquel::RndHideStr(const Variant& range, const Variant& caseMode) const {
  return internal::RandomTextDecoy(range, internal::CaseModeOf(caseMode),
                                   Encoded(internal::kCode128));
}

}  // namespace vantoro
