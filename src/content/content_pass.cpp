// Each of the two sweeps finds every marker of the text it starts from, left to
// right, once: text it inserts is not searched again, so it ends whatever the
// copyright texts hold and runs in linear time. The line-break sweep sees the
// paragraph sweep's decoys as ordinary text. When the decoys cannot change what
// a second scan would find, the article is scanned once and the output written
// once; otherwise the two sweeps run one after the other.
#include "content/content_pass.h"

#include "content/decoys.h"
#include "html/protected_regions.h"
#include "random/draws.h"
#include "text/ascii.h"

namespace vantoro::internal {
namespace {

constexpr std::string_view kWhitespace = "\t\n ";

}  // namespace

std::string ContentPass(std::string_view article, const ContentSettings& settings) {
  constexpr std::optional<Range> kRange = kZeroToSixteen;
  constexpr CaseMode kMode = CaseMode::kRandom;
  // Encoded once, not per decoy.
  const std::string euro =
      settings.encoder != nullptr ? Encoded(*settings.encoder, kCode128) : std::string(kCode128);
  auto decoy = [&] {
    switch (settings.decoy) {
      case DecoyContent::kRandomText:
        return RandomTextDecoy(kRange, kMode, euro, settings.hiding, RandomAlphabet::kText);
      case DecoyContent::kBoth: {
        // The whitespace between the two texts goes inside the first element: outside,
        // a browser would show it (inside <pre>, as a blank line).
        std::string both = RandomTextDecoy(kRange, kMode, euro, settings.hiding, RandomAlphabet::kText);
        std::string space = RandomChars(1, kWhitespace);
        std::string notice = CopyrightDecoy(settings.copyright, kRange, kMode, settings.hiding);
        if (!both.empty()) {
          both.insert(both.rfind('<'), space);  // the text holds no "<": before the end tag
        } else if (!notice.empty()) {
          notice.insert(notice.find('>') + 1, space);  // the attribute holds no ">"
        }
        return both + notice;
      }
      case DecoyContent::kCopyright: break;
    }
    return CopyrightDecoy(settings.copyright, kRange, kMode, settings.hiding);
  };
  // One sweep: a decoy in front of every marker among the unprotected "<" of
  // `text` that stands between tags; a marker inside another tag stays as it is,
  // since a decoy there would end that tag and show the rest of it as text.
  auto sweep = [&](std::string_view text, const MarkupIndex& tags, std::string_view marker) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    auto in_tag = tags.in_tag.begin();
    for (std::size_t lt : tags.unprotected) {
      if (in_tag != tags.in_tag.end() && *in_tag == lt) {
        ++in_tag;
        continue;
      }
      if (!MatchesAt(text, lt, marker)) continue;
      out.append(text, pos, lt - pos);
      out += decoy();
      out += marker;  // the marker's letters come out in lower case
      pos = lt + marker.size();
    }
    out.append(text, pos);
    return out;
  };
  // A decoy between tags is complete markup: the line breaks of the paragraph
  // sweep's result are those of the article, moved, unless a decoy's text holds
  // a "<" (only copyright texts can).
  bool decoys_plain = euro.find('<') == std::string::npos;
  if (settings.decoy != DecoyContent::kRandomText) {
    for (const CopyrightEntry& entry : settings.copyright) {
      for (const std::string& part : entry) decoys_plain &= part.find('<') == std::string::npos;
    }
  }
  if (!decoys_plain) {
    MarkupIndex index;
    ScanMarkup(article, RegionSet::kContent, false, index);
    std::string paragraphs = sweep(article, index, "</p");
    index = MarkupIndex();
    ScanMarkup(paragraphs, RegionSet::kContent, false, index);
    return sweep(paragraphs, index, "<br");
  }

  // Both sweeps at once: the markers of the article, taken as the scan meets
  // them, the decoys drawn in the order the two sweeps draw them (every
  // paragraph end, then every line break), then the output written once, at its
  // exact size.
  struct Markers final : MarkupVisitor {
    explicit Markers(std::string_view text) : text_(text) {}
    void Visit(std::size_t lt) override {
      if (MatchesAt(text_, lt, "</p")) {
        paragraph_ends.push_back(lt);
      } else if (MatchesAt(text_, lt, "<br")) {
        line_breaks.push_back(lt);
      }
    }
    std::string_view text_;
    std::vector<std::size_t> paragraph_ends, line_breaks;
  } markers(article);
  ScanMarkup(article, RegionSet::kContent, false, markers);
  const std::vector<std::size_t>& paragraph_ends = markers.paragraph_ends;
  const std::vector<std::size_t>& line_breaks = markers.line_breaks;
  std::string decoys;
  std::vector<std::size_t> decoy_ends;
  decoy_ends.reserve(paragraph_ends.size() + line_breaks.size());
  for (std::size_t k = 0; k < paragraph_ends.size() + line_breaks.size(); ++k) {
    decoys += decoy();
    decoy_ends.push_back(decoys.size());
  }

  std::string out;
  out.reserve(article.size() + decoys.size());
  std::size_t pos = 0, p = 0, b = 0;
  while (p < paragraph_ends.size() || b < line_breaks.size()) {
    bool paragraph = b == line_breaks.size() ||
                     (p < paragraph_ends.size() && paragraph_ends[p] < line_breaks[b]);
    std::size_t lt = paragraph ? paragraph_ends[p] : line_breaks[b];
    std::size_t k = paragraph ? p++ : paragraph_ends.size() + b++;
    std::size_t from = k == 0 ? 0 : decoy_ends[k - 1];
    out.append(article, pos, lt - pos);
    out.append(decoys, from, decoy_ends[k] - from);
    out += paragraph ? "</p" : "<br";  // the marker's letters come out in lower case
    pos = lt + 3;
  }
  out.append(article, pos);
  return out;
}

}  // namespace vantoro::internal
