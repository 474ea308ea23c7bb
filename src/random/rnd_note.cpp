// RndNote: one random HTML comment, or by chance none.
#include <algorithm>
#include <cmath>

#include "component/conversions.h"
#include "random/primitives.h"
#include "vantoro/error.h"
#include "vantoro/marquel.h"
#include "vantoro/random.h"

namespace vantoro {
namespace internal {
namespace {

constexpr std::string_view kFirstLetters = "gjrwxyz";
constexpr std::string_view kBodyChars =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Only ranges whose upper bound exceeds this can drop the comment.
constexpr double kDropThreshold = 2;

double PieceValue(std::string_view piece) {
  if (auto value = ParseDecimal(piece)) return *value;
  throw Error(kTypeMismatch);
}

}  // namespace

std::string RandomNote(const Variant& range) {
  if (range.is_null()) throw Error(kInvalidUseOfNull);
  if (range.is_empty()) return {};
  double bound;
  if (range.is_string() && range.as_string().find('-') != std::string::npos) {
    std::string_view text = range.as_string();
    std::size_t dash = text.find('-');
    std::string_view rest = text.substr(dash + 1);
    // A range of two numbers never counts as zero, whatever its numbers.
    bound = std::floor(std::max(PieceValue(text.substr(0, dash)),
                                PieceValue(rest.substr(0, rest.find('-')))));
  } else {
    double value = range.is_string() ? PieceValue(range.as_string()) : ToNumber(range);
    if (value == 0) return {};  // the number 0, or a text that reads as 0
    bound = std::floor(value);
  }
  if (bound > kDropThreshold) {
    double r = FreshDraw();
    if (std::floor(bound * r) == 0) return {};
  }
  std::string note = "<!--";
  note += RandomChars(1, kFirstLetters);
  note += RandomChars(range, kBodyChars);
  note += "-->";
  return note;
}

}  // namespace internal

Variant Marquel::RndNote(const Variant& range) const { return internal::RandomNote(range); }

}  // namespace vantoro
