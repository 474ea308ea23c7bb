// The form every decoy shares: <NAME style='HIDING STYLE'>CONTENT</NAME>, where the
// hiding style is "RUN;display:none;RUN;" with "display:none;" re-cased and two
// independent runs of random letters (a browser skips a declaration without a
// colon, so the element stays hidden). Covered by tests/decoys_test.cpp.
#ifndef VANTORO_DECOYS_DECOY_ELEMENT_H_
#define VANTORO_DECOYS_DECOY_ELEMENT_H_

#include <string>
#include <string_view>

#include "vantoro/variant.h"

namespace vantoro::internal {

// Draws the re-casing, then the first and the second letter run (lengths from
// `range`; a null range gives empty runs).
std::string HidingStyle(const Variant& range, int case_mode);

std::string DecoyElement(std::string_view name, std::string_view style, std::string_view content);

// One random-text decoy (empty when the drawn count is below 1 or range is null);
// `euro` is the text for code 128.
std::string RandomTextDecoy(const Variant& range, int case_mode, std::string_view euro);

// Code 128 among the random characters: the euro sign, as the common Western and
// Chinese code pages have it.
inline constexpr std::string_view kCode128 = "\xE2\x82\xAC";

}  // namespace vantoro::internal

#endif  // VANTORO_DECOYS_DECOY_ELEMENT_H_
