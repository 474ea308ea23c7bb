#include "html/declaration.h"

#include <cstring>

#include "html/protected_regions.h"
#include "text/ascii.h"
#include "text/splicer.h"
#include "text/whitespace.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view kProbe = "<!DOCTYPE ";

struct Declaration {
  std::size_t start;
  std::size_t gt_end;  // behind its ">"
  std::size_t end;     // behind its line break
};


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
  if (!text.starts_with("<?xml") || text.size() < 6 || !IsHtmlSpace(text[5])) return 0;
  std::size_t gt = FindByte(text, '>', 6);
  if (gt == npos || text[gt - 1] != '?' || FindByte(text.substr(0, gt), '<', 1) != npos) return 0;
  return gt + 1;
}

// Whether only whitespace and comments stand in [from, to).
bool OnlySpaceAndComments(std::string_view text, std::size_t from, std::size_t to) {
  while (from < to) {
    if (IsHtmlSpace(text[from])) {
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

// The declarations of `text` at the given probes, and whether the first one is
// the browser's (else none moves).
struct Declarations {
  std::size_t xml_end;  // behind the XML declaration, or 0
  std::size_t body;     // behind its line break
  std::vector<Declaration> found;
};

Declarations FindDeclarations(std::string_view text, const std::vector<std::size_t>& probes) {
  Declarations d;
  d.found.reserve(probes.size());  // pages of declarations exist
  d.xml_end = XmlDeclarationEnd(text);
  d.body = d.xml_end == 0 ? 0 : LineBreakEnd(text, d.xml_end);
  std::size_t resume = 0;
  for (std::size_t lt : probes) {
    if (lt < resume) continue;
    std::size_t first = lt + kProbe.size();
    if (first >= text.size() || text[first] == '\n') continue;
    // A browser ends it at its first ">", "<!DOCTYPE >" included.
    std::size_t gt = FindByte(text, '>', first);
    if (gt == npos) break;  // no ">" behind: no later one can close either
    std::size_t end = LineBreakEnd(text, gt + 1);
    d.found.push_back({lt, gt + 1, end});
    resume = gt + 1;
  }
  if (!d.found.empty() && !OnlySpaceAndComments(text, d.body, d.found[0].start)) {
    d.found.clear();
  }
  return d;
}

// Bytes of the page in front of the text's rest: prefix, the XML declaration and
// the first declaration with their line breaks, and head.
std::size_t FrontSize(const Declarations& d, std::size_t prefix, std::size_t head) {
  std::size_t size = prefix + head;
  if (d.xml_end != 0) size += d.xml_end + 2;
  if (!d.found.empty()) size += d.found[0].gt_end - d.found[0].start + 2;
  return size;
}

// Writes the joined page through `put(piece)` for outside text and
// `copy(from, to)` for the text's own bytes, in order; `rest()` marks where the
// text's rest begins.
template <class Put, class Copy, class Rest>
void EmitJoined(const Declarations& d, std::string_view prefix, std::string_view head,
                std::string_view text, Put&& put, Copy&& copy, Rest&& rest) {
  put(prefix);
  if (d.xml_end != 0) {
    copy(0, d.xml_end);
    put("\r\n");
  }
  if (!d.found.empty()) {
    copy(d.found[0].start, d.found[0].gt_end);
    put("\r\n");
  }
  put(head);
  rest();
  std::size_t pos = d.body;
  for (std::size_t k = 0; k < d.found.size(); ++k) {
    const Declaration& decl = d.found[k];
    // A later one that a browser ignores anyway stays, when taking it out would change more.
    if (k > 0 && RemovalJoins(text, decl.start)) continue;
    copy(pos, decl.start);
    // The first one's line break goes with it: whitespace there is nothing to a
    // browser, and CR LF follows it in front. A later one's stays, where it
    // may be text.
    pos = k == 0 ? decl.end : decl.gt_end;
  }
  copy(pos, text.size());
}

}  // namespace

bool OpensDeclaration(std::string_view text, std::size_t lt) {
  return MatchesAt(text, lt, kProbe);
}

void DeclarationProbes(std::string_view text, const MarkupIndex& markup,
                       std::vector<std::size_t>& probes) {
  probes.clear();
  auto in_tag = markup.in_tag.begin();
  for (std::size_t lt : markup.unprotected) {
    if (!OpensDeclaration(text, lt)) continue;
    while (in_tag != markup.in_tag.end() && *in_tag < lt) ++in_tag;
    if (in_tag != markup.in_tag.end() && *in_tag == lt) continue;
    probes.push_back(lt);
  }
}

JoinLayout LayOutJoin(std::string_view prefix, std::string_view head, std::string_view text,
                      const std::vector<std::size_t>& probes) {
  Declarations d = FindDeclarations(text, probes);
  JoinLayout layout;
  layout.rest = d.body;
  layout.kept.reserve(d.found.size() + 1);
  bool in_front = true;
  EmitJoined(
      d, prefix, head, text,
      [&](std::string_view piece) { layout.front += piece; },
      [&](std::size_t from, std::size_t to) {
        if (in_front) {
          layout.front.append(text, from, to - from);
        } else if (from != to) {
          layout.kept.emplace_back(from, to);
        }
      },
      [&] { in_front = false; });
  return layout;
}

std::size_t DeclarationRoom(std::string_view text, const std::vector<std::size_t>& probes) {
  Declarations d = FindDeclarations(text, probes);
  return FrontSize(d, 0, 0);
}

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
  std::vector<std::size_t> probes;
  DeclarationProbes(text, markup, probes);
  JoinWithDeclarationFirst(prefix, head, text, probes, out);
}

void JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                              std::string_view text, const std::vector<std::size_t>& probes,
                              std::string& out) {
  Declarations d = FindDeclarations(text, probes);
  out.clear();
  ReserveExactly(out, prefix.size() + head.size() + text.size() + 4);
  EmitJoined(
      d, prefix, head, text, [&](std::string_view piece) { out += piece; },
      [&](std::size_t from, std::size_t to) { out.append(text, from, to - from); }, [] {});
}

bool JoinWithDeclarationFirstInPlace(std::string_view prefix, std::string_view head,
                                     std::string& buffer, std::size_t offset,
                                     const std::vector<std::size_t>& probes) {
  std::string_view text = std::string_view(buffer).substr(offset);
  Declarations d = FindDeclarations(text, probes);
  // Everything in front is written before the text's rest from `body` on is
  // read; from there on the writing trails the reading.
  if (prefix.size() > offset || FrontSize(d, prefix.size(), head.size()) > offset + d.body) {
    return false;
  }
  char* data = buffer.data();
  std::size_t written = 0;
  EmitJoined(
      d, prefix, head, text,
      [&](std::string_view piece) {
        if (piece.empty()) return;  // an empty view may hold no pointer
        std::memcpy(data + written, piece.data(), piece.size());
        written += piece.size();
      },
      [&](std::size_t from, std::size_t to) {
        std::memmove(data + written, data + offset + from, to - from);
        written += to - from;
      },
      [] {});
  buffer.resize(written);
  return true;
}

}  // namespace vantoro::internal
