#include "html/head_start.h"

#include <optional>

#include "html/protected_regions.h"
#include "text/ascii.h"

namespace vantoro::internal {

namespace {

// Where the head starts in `text`, a prefix of the page, when the prefix
// decides it: the first <head> tag read whole, or, where the page holds no
// "<head" at all, its first start tag; `first` receives the first start tag.
// Nothing when the prefix may end before the answer.
std::optional<std::size_t> HeadStartIn(std::string_view text, bool whole, bool head_possible,
                                       std::size_t& first) {
  MarkupIndex index;
  ScanMarkup(text, RegionSet::kPage, /*gaps=*/false, index);
  first = text.size();
  auto in_tag = index.in_tag.begin();
  for (std::size_t lt : index.unprotected) {
    if (in_tag != index.in_tag.end() && *in_tag == lt) {
      ++in_tag;  // a "<" inside another tag is that tag's text
      continue;
    }
    const std::size_t name = lt + 1;
    const char c = name < text.size() ? AsciiLower(text[name]) : '\0';
    if (c < 'a' || c > 'z') continue;  // an end tag, a declaration, a "<" in text
    if (first == text.size()) first = lt;
    std::size_t name_end = name;
    while (name_end < text.size() && !EndsTagName(text[name_end])) ++name_end;
    if (name_end == text.size() && !whole) return std::nullopt;  // the name may go on
    if (!head_possible) return first;
    if (!EqualsIgnoringCase(text.substr(name, name_end - name), "head")) continue;
    // Behind its ">", the first one outside quoted values.
    TagReader reader(text, TagReader::AfterName{name_end}, /*gaps=*/false);
    for (std::size_t gt = FindByte(text, '>', name_end); gt != std::string_view::npos;
         gt = FindByte(text, '>', gt + 1)) {
      if (!reader.Quoted(gt)) return gt + 1;
    }
    if (!whole) return std::nullopt;
    return first;  // a <head without its ">": the text's end is inside the tag
  }
  if (!whole) return std::nullopt;  // a later <head> would come first
  return first;
}

}  // namespace

std::size_t HeadStart(std::string_view page) {
  // A prefix reads as the whole page does up to where it is cut, and the head
  // is near the start: a few kilobytes are read, not the page. Only "<head"
  // starts a <head> tag: an article without one is decided by its first tag.
  const bool head_possible = FindIgnoringCase(page, "<head", 0) != std::string_view::npos;
  for (std::size_t size = 8192;; size *= 8) {
    const bool whole = size >= page.size();
    std::size_t first = 0;
    if (std::optional<std::size_t> at =
            HeadStartIn(page.substr(0, size), whole, head_possible, first)) {
      return *at;
    }
  }
}

}  // namespace vantoro::internal
