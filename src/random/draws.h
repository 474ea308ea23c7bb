// Random text: characters of a set, letter case, HTML comments. Every draw is a
// fresh draw from the current thread's random source (vantoro/random.h).
#ifndef VANTORO_RANDOM_DRAWS_H_
#define VANTORO_RANDOM_DRAWS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "random/range.h"

namespace vantoro::internal {

// The 52 ASCII letters, lower case first.
inline constexpr std::string_view kLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

enum class CaseMode {
  kLower = 1,
  kUpper = 2,
  kRandom = 3,  // one draw per character, also for characters without case
};

// `count` fresh draws, the same values in the same order as `count` calls of
// FreshDraw, with one look-up of the thread's source.
void FreshDraws(double* values, std::size_t count);

// `count` characters of `charset` (a non-empty UTF-8 text), one draw each; the
// empty text for a count below 1.
std::string RandomChars(std::int64_t count, std::string_view charset);
// The same, appended to `out`.
void AppendRandomChars(std::string& out, std::int64_t count, std::string_view charset);

// One character of `charset`, which must be ASCII and not empty: one draw.
char RandomChar(std::string_view charset);

// RandomChars with the count drawn from `range` first.
std::string RandomChars(const Range& range, std::string_view charset);

// The same, appended to `out`.
void AppendRandomChars(std::string& out, const Range& range, std::string_view charset);

// Re-cases the ASCII letters of `text`.
std::string Recase(std::string_view text, CaseMode mode);
// The same, appended to `out`.
void AppendRecased(std::string& out, std::string_view text, CaseMode mode);

// A random comment "<!--" + one of "gjrwxyz" + random letters and digits (as many
// as `range` gives) + "-->". A range whose top exceeds 2 first draws whether to
// drop the comment: it is dropped when floor(top * r) is 0.
std::string RandomNote(const Range& range);

}  // namespace vantoro::internal

#endif  // VANTORO_RANDOM_DRAWS_H_
