// The hidden elements the content pass puts in front of paragraph ends and line
// breaks. A decoy is <NAME style='HIDING STYLE'>CONTENT</NAME>, where the hiding
// style is "RUN;display:none;RUN;" with "display:none;" re-cased and two
// independent runs of random letters (a browser skips a declaration without a
// colon, so the element stays hidden); or, where a Content-Security-Policy
// makes browsers ignore inline styles, <NAME class='RUN CLASS RUN'>CONTENT</NAME>
// with one of the site's hiding classes between two random class names that no
// rule hides. Covered by tests/decoys_test.cpp.
#ifndef VANTORO_CONTENT_DECOYS_H_
#define VANTORO_CONTENT_DECOYS_H_

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "content/copyright.h"
#include "random/draws.h"
#include "random/range.h"

namespace vantoro::internal {

// How decoys are hidden.
struct Hiding {
  // The site's hiding classes (HidingClassNames); none: an inline style.
  std::span<const std::string> class_names;
  // A data-nosnippet attribute, so that search engines keep the notice out of
  // their result snippets.
  bool nosnippet = false;
  // aria-hidden='true': kept out of what screen readers read (for notices that
  // stay in rendered text).
  bool aria_hidden = false;
  // Appended to a copyright notice's text, drawn after the element's name and
  // attribute: the notice's mark. None: nothing.
  const std::function<std::string()>* notice_mark = nullptr;
};

// Draws the re-casing, then the first and the second letter run (lengths from
// `range`; none gives empty runs).
std::string HidingStyle(const std::optional<Range>& range, CaseMode mode);
void AppendHidingStyle(std::string& out, const std::optional<Range>& range, CaseMode mode);

// The hiding attribute and what precedes it, " style='...'" or " class='...'":
// for the class, draws the class, then the first and the second run.
std::string HidingAttribute(const std::optional<Range>& range, CaseMode mode,
                            const Hiding& hiding);
void AppendHidingAttribute(std::string& out, const std::optional<Range>& range, CaseMode mode,
                           const Hiding& hiding);

// Four class names derived from `site_key` alone, the same on every run and in
// every version: lower-case letters without "i", so that no name holds "hid",
// "hide", "invisible", "sr-only" or "display", which text extractors treat as
// hidden.
std::vector<std::string> HidingClassNames(std::string_view site_key);

// Two more names from `site_key`, after those of HidingClassNames and unlike
// them: classes that take a notice out of layout and sight but leave it in the
// rendered text (innerText, a selection's copy).
std::vector<std::string> CopyVisibleClassNames(std::string_view site_key);

// The stylesheet of `site_key`: the classes of HidingClassNames hidden, those
// of CopyVisibleClassNames clipped to nothing outside the flow.
std::string HidingStylesheet(std::string_view site_key);

std::string DecoyElement(std::string_view name, std::string_view attribute,
                         std::string_view content);

// One entry drawn from `entries` (a draw only when there are several), its parts
// framed by random separators, zero or one separator before and after, in one of
// "span", "font", "label". The empty text when there are no entries.
std::string CopyrightDecoy(std::span<const CopyrightEntry> entries,
                           const std::optional<Range>& range, CaseMode mode,
                           const Hiding& hiding = {});
// The same, appended to `out`, with no text of its own on the way.
void AppendCopyrightDecoy(std::string& out, std::span<const CopyrightEntry> entries,
                          const std::optional<Range>& range, CaseMode mode,
                          const Hiding& hiding = {});

// Which characters a random-text decoy draws from.
enum class RandomAlphabet {
  // Codes 1 to 128, never "<" or ">" ("=" and "?" instead), `euro` for 128: the
  // script component's own decoy.
  kCodes1To128,
  // Only characters that HTML text and XML both take as they are: TAB, LF, the
  // printable ASCII characters but "<", ">" and "&", and `euro`. No control
  // character, so an XHTML page stays well-formed.
  kText,
};

// Random characters in one of ten phrasing elements; as many as `range` draws.
// The empty text when the count is below 1 or there is no range.
std::string RandomTextDecoy(const std::optional<Range>& range, CaseMode mode,
                            std::string_view euro, const Hiding& hiding = {},
                            RandomAlphabet alphabet = RandomAlphabet::kCodes1To128);

// Code 128 among the random characters: the euro sign, as the common Western and
// Chinese code pages have it.
inline constexpr std::string_view kCode128 = "\xE2\x82\xAC";

}  // namespace vantoro::internal

#endif  // VANTORO_CONTENT_DECOYS_H_
