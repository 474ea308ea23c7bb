// One tag rule applied to a whole page, with an index of the page's unprotected
// "<" that the page pass carries from rule to rule.
#ifndef VANTORO_PAGE_TAG_REWRITER_H_
#define VANTORO_PAGE_TAG_REWRITER_H_

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "html/protected_regions.h"
#include "page/tag_rule.h"
#include "random/draws.h"
#include "random/range.h"

namespace vantoro::internal {

// The protected regions of the text a rule starts from. A rule's rewrite moves
// them along with the text, which keeps them exact: it only re-cases names and
// inserts whitespace gaps and whole comments outside regions, between tags; a
// "<" that stands inside another tag is that tag's text and stays as it is. A
// rule whose names hold more than letters marks the index stale, and the next
// rule scans again.
struct TagIndex {
  MarkupIndex markup;
  bool stale = true;
  bool has_nul = false;  // the page holds NUL bytes (checked at every scan)
  std::string scratch;   // working space reused by every pass
};

// Tab, line feed and space: the characters a gap is filled with.
inline constexpr std::string_view kGapFiller = "\t\n ";

// How a rewrite draws.
struct TagDraws {
  bool fresh_gaps = true;          // one draw per gap; else one run shared by all
  std::optional<Range> gap_range;  // the shared run's length (none: an empty run)
  CaseMode case_mode = CaseMode::kRandom;
  std::optional<Range> note_range;  // the comments' length (none: no comments)
};

// A name as the working text holds it and as a rule writes it.
struct RecasedName {
  std::string pattern;  // as matched (NULs doubled, like the working text)
  std::string output;   // the drawn casing, as written
};

// What a rule draws before it looks at the page, in this order: the name's
// casing; each common attribute's casing; each rule attribute's casing, the last
// followed by the lead comment; the tail comment of a paired rule; the shared gap
// run when gaps are not fresh.
struct RuleTexts {
  RecasedName name;
  std::vector<RecasedName> attributes;  // the common ones, then the rule's own
  std::string lead;                     // goes in front of tags the last attribute matched
  std::size_t lead_index;               // that attribute (attributes.size(): none)
  std::string tail;                     // behind the closing tags of a paired rule
  std::string shared_fill;
};
RuleTexts DrawRuleTexts(const TagRule& rule, std::span<const std::string_view> common_attributes,
                        const TagDraws& draws);

// Whether a rule's rewrite could change how the page tokenizes: a name that
// holds more than letters, digits, "-" and "_".
bool Unsettling(const TagRule& rule, std::span<const std::string_view> common_attributes);

// Draws, in order: the name's casing; each common attribute's casing; each rule
// attribute's casing, the last followed by the lead comment; the tail comment of
// a paired rule; then one draw per gap from left to right (or the shared run).
// An empty page gives the empty text; no common attributes leave the page as it
// is. `index` may be null (then the page is scanned for this call alone).
std::string RewriteTag(std::string page, const TagRule& rule,
                       std::span<const std::string_view> common_attributes,
                       const TagDraws& draws, TagIndex* index);

}  // namespace vantoro::internal

#endif  // VANTORO_PAGE_TAG_REWRITER_H_
