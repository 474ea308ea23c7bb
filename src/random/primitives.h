// The random text primitives as plain functions. The private operations of
// Marquel (RndChars, RndCase, RndNote) are thin wrappers over these, and the
// passes call them directly to avoid building variants in their inner loops.
#ifndef VANTORO_RANDOM_PRIMITIVES_H_
#define VANTORO_RANDOM_PRIMITIVES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "vantoro/variant.h"

namespace vantoro::internal {

// The 52 ASCII letters, lower case first.
inline constexpr std::string_view kDefaultCharset =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// floor(n * r) for a fresh draw r: an integer from 0 to n - 1.
std::int64_t DrawIndex(std::int64_t n);

// A range spec read but not yet drawn: a fixed count, or lo..hi to draw from.
struct RangeSpec {
  std::int64_t lo = 0;
  std::int64_t hi = 0;
  bool ranged = false;  // written with "-": the count is drawn
};

// Reads a non-null range spec. Throws Error 13 for text that is no number
// (either piece of a "-" spec), Error 5 for a count too large to produce.
RangeSpec ParseRangeSpec(const Variant& spec);

// The count of a spec: fixed, or from one fresh draw when ranged.
std::int64_t DrawCount(const RangeSpec& spec);

// `count` characters of `charset` (a non-empty UTF-8 text), one fresh draw each.
std::string RandomChars(std::int64_t count, std::string_view charset);

// RandomChars with the count taken from a non-null spec.
std::string RandomChars(const Variant& spec, std::string_view charset);

// Re-cases `text`: mode 3 one fresh draw per character (lower or upper case),
// mode 2 all upper case, any other mode all lower case. ASCII letters only.
std::string Recase(std::string_view text, int mode);

// A random comment "<!--" + one of "gjrwxyz" + random letters and digits + "-->",
// or the empty text when the drop test says so (see Marquel::RndNote).
std::string RandomNote(const Variant& range);

}  // namespace vantoro::internal

#endif  // VANTORO_RANDOM_PRIMITIVES_H_
