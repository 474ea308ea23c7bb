// Range specs: "5", 2.9, "0-16", "16-0", "1-2-3" (pieces after the second are ignored).
#include <cmath>
#include <limits>
#include <string>

#include "component/conversions.h"
#include "random/primitives.h"
#include "vantoro/error.h"
#include "vantoro/random.h"

namespace vantoro::internal {
namespace {

// Larger counts would only exhaust memory; the passes use at most 16.
constexpr double kMaxCount = std::numeric_limits<std::int32_t>::max();

std::int64_t CountFromValue(double value) {
  double count = std::floor(value);
  if (count > kMaxCount) throw Error(kInvalidArgument, "Range spec count too large");
  return count < 0 ? -1 : static_cast<std::int64_t>(count);
}

double PieceValue(std::string_view piece) {
  if (auto value = ParseDecimal(piece)) return *value;
  throw Error(kTypeMismatch);
}

}  // namespace

std::int64_t DrawIndex(std::int64_t n) {
  double r = FreshDraw();
  auto index = static_cast<std::int64_t>(std::floor(static_cast<double>(n) * r));
  return index < n ? index : n - 1;  // guards a scripted value that rounds up
}

RangeSpec ParseRangeSpec(const Variant& spec) {
  RangeSpec result;
  if (!spec.is_string()) {
    // Numbers (and Booleans) give their value; empty gives 0.
    result.lo = result.hi = CountFromValue(ToNumber(spec));
    return result;
  }
  std::string_view text = spec.as_string();
  std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    result.lo = result.hi = CountFromValue(PieceValue(text));
    return result;
  }
  std::string_view rest = text.substr(dash + 1);
  std::string_view second = rest.substr(0, rest.find('-'));
  result.lo = CountFromValue(PieceValue(text.substr(0, dash)));
  result.hi = CountFromValue(PieceValue(second));
  if (result.hi < result.lo) std::swap(result.lo, result.hi);
  result.ranged = true;
  return result;
}

std::int64_t DrawCount(const RangeSpec& spec) {
  if (!spec.ranged) return spec.lo;
  return spec.lo + DrawIndex(spec.hi - spec.lo + 1);
}

}  // namespace vantoro::internal
