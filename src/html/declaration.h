// The document type declaration goes back to the very start of the page, when it
// is the one a browser uses.
#ifndef VANTORO_HTML_DECLARATION_H_
#define VANTORO_HTML_DECLARATION_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "html/protected_regions.h"

namespace vantoro::internal {

// Joins `prefix`, `head` and `text` into the page.
//
// A declaration is "<!DOCTYPE " (any case), one character other than LF, and
// everything up to the first ">" (which may be that character), as a browser
// reads it; its line break is an optional CR and all LFs that follow at once. A
// browser uses the first declaration outside protected regions only when
// nothing but whitespace and comments stands before it (and an XML declaration
// at the start). Then that one, with its line break, goes between `prefix` and
// `head`, followed by CR LF, and every later declaration outside protected
// regions is removed, its line break left where it was (it may be text).
// Otherwise the text stays as it is behind `head`: moving a declaration that
// the browser ignores would switch the page out of quirks mode.
//
// An XML declaration ("<?xml", whitespace, ..., "?>") at the very start of `text`
// stays first, right behind `prefix`, followed by CR LF instead of its own line
// break: an XHTML page stays well-formed.
//
// Only a declaration between tags counts; one inside a tag, a comment or raw
// text is their text. A later declaration stays where it is when taking it out
// would change more than the declaration: when "<", "</", "<!" or "<?" stands
// right before it, or a character reference in progress.
//
// `head` must hold no declaration and leave no region open. `markup`, when
// given, is the scan of `text` (as the page pass already has it); otherwise
// `text` is scanned. Covered by tests/rndstr_test.cpp.
std::string JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                                     std::string_view text, const MarkupIndex* markup = nullptr);
// The same, written into `out` (cleared first; its capacity is reused).
void JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                              std::string_view text, const MarkupIndex& markup, std::string& out);

// Whether the "<" at `lt`, between tags, may open a declaration: "<!DOCTYPE "
// in any case follows.
bool OpensDeclaration(std::string_view text, std::size_t lt);
// The "<" that may open a declaration: unprotected, between tags, and followed by
// "<!DOCTYPE " (any case). Written into `probes` (cleared first).
void DeclarationProbes(std::string_view text, const MarkupIndex& markup,
                       std::vector<std::size_t>& probes);
// The join, given the probes of `text` rather than its scan.
void JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                              std::string_view text, const std::vector<std::size_t>& probes,
                              std::string& out);
// The join in place: `buffer` holds the text from `offset` on, and the page is
// written over it from the start. False, with `buffer` unchanged, when less room
// than the prefix, the head and the declarations that go first stands in front.
bool JoinWithDeclarationFirstInPlace(std::string_view prefix, std::string_view head,
                                     std::string& buffer, std::size_t offset,
                                     const std::vector<std::size_t>& probes);
// The join taken apart, for a caller that writes the text's rest itself: the
// page is `front`, then the `kept` ranges of the text, in order, which together
// run from `rest` to the text's end but leave out the declarations removed.
struct JoinLayout {
  std::string front;
  std::size_t rest = 0;
  std::vector<std::pair<std::size_t, std::size_t>> kept;
};
JoinLayout LayOutJoin(std::string_view prefix, std::string_view head, std::string_view text,
                      const std::vector<std::size_t>& probes);
// The room in front that the declarations going first take in the join, line
// breaks included.
std::size_t DeclarationRoom(std::string_view text, const std::vector<std::size_t>& probes);

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_DECLARATION_H_
