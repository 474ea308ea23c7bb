// One tag rule applied to a page (the body of RndTag), with an index of the
// page's unprotected "<" that the page pass carries from rule to rule.
#ifndef VANTORO_MARKUP_REWRITE_TAG_H_
#define VANTORO_MARKUP_REWRITE_TAG_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "vantoro/variant.h"

namespace vantoro::internal {

// The "<" positions outside protected regions of the text a rule starts from.
// A rule's rewrite moves them along with the text, which keeps them exact: it only
// inserts whitespace gaps and whole comments outside regions. The one exception, a
// lead comment inside a raw-text start tag (its ">" would start the region
// earlier), marks the index stale, and the next rule scans again.
struct TagIndex {
  std::vector<std::size_t> unprotected;
  bool stale = true;
  bool has_nul = false;  // the page holds NUL bytes (checked at every scan)
  std::string scratch;   // working space reused by every pass
};

// The unprotected "<" positions of `text`, from left to right.
std::vector<std::size_t> ScanUnprotected(std::string_view text);

// `case_mode` is 3 (random per character), 2 (upper) or anything else (lower).
// `index` may be null (then the page is scanned for this call alone).
std::string RewriteTag(std::string page, std::string_view rule, std::string_view attr_names,
                       bool fresh_gaps, const Variant& gap_range, int case_mode,
                       const Variant& note_range, TagIndex* index);

}  // namespace vantoro::internal

#endif  // VANTORO_MARKUP_REWRITE_TAG_H_
