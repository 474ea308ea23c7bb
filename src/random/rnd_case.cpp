// RndCase: letter-case modes (3 random per character, 2 upper, else lower).
#include "component/ascii.h"
#include "component/conversions.h"
#include "random/primitives.h"
#include "random/utf8.h"
#include "vantoro/marquel.h"
#include "vantoro/random.h"

namespace vantoro {
namespace internal {
std::string Recase(std::string_view text, int mode) {
  std::string result(text);
  if (mode == 3) {
    // One draw per character, also for characters without case.
    for (std::size_t i = 0; i < result.size();) {
      std::size_t length = CharLengthAt(result, i);
      bool upper = DrawIndex(2) == 1;
      if (length == 1) result[i] = upper ? AsciiUpper(result[i]) : AsciiLower(result[i]);
      i += length;
    }
  } else {
    for (char& c : result) c = mode == 2 ? AsciiUpper(c) : AsciiLower(c);
  }
  return result;
}

}  // namespace internal

Variant Marquel::RndCase(const Variant& text, const Variant& mode) const {
  if (text.is_null()) return std::string();
  return internal::Recase(ToText(text), internal::CaseModeOf(mode));
}

}  // namespace vantoro
