#include "html/attribute_scanner.h"

#include <cstring>
#include <optional>

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
                                                 std::string_view attribute, bool gaps,
                                                 const MarkupIndex* markup) {
  std::vector<AttributeMatch> matches;
  std::size_t resume = 0;     // candidates before this lie inside a match or fail
  std::size_t first_gt = 0;   // first ">" at or after `gt_from`
  std::size_t gt_from = npos;
  // A candidate inside another tag is read as part of that tag, as the browser
  // reads it: from the outer tag's "<", the last "<" before it that is no
  // other tag's. One reader serves every candidate of the same outer tag.
  std::size_t next_lt = 0, next_inside = 0, outer = npos;
  auto tag_start = [&](std::size_t start) {
    if (markup == nullptr || markup->in_tag.empty()) return start;
    const std::vector<std::size_t>& lts = markup->unprotected;
    const std::vector<std::size_t>& inside = markup->in_tag;
    for (; next_lt < lts.size() && lts[next_lt] <= start; ++next_lt) {
      while (next_inside < inside.size() && inside[next_inside] < lts[next_lt]) ++next_inside;
      if (next_inside == inside.size() || inside[next_inside] != lts[next_lt]) outer = lts[next_lt];
    }
    return outer == npos ? start : outer;
  };
  std::optional<TagReader> reader;
  std::size_t reader_start = npos;
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

    // The last " ATTR=" before the ">" whose value can open (greedy group 3),
    // outside the tag's quoted values: the tag is read only as far as needed.
    std::size_t best = npos, best_end = npos;
    std::size_t read_from = tag_start(start);
    if (read_from != reader_start) reader.reset();
    for (std::size_t space = FindBefore(text, ' ', body, gt); space != npos;
         space = FindBefore(text, ' ', space + 1, gt)) {
      std::size_t equals = space + 1 + attribute.size();
      if (equals >= gt || text[equals] != '=' || !MatchesAt(text, space + 1, attribute)) continue;
      if (!reader) {
        reader.emplace(text, read_from, gaps);
        reader_start = read_from;
      }
      if (!reader->StartsName(space + 1)) continue;
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
