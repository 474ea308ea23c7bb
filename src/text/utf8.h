// Code point boundaries in UTF-8 text. A byte that does not start a valid sequence
// counts as one character of its own, so invalid input passes through unchanged.
#ifndef VANTORO_TEXT_UTF8_H_
#define VANTORO_TEXT_UTF8_H_

#include <cstddef>
#include <string_view>
#include <vector>

namespace vantoro::internal {

// The character that starts at text[i] (i < size): its length in bytes (1 to 4)
// and code point. A byte that starts no valid sequence has length 1 and code
// point -1. With `surrogates`, the three-byte forms of U+D800..U+DFFF count as
// characters too (they carry lone UTF-16 surrogates through UTF-8).
struct DecodedChar {
  std::size_t length;
  long code_point;
};
DecodedChar DecodeCharAt(std::string_view text, std::size_t i, bool surrogates = false);

// Length in bytes of the character that starts at text[i] (1 to 4; i < size).
inline std::size_t CharLengthAt(std::string_view text, std::size_t i) {
  return DecodeCharAt(text, i).length;
}

// The characters of `text`, each as the bytes that encode it.
std::vector<std::string_view> SplitChars(std::string_view text);

bool IsAscii(std::string_view text);

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_UTF8_H_
