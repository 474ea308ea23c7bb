#include "html/declaration.h"

#include "html/protected_regions.h"
#include "text/ascii.h"
#include "text/splicer.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view kProbe = "<!DOCTYPE ";

struct Declaration {
  std::size_t start;
  std::size_t gt_end;  // behind its ">"
  std::size_t end;     // behind its line break
  bool holds_markup;   // reaches past the ">" a browser ends it at, over a "<"
};

bool IsSpace(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

// Behind the optional CR and all LFs at `pos`.
std::size_t LineBreakEnd(std::string_view text, std::size_t pos) {
  if (pos < text.size() && text[pos] == '\r') ++pos;
  while (pos < text.size() && text[pos] == '\n') ++pos;
  return pos;
}

// Behind an XML declaration at the start of `text`, or 0. Its "?>" must be its
// first ">" (a browser reads it as a comment that ends there), and no "<" stands
// in it, which could open a tag that the "?>" belongs to.
std::size_t XmlDeclarationEnd(std::string_view text) {
  if (!text.starts_with("<?xml") || text.size() < 6 || !IsSpace(text[5])) return 0;
  std::size_t gt = FindByte(text, '>', 6);
  if (gt == npos || text[gt - 1] != '?' || FindByte(text.substr(0, gt), '<', 1) != npos) return 0;
  return gt + 1;
}

// Whether only whitespace and comments stand in [from, to).
bool OnlySpaceAndComments(std::string_view text, std::size_t from, std::size_t to) {
  while (from < to) {
    if (IsSpace(text[from])) {
      ++from;
    } else if (text.compare(from, 4, "<!--") == 0) {
      std::size_t end = text.find("-->", from + 2);
      if (end == npos) return false;
      from = end + 3;
    } else {
      return false;
    }
  }
  return from == to;
}

// Whether taking out [start, end) would join the text around it into something a
// browser reads differently: a "<", "</", "<!" or "<?" before it would open a tag
// or a comment with the text behind it, and a character reference in progress
// ("&am" + "p;") would complete.
bool RemovalJoins(std::string_view text, std::size_t start) {
  std::size_t k = start;
  while (k > 0 && IsAsciiAlnum(text[k - 1])) --k;
  if (k > 0 && (text[k - 1] == '&' || (k > 1 && text[k - 1] == '#' && text[k - 2] == '&'))) {
    return true;
  }
  if (start > 0 && text[start - 1] == '<') return true;
  return start > 1 && text[start - 2] == '<' &&
         (text[start - 1] == '/' || text[start - 1] == '!' || text[start - 1] == '?');
}

}  // namespace

std::string JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                                     std::string_view text, const MarkupIndex* markup) {
  MarkupIndex scanned;
  if (markup == nullptr) {
    ScanMarkup(text, RegionSet::kPage, false, scanned);
    markup = &scanned;
  }
  std::string out;
  JoinWithDeclarationFirst(prefix, head, text, *markup, out);
  return out;
}

void JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                              std::string_view text, const MarkupIndex& markup, std::string& out) {
  std::size_t xml_end = XmlDeclarationEnd(text);
  std::size_t body = xml_end == 0 ? 0 : LineBreakEnd(text, xml_end);
  std::vector<Declaration> found;
  std::size_t resume = 0;
  auto in_tag = markup.in_tag.begin();
  for (std::size_t lt : markup.unprotected) {
    if (lt < resume || !MatchesAt(text, lt, kProbe)) continue;
    while (in_tag != markup.in_tag.end() && *in_tag < lt) ++in_tag;
    if (in_tag != markup.in_tag.end() && *in_tag == lt) continue;
    std::size_t first = lt + kProbe.size();
    if (first >= text.size() || text[first] == '\n') continue;
    std::size_t gt = FindByte(text, '>', first + 1);
    if (gt == npos) break;  // no ">" behind: no later one can close either
    std::size_t end = LineBreakEnd(text, gt + 1);
    // "<!DOCTYPE >" ends at its first ">" for a browser; taken to the next one, it
    // would carry tags along.
    bool holds_markup = text[first] == '>' && FindByte(text.substr(0, gt), '<', first) != npos;
    found.push_back({lt, gt + 1, end, holds_markup});
    resume = end;
  }
  if (!found.empty() &&
      (found[0].holds_markup || !OnlySpaceAndComments(text, body, found[0].start))) {
    found.clear();
  }

  out.clear();
  ReserveExactly(out, prefix.size() + head.size() + text.size() + 4);
  out += prefix;
  if (xml_end != 0) {
    out += text.substr(0, xml_end);
    out += "\r\n";
  }
  if (!found.empty()) {
    out += text.substr(found[0].start, found[0].gt_end - found[0].start);
    out += "\r\n";
  }
  out += head;
  std::size_t pos = body;
  for (std::size_t k = 0; k < found.size(); ++k) {
    const Declaration& d = found[k];
    // A later one that a browser ignores anyway stays, when taking it out would change more.
    if (k > 0 && (d.holds_markup || RemovalJoins(text, d.start))) continue;
    out += text.substr(pos, d.start - pos);
    pos = d.end;
  }
  out += text.substr(pos);
}

}  // namespace vantoro::internal
