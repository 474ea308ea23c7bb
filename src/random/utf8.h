// Code point boundaries in UTF-8 text. A byte that does not start a valid sequence
// counts as one character of its own, so invalid input passes through unchanged.
#ifndef VANTORO_RANDOM_UTF8_H_
#define VANTORO_RANDOM_UTF8_H_

#include <cstddef>
#include <string_view>
#include <vector>

namespace vantoro::internal {

// Length in bytes of the character that starts at text[i] (1 to 4; i < size).
std::size_t CharLengthAt(std::string_view text, std::size_t i);

// The characters of `text`, each as the bytes that encode it.
std::vector<std::string_view> SplitChars(std::string_view text);

bool IsAscii(std::string_view text);

}  // namespace vantoro::internal

#endif  // VANTORO_RANDOM_UTF8_H_
