// Visits the positions of one byte value from left to right, 64 bytes at a time:
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
      if (from - block_ >= kBlock) {  // outside the block (unsigned: also below it)
        if (from >= text_.size()) return std::string_view::npos;
        Load(from & ~(kBlock - 1));
      }
      const std::uint64_t bits = mask_ >> (from - block_);
      if (bits != 0) return from + static_cast<std::size_t>(__builtin_ctzll(bits));
      from = block_ + kBlock;
    }
  }

 private:
  // Text between tags runs a few dozen bytes: most searches end in their first
  // or second block.
  static constexpr std::size_t kBlock = 64;

  void Load(std::size_t block) {
    block_ = block;
    const std::size_t n = text_.size() - block;
    const char* p = text_.data() + block;
#if defined(__SSE2__)
    if (n >= kBlock) {
      const __m128i byte = _mm_set1_epi8(byte_);
      auto bits = [&](std::size_t at) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        return static_cast<std::uint64_t>(
                   static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, byte))))
               << at;
      };
      mask_ = bits(0) | bits(16) | bits(32) | bits(48);
      return;
    }
#endif
    mask_ = 0;
    for (std::size_t i = 0; i < kBlock && i < n; ++i) {
      if (p[i] == byte_) mask_ |= std::uint64_t{1} << i;
    }
  }

  std::string_view text_;
  char byte_;
  std::size_t block_ = static_cast<std::size_t>(-kBlock);
  std::uint64_t mask_ = 0;  // of the block; nothing past the text's end
};

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_BYTE_SCANNER_H_
