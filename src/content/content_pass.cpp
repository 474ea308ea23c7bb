// Each of the two sweeps finds every marker of the text it starts from, left to
// right, once: text it inserts is not searched again, so it ends whatever the
// copyright texts hold and runs in linear time. The line-break sweep sees the
// paragraph sweep's decoys as ordinary text; the article is scanned once when
// the decoys cannot change what a second scan would find.
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
  // `moved`, when given, receives where the other "<" stand in the result.
  auto sweep = [&](std::string_view text, const MarkupIndex& tags, std::string_view marker,
                   MarkupIndex* moved) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    auto in_tag = tags.in_tag.begin();
    for (std::size_t lt : tags.unprotected) {
      bool between_tags = true;
      if (in_tag != tags.in_tag.end() && *in_tag == lt) {
        between_tags = false;
        ++in_tag;
      }
      if (!between_tags || !MatchesAt(text, lt, marker)) {
        if (moved != nullptr) {
          moved->unprotected.push_back(out.size() + (lt - pos));
          if (!between_tags) moved->in_tag.push_back(moved->unprotected.back());
        }
        continue;
      }
      out.append(text, pos, lt - pos);
      out += decoy();
      out += marker;  // the marker's letters come out in lower case
      pos = lt + marker.size();
    }
    out.append(text, pos);
    return out;
  };
  MarkupIndex index;
  ScanMarkup(article, RegionSet::kContent, false, index);
  // A decoy between tags is complete markup: the line breaks of the first
  // sweep's result are those of the article, moved, unless a decoy's text holds
  // a "<" (only copyright texts can).
  bool decoys_plain = euro.find('<') == std::string::npos;
  if (settings.decoy != DecoyContent::kRandomText) {
    for (const CopyrightEntry& entry : settings.copyright) {
      for (const std::string& part : entry) decoys_plain &= part.find('<') == std::string::npos;
    }
  }
  MarkupIndex moved;
  std::string paragraphs = sweep(article, index, "</p", decoys_plain ? &moved : nullptr);
  if (!decoys_plain) ScanMarkup(paragraphs, RegionSet::kContent, false, moved);
  return sweep(paragraphs, moved, "<br", nullptr);
}

}  // namespace vantoro::internal
