// ASCII-only case mapping and matching: every name and marker the library matches
// is ASCII, and other bytes pass through untouched.
#ifndef VANTORO_TEXT_ASCII_H_
#define VANTORO_TEXT_ASCII_H_

#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

namespace vantoro::internal {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
inline bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether text[pos...] begins with `needle`, ignoring ASCII case.
inline bool MatchesAt(std::string_view text, std::size_t pos, std::string_view needle) {
  if (pos > text.size() || text.size() - pos < needle.size()) return false;
  for (std::size_t i = 0; i < needle.size(); ++i) {
    if (AsciiLower(text[pos + i]) != AsciiLower(needle[i])) return false;
  }
  return true;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && MatchesAt(a, 0, b);
}

// First position >= from where `needle` starts, ignoring ASCII case, or npos.
// The needle's first byte must not be a letter (markers start with "<" or "-").
inline std::size_t FindIgnoringCase(std::string_view text, std::string_view needle,
                                    std::size_t from) {
  while (from < text.size()) {
    const void* hit = std::memchr(text.data() + from, needle[0], text.size() - from);
    if (hit == nullptr) break;
    std::size_t pos = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    if (MatchesAt(text, pos, needle)) return pos;
    from = pos + 1;
  }
  return std::string_view::npos;
}

// Position of byte `c` at or after `from`, or npos.
inline std::size_t FindByte(std::string_view text, char c, std::size_t from) {
  if (from >= text.size()) return std::string_view::npos;
  const void* hit = std::memchr(text.data() + from, c, text.size() - from);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

// The pieces of `text` between separators (one piece for a text without one).
inline std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(separator, start);
    pieces.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return pieces;
    start = end + 1;
  }
}

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_ASCII_H_
