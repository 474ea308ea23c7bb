// Visits the positions of one byte value from left to right, 16 bytes at a time:
// pages hold a "<" every few dozen bytes, where a memchr call per hit costs more
// than the search itself.
#ifndef VANTORO_TEXT_BYTE_SCANNER_H_
#define VANTORO_TEXT_BYTE_SCANNER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantoro::internal {

class ByteScanner {
 public:
  ByteScanner(std::string_view text, char byte) : text_(text), byte_(byte) {}

  // The next position at or after `from` holding the byte, or npos. Calls must
  // not go backwards except by restarting with a smaller `from`.
  std::size_t Next(std::size_t from) {
    for (;;) {
      if (from >= block_ + 16 || from < block_) Load(from & ~std::size_t{15});
      if (block_ >= text_.size()) return std::string_view::npos;
      std::uint32_t bits = mask_ & (0xFFFFFFFFu << (from - block_));
      if (bits != 0) return block_ + static_cast<std::size_t>(__builtin_ctz(bits));
      from = block_ + 16;
    }
  }

 private:
  void Load(std::size_t block) {
    block_ = block;
    if (block >= text_.size()) return;
    std::size_t n = text_.size() - block;
    const char* p = text_.data() + block;
#if defined(__SSE2__)
    if (n >= 16) {
      __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      mask_ = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(byte_))));
      return;
    }
#endif
    mask_ = 0;
    for (std::size_t i = 0; i < 16 && i < n; ++i) {
      if (p[i] == byte_) mask_ |= 1u << i;
    }
  }

  std::string_view text_;
  char byte_;
  std::size_t block_ = static_cast<std::size_t>(-16) & ~std::size_t{15};
  std::uint32_t mask_ = 0;
};

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_BYTE_SCANNER_H_
