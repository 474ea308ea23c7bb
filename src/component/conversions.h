// Argument conversions shared by the operations (beyond ToText and ToNumber).
#ifndef VANTORO_COMPONENT_CONVERSIONS_H_
#define VANTORO_COMPONENT_CONVERSIONS_H_

#include <optional>
#include <string_view>

#include "vantoro/variant.h"

namespace vantoro::internal {

// A plain decimal number with optional surrounding spaces and tabs and an optional
// sign: "2.9", " 5 ", "-1", "+.5". Nothing else (no exponent, hex or "inf").
std::optional<double> ParseDecimal(std::string_view text);

// A case mode: 3 or 2 when the value is that number, 1 for anything else
// (null, empty, other numbers, text that is no number). Never fails.
int CaseModeOf(const Variant& v);

// A Boolean flag: Booleans, numbers (non-zero is true), "True"/"False" or numeric
// text. Throws Error 94 for null, 13 for anything else.
bool ToBoolean(const Variant& v);

// The text of an optional argument where null counts as the empty text.
std::string TextOrEmpty(const Variant& v);

}  // namespace vantoro::internal

#endif  // VANTORO_COMPONENT_CONVERSIONS_H_
