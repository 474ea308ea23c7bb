#include "random/utf8.h"

namespace vantoro::internal {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::size_t CharLengthAt(std::string_view text, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  std::size_t length;
  unsigned char min2 = 0x80, max2 = 0xBF;  // allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) min2 = 0xA0;  // overlong
    if (lead == 0xED) max2 = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) min2 = 0x90;  // overlong
    if (lead == 0xF4) max2 = 0x8F;  // above U+10FFFF
  } else {
    return 1;
  }
  if (i + length > text.size()) return 1;
  if (byte(i + 1) < min2 || byte(i + 1) > max2) return 1;
  for (std::size_t k = 2; k < length; ++k) {
    if (!IsContinuation(byte(i + k))) return 1;
  }
  return length;
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
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace vantoro::internal
