// RndChars: random text of a drawn length over a character set.
#include <vector>

#include "random/primitives.h"
#include "random/utf8.h"
#include "vantoro/error.h"
#include "vantoro/marquel.h"

namespace vantoro {
namespace internal {

std::string RandomChars(std::int64_t count, std::string_view charset) {
  std::string result;
  if (count < 1) return result;
  if (IsAscii(charset)) {
    result.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
      result += charset[static_cast<std::size_t>(DrawIndex(static_cast<std::int64_t>(charset.size())))];
    }
    return result;
  }
  std::vector<std::string_view> chars = SplitChars(charset);
  for (std::int64_t i = 0; i < count; ++i) {
    result += chars[static_cast<std::size_t>(DrawIndex(static_cast<std::int64_t>(chars.size())))];
  }
  return result;
}

std::string RandomChars(const Variant& spec, std::string_view charset) {
  return RandomChars(DrawCount(ParseRangeSpec(spec)), charset);
}

}  // namespace internal

Variant Marquel::RndChars(const Variant& spec, Variant& charset) const {
  if (spec.is_null()) return std::string();
  // Read the range first: a bad one fails before the caller's variable is touched.
  internal::RangeSpec range = internal::ParseRangeSpec(spec);
  if (charset.is_empty() || (charset.is_string() && charset.as_string().empty())) {
    charset = std::string(internal::kDefaultCharset);
  }
  std::int64_t count = internal::DrawCount(range);
  if (count < 1) return std::string();
  if (charset.is_null()) throw Error(kInvalidUseOfNull);
  return internal::RandomChars(count, ToText(charset));
}

}  // namespace vantoro
