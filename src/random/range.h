// Counts of random things: a fixed count, or a range lo..hi (both included) to
// draw a count from. Read once from text such as "5", "0-16" or "16-0".
#ifndef VANTORO_RANDOM_RANGE_H_
#define VANTORO_RANDOM_RANGE_H_

#include <cstdint>
#include <string_view>

namespace vantoro::internal {

struct Range {
  std::int64_t lo = 0;  // -1 stands for every negative count
  std::int64_t hi = 0;  // lo <= hi
  bool ranged = false;  // written with "-": the count is drawn
};

// The ranges of both passes.
inline constexpr Range kZeroToSixteen{0, 16, true};
inline constexpr Range kZeroOrOne{0, 1, true};

// A fixed count: the value rounded down. Throws Error kOutOfRange for a count
// too large to produce (above 2^31 - 1).
Range RangeFromNumber(double value);

// "N" is a fixed count; "A-B" a range whose bounds may come in either order;
// pieces after a second "-" are ignored. Throws Error kNotANumber when a piece is
// no decimal number ("-5" has an empty first piece), kOutOfRange as above.
Range ParseRange(std::string_view text);

// floor(n * r) for a fresh draw r: an integer from 0 to n - 1.
std::int64_t DrawIndex(std::int64_t n);

// The count: fixed, or from one fresh draw when ranged.
std::int64_t DrawCount(const Range& range);

}  // namespace vantoro::internal

#endif  // VANTORO_RANDOM_RANGE_H_
