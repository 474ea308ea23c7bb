// Opened gaps travel in band while one tag rule rewrites a page: a gap is the two
// bytes NUL SOH, and a NUL of the page is doubled, so page text can never pass for
// a gap. To every match a gap is one character that is not ">", LF, a space or a
// letter. The fill turns each run of adjacent gaps into one whitespace gap and
// undoes the doubling. Covered by tests/rnd_tag_test.cpp.
#ifndef VANTORO_PAGE_GAP_TEXT_H_
#define VANTORO_PAGE_GAP_TEXT_H_

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "html/gap_mark.h"

namespace vantoro::internal {

inline bool HasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

// The text with every NUL doubled.
std::string EscapeNul(std::string_view text);

// Undoes EscapeNul and replaces each run of adjacent gaps by " " + fill() + " ",
// calling fill once per run, from left to right. `anchors` (lists of sorted
// positions of bytes that are neither NUL nor SOH) move with the text.
// `scratch` is working space whose capacity is reused.
void FillGaps(std::string& text, std::string& scratch,
              std::initializer_list<std::vector<std::size_t>*> anchors,
              const std::function<std::string()>& fill);

}  // namespace vantoro::internal

#endif  // VANTORO_PAGE_GAP_TEXT_H_
