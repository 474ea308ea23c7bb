#include "html/attribute_scanner.h"

#include <cstring>

#include "text/ascii.h"
#include "html/gap_mark.h"
#include "html/protected_regions.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Position of byte `c` in [from, limit), or npos.
std::size_t FindBefore(std::string_view text, char c, std::size_t from, std::size_t limit) {
  if (from >= limit) return npos;
  const void* hit = std::memchr(text.data() + from, c, limit - from);
  return hit == nullptr ? npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

// The attribute pattern needs nothing after the name, but a tag whose name only
// begins with it (<pre>, <header>, <path> for "p" or "head") must not match.
bool NameEndsAt(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return false;
  return (text[pos] != '>' && EndsTagName(text[pos])) || IsGapAt(text, pos);
}

}  // namespace

std::vector<AttributeMatch> FindAttributeMatches(std::string_view text,
                                                 const std::vector<std::size_t>& candidates,
                                                 std::size_t name_length,
                                                 std::string_view attribute) {
  std::vector<AttributeMatch> matches;
  std::size_t resume = 0;     // candidates before this lie inside a match or fail
  std::size_t first_gt = 0;   // first ">" at or after `gt_from`
  std::size_t gt_from = npos;
  for (std::size_t start : candidates) {
    if (start < resume) continue;
    std::size_t body = start + 1 + name_length;
    if (!NameEndsAt(text, body)) continue;
    if (gt_from == npos || first_gt < body) {
      first_gt = FindByte(text, '>', body);
      gt_from = body;
    }
    if (first_gt == npos) break;  // no ">" anywhere behind: nothing can match
    std::size_t gt = first_gt;

    // The last " ATTR=" before the ">" whose value can open (greedy group 3).
    std::size_t best = npos, best_end = npos;
    for (std::size_t space = FindBefore(text, ' ', body, gt); space != npos;
         space = FindBefore(text, ' ', space + 1, gt)) {
      std::size_t equals = space + 1 + attribute.size();
      if (equals >= gt || text[equals] != '=' || !MatchesAt(text, space + 1, attribute)) continue;
      std::size_t value = equals + 1;  // at most gt
      if (text[value] == '\n') continue;
      std::size_t end = gt;
      if (value == gt) {  // the tag's own ">" opens the value
        end = FindByte(text, '>', gt + 1);
        if (end == npos) continue;
      }
      best = space;
      best_end = end;
    }
    if (best == npos) {
      resume = gt;  // any later candidate before this ">" has a subset of the spaces
      continue;
    }
    matches.push_back({start, best, best_end});
    resume = best_end + 1;
  }
  return matches;
}

}  // namespace vantoro::internal
