// Protected regions: text that neither pass may touch. HTML comments and the text
// of the raw-text elements (script, style, textarea, title, xmp) for both passes;
// for the content pass also whole svg and math elements, whose "</path" and
// "</polygon" would otherwise read as paragraph ends.
//
// Regions are found from left to right; scanning resumes after a region, so no
// region starts inside another. Covered by tests/regions_test.cpp.
#ifndef VANTORO_HTML_PROTECTED_REGIONS_H_
#define VANTORO_HTML_PROTECTED_REGIONS_H_

#include <cstddef>
#include <string_view>

#include "text/byte_scanner.h"

namespace vantoro::internal {

enum class RegionSet {
  kPage,     // comments and raw text
  kContent,  // comments, raw text, svg and math
};

// Walks the "<" characters of a text that lie outside every protected region, in
// order. The start and end tags of raw-text elements are outside their region.
// Linear in the text: every byte is looked at a bounded number of times.
class UnprotectedTags {
 public:
  UnprotectedTags(std::string_view text, RegionSet set)
      : text_(text), set_(set), less_than_(text, '<') {}

  // The next such "<", or npos when there is none.
  std::size_t Next();

 private:
  std::size_t SkipComment(std::size_t lt) const;
  std::size_t SkipForeignElement(std::size_t lt, std::string_view name) const;

  std::string_view text_;
  RegionSet set_;
  ByteScanner less_than_;
  std::size_t pos_ = 0;
  // A raw-text region found at its start tag; it begins behind that tag's ">", so
  // a "<" inside the start tag itself is still outside.
  std::size_t raw_begin_ = std::string_view::npos;
  std::size_t raw_end_ = 0;
};

// Whether `pos` lies inside the start tag of a raw-text element (between its "<"
// and its first ">"), where inserting a ">" would move the start of its region.
bool InsideRawTextStartTag(std::string_view text, std::size_t pos);

// Whether the byte ends a tag name: TAB, LF, FF, CR, space, "/" or ">".
inline bool EndsTagName(char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ' || c == '/' || c == '>';
}

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_PROTECTED_REGIONS_H_
