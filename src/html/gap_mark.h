// The mark of an opened whitespace gap inside a tag: the two bytes NUL SOH. The
// page pass writes gaps in band while it rewrites, and the scanners read a gap
// after a tag name as the end of the name.
#ifndef VANTORO_HTML_GAP_MARK_H_
#define VANTORO_HTML_GAP_MARK_H_

#include <cstddef>
#include <string_view>

namespace vantoro::internal {

inline constexpr std::string_view kGap{"\0\1", 2};

inline bool IsGapAt(std::string_view text, std::size_t pos) {
  return pos + 1 < text.size() && text[pos] == '\0' && text[pos + 1] == '\1';
}

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_GAP_MARK_H_
