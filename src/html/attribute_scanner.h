// Finds the matches of the attribute pattern
//
//   (<NAME)(([^>]*) (ATTR=)(.[^>]*))(>)     ASCII case ignored, "." = any but LF
//
// without a regular-expression engine: group 3 is greedy, so a match ends in front
// of the last " ATTR=" before the tag's first ">"; group 5 opens with any byte but
// LF, which may be that ">" itself (then the match runs on to the next ">").
// Matches do not overlap and are taken from left to right. A match starts only at
// a given candidate "<NAME" whose next character ends the name (or is a gap), and
// its " ATTR=" never stands inside a quoted attribute value (an earlier one
// outside is taken, or none). The ">" that ends a match is the first ">" byte,
// even inside a quoted value: a match changes nothing but the name, the space
// and ATTR, all outside values, so what lies between stays as it was.
//
// Linear in the text, no recursion: when a candidate fails, every candidate before
// the same ">" fails too and is skipped; after a match, scanning resumes behind it.
// Checked against std::regex in tests/attribute_scanner_test.cpp.
#ifndef VANTORO_HTML_ATTRIBUTE_SCANNER_H_
#define VANTORO_HTML_ATTRIBUTE_SCANNER_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "html/protected_regions.h"

namespace vantoro::internal {

struct AttributeMatch {
  std::size_t start;  // the "<"
  std::size_t space;  // the space in front of the attribute name
  std::size_t end;    // the closing ">"
};

// `candidates`: sorted positions of "<" + a name of `name_length` bytes.
// `gaps`: the text is the page pass's working text (see ScanMarkup). `markup`:
// the scan of `text`, which tells the candidates inside other tags apart; none
// reads every candidate as a tag of its own.
std::vector<AttributeMatch> FindAttributeMatches(std::string_view text,
                                                 const std::vector<std::size_t>& candidates,
                                                 std::size_t name_length,
                                                 std::string_view attribute, bool gaps,
                                                 const MarkupIndex* markup);

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_ATTRIBUTE_SCANNER_H_
