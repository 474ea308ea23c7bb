// Plain decimal numbers, the only numeric text the library reads.
#ifndef VANTORO_TEXT_DECIMAL_H_
#define VANTORO_TEXT_DECIMAL_H_

#include <optional>
#include <string_view>

namespace vantoro::internal {

// A plain decimal number with optional surrounding spaces and tabs and an optional
// sign: "2.9", " 5 ", "-1", "+.5". Nothing else (no exponent, hex or "inf").
std::optional<double> ParseDecimal(std::string_view text);

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_DECIMAL_H_
