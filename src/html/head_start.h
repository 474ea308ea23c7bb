// Where text that belongs in a page's head can go: the stylesheet link of the
// decoys hidden by class.
#ifndef VANTORO_HTML_HEAD_START_H_
#define VANTORO_HTML_HEAD_START_H_

#include <cstddef>
#include <string_view>

namespace vantoro::internal {

// Right behind the first <head> start tag (any case, with or without
// attributes); without one, in front of the first start tag; in a text with no
// start tag, its end. Tags are read as the page pass reads them: nothing inside
// comments, bogus comments, declarations, raw text or attribute values counts.
std::size_t HeadStart(std::string_view page);

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_HEAD_START_H_
