// HTML's whitespace, which the Encoding Standard shares: tab, line feed, form
// feed, carriage return and space (not the vertical tab, nothing beyond ASCII).
#ifndef VANTORO_TEXT_WHITESPACE_H_
#define VANTORO_TEXT_WHITESPACE_H_

#include <cstddef>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantoro::internal {

constexpr bool IsHtmlSpace(char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

#if defined(__SSE2__)
// The whitespace among 16 bytes: 0xFF where a byte is one.
inline __m128i HtmlSpaces16(__m128i c) {
  auto eq = [&](char b) { return _mm_cmpeq_epi8(c, _mm_set1_epi8(b)); };
  return _mm_or_si128(_mm_or_si128(eq(' '), eq('\n')),
                      _mm_or_si128(_mm_or_si128(eq('\t'), eq('\r')), eq('\f')));
}
#endif

// Whether every byte of `text` is whitespace (true for the empty text). Indented
// pages hold most of their bytes between tags, and the tree builder asks about
// such runs whole: 16 bytes a step.
inline bool AllHtmlSpace(std::string_view text) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    if (_mm_movemask_epi8(HtmlSpaces16(c)) != 0xFFFF) return false;
  }
#endif
  for (; i < text.size(); ++i) {
    if (!IsHtmlSpace(text[i])) return false;
  }
  return true;
}

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_WHITESPACE_H_
