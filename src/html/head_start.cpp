#include "html/head_start.h"

#include "html/protected_regions.h"
#include "text/ascii.h"

namespace vantoro::internal {

std::size_t HeadStart(std::string_view page) {
  MarkupIndex index;
  ScanMarkup(page, RegionSet::kPage, /*gaps=*/false, index);
  std::size_t first = page.size();
  auto in_tag = index.in_tag.begin();
  for (std::size_t lt : index.unprotected) {
    if (in_tag != index.in_tag.end() && *in_tag == lt) {
      ++in_tag;  // a "<" inside another tag is that tag's text
      continue;
    }
    const std::size_t name = lt + 1;
    const char c = name < page.size() ? AsciiLower(page[name]) : '\0';
    if (c < 'a' || c > 'z') continue;  // an end tag, a declaration, a "<" in text
    if (first == page.size()) first = lt;
    std::size_t name_end = name;
    while (name_end < page.size() && !EndsTagName(page[name_end])) ++name_end;
    if (!EqualsIgnoringCase(page.substr(name, name_end - name), "head")) continue;
    // Behind its ">", the first one outside quoted values.
    TagReader reader(page, TagReader::AfterName{name_end}, /*gaps=*/false);
    for (std::size_t gt = FindByte(page, '>', name_end); gt != std::string_view::npos;
         gt = FindByte(page, '>', gt + 1)) {
      if (!reader.Quoted(gt)) return gt + 1;
    }
    return first;  // a <head without its ">": the text's end is inside the tag
  }
  return first;
}

}  // namespace vantoro::internal
