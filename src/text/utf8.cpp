#include "text/utf8.h"

#include <cstdint>
#include <cstring>

namespace vantoro::internal {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

DecodedChar DecodeCharAt(std::string_view text, std::size_t i, bool surrogates) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const DecodedChar invalid{1, -1};
  unsigned char lead = byte(i);
  if (lead < 0x80) return {1, lead};
  std::size_t length;
  long value;
  unsigned char min2 = 0x80, max2 = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) min2 = 0xA0;                 // overlong
    if (lead == 0xED && !surrogates) max2 = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) min2 = 0x90;  // overlong
    if (lead == 0xF4) max2 = 0x8F;  // above U+10FFFF
  } else {
    return invalid;
  }
  if (i + length > text.size()) return invalid;
  if (byte(i + 1) < min2 || byte(i + 1) > max2) return invalid;
  for (std::size_t k = 1; k < length; ++k) {
    if (!IsContinuation(byte(i + k))) return invalid;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  return {length, value};
}

std::vector<std::string_view> SplitChars(std::string_view text) {
  std::vector<std::string_view> chars;
  chars.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = CharLengthAt(text, i);
    chars.push_back(text.substr(i, n));
    i += n;
  }
  return chars;
}

bool IsAscii(std::string_view text) {
  // Eight bytes at a time: the random draws ask it of their character set on
  // every call.
  std::size_t i = 0;
  std::uint64_t high = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    high |= word;
  }
  for (; i < text.size(); ++i) high |= static_cast<unsigned char>(text[i]);
  return (high & 0x8080808080808080ull) == 0;
}

}  // namespace vantoro::internal
