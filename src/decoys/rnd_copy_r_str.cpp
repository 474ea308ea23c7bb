// RndCopyRStr: a hidden element holding one of the site's copyright entries, its
// parts framed by random separators.
#include <array>

#include "component/ascii.h"
#include "component/conversions.h"
#include "decoys/decoy_element.h"
#include "random/primitives.h"
#include "vantoro/marquel.h"

namespace vantoro {
namespace {

constexpr std::array<std::string_view, 3> kNames = {"span", "font", "label"};
constexpr std::string_view kSeparators = "~`.,-_/\\|=+";

}  // namespace

std::string Marquel::CopyrightDecoy(const Variant& range, int case_mode) const {
  static const Variant kOneOrNone("0-1");
  if (copy_r_str_.empty()) return {};
  std::string_view entry = copy_r_str_;
  if (entry.find(',') != std::string_view::npos) {
    std::vector<std::string_view> entries = internal::Split(entry, ',');
    entry = entries[static_cast<std::size_t>(internal::DrawIndex(
        static_cast<std::int64_t>(entries.size())))];
  }
  std::string text;
  if (entry.find(':') == std::string_view::npos) {
    text = entry;
  } else {
    // Every part, the first included, gets one separator in front of it.
    for (std::string_view part : internal::Split(entry, ':')) {
      text += internal::RandomChars(1, kSeparators);
      text += part;
    }
  }
  std::string leading = internal::RandomChars(kOneOrNone, kSeparators);
  std::string trailing = internal::RandomChars(kOneOrNone, kSeparators);
  std::string_view name = kNames[static_cast<std::size_t>(internal::DrawIndex(kNames.size()))];
  std::string style = internal::HidingStyle(range, case_mode);
  return internal::DecoyElement(name, style, leading + text + trailing);
}

Variant Marquel::RndCopyRStr(const Variant& range, const Variant& caseMode) const {
  if (copy_r_str_.empty()) return Variant();
  return CopyrightDecoy(range, internal::CaseModeOf(caseMode));
}

}  // namespace vantoro
