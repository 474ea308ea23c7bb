#include "random/range.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "text/decimal.h"
#include "vantoro/error.h"
#include "vantoro/random.h"

namespace vantoro::internal {
namespace {

// Larger counts would only exhaust memory; the passes use at most 16.
constexpr double kMaxCount = std::numeric_limits<std::int32_t>::max();

std::int64_t CountFromValue(double value) {
  double count = std::floor(value);
  if (count > kMaxCount) throw Error(ErrorCode::kOutOfRange, "Range spec count too large");
  return count < 0 ? -1 : static_cast<std::int64_t>(count);
}

double PieceValue(std::string_view piece) {
  if (auto value = ParseDecimal(piece)) return *value;
  throw Error(ErrorCode::kNotANumber, "not a decimal number: '" + std::string(piece) + "'");
}

}  // namespace

Range RangeFromNumber(double value) {
  std::int64_t count = CountFromValue(value);
  return {count, count, false};
}

Range ParseRange(std::string_view text) {
  std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return RangeFromNumber(PieceValue(text));
  std::string_view rest = text.substr(dash + 1);
  Range range{CountFromValue(PieceValue(text.substr(0, dash))),
              CountFromValue(PieceValue(rest.substr(0, rest.find('-')))), true};
  if (range.hi < range.lo) std::swap(range.lo, range.hi);
  return range;
}

std::int64_t DrawIndex(std::int64_t n) {
  double x = static_cast<double>(n) * FreshDraw();
  // Truncation is the floor for what a count gives (x >= 0), without a call.
  auto index = static_cast<std::int64_t>(x >= 0 ? x : std::floor(x));
  return index < n ? index : n - 1;  // guards a scripted value that rounds up
}

std::int64_t DrawCount(const Range& range) {
  if (!range.ranged) return range.lo;
  return range.lo + DrawIndex(range.hi - range.lo + 1);
}

}  // namespace vantoro::internal
