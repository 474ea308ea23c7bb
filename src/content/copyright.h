// The site's copyright texts, read once when they are set: entries separated by
// ",", each entry's parts by ":".
#ifndef VANTORO_CONTENT_COPYRIGHT_H_
#define VANTORO_CONTENT_COPYRIGHT_H_

#include <string>
#include <string_view>
#include <vector>

namespace vantoro::internal {

// One entry: a single part is the notice as written; several parts each get a
// random separator in front.
using CopyrightEntry = std::vector<std::string>;

// No entries for the empty text; otherwise one per "," plus one.
std::vector<CopyrightEntry> ParseCopyright(std::string_view text);

}  // namespace vantoro::internal

#endif  // VANTORO_CONTENT_COPYRIGHT_H_
