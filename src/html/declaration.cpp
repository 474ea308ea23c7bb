#include "html/declaration.h"

#include <vector>

#include "text/ascii.h"
#include "html/protected_regions.h"

namespace vantoro::internal {
namespace {

constexpr std::string_view kProbe = "<!DOCTYPE ";

struct Declaration {
  std::size_t start;
  std::size_t gt_end;  // behind its ">"
  std::size_t end;     // behind its line break
};

}  // namespace

std::string JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                                     std::string_view text,
                                     const std::vector<std::size_t>* unprotected) {
  std::vector<std::size_t> scanned;
  if (unprotected == nullptr) {
    UnprotectedTags tags(text, RegionSet::kPage);
    for (std::size_t lt; (lt = tags.Next()) != std::string_view::npos;) scanned.push_back(lt);
    unprotected = &scanned;
  }
  std::vector<Declaration> found;
  std::size_t resume = 0;
  for (std::size_t lt : *unprotected) {
    if (lt < resume || !MatchesAt(text, lt, kProbe)) continue;
    std::size_t first = lt + kProbe.size();
    if (first >= text.size() || text[first] == '\n') continue;
    std::size_t gt = FindByte(text, '>', first + 1);
    if (gt == std::string_view::npos) break;  // no ">" behind: no later one can close either
    std::size_t end = gt + 1;
    if (end < text.size() && text[end] == '\r') ++end;
    while (end < text.size() && text[end] == '\n') ++end;
    found.push_back({lt, gt + 1, end});
    resume = end;
  }
  std::string out;
  out.reserve(prefix.size() + head.size() + text.size() + 2);
  out += prefix;
  if (!found.empty()) {
    out += text.substr(found[0].start, found[0].gt_end - found[0].start);
    out += "\r\n";
  }
  out += head;
  std::size_t pos = 0;
  for (const Declaration& d : found) {
    out += text.substr(pos, d.start - pos);
    pos = d.end;
  }
  out += text.substr(pos);
  return out;
}

}  // namespace vantoro::internal
