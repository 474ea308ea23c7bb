// Each of the two sweeps finds every marker of the text it starts from, left to
// right, once: text it inserts is not searched again, so it ends whatever the
// copyright texts hold and runs in linear time. The line-break sweep sees the
// paragraph sweep's decoys as ordinary text.
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
      case DecoyContent::kRandomText: return RandomTextDecoy(kRange, kMode, euro);
      case DecoyContent::kBoth: {
        std::string both = RandomTextDecoy(kRange, kMode, euro);
        both += RandomChars(1, kWhitespace);
        both += CopyrightDecoy(settings.copyright, kRange, kMode);
        return both;
      }
      case DecoyContent::kCopyright: break;
    }
    return CopyrightDecoy(settings.copyright, kRange, kMode);
  };
  auto pass = [&](std::string_view text, std::string_view marker) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    UnprotectedTags tags(text, RegionSet::kContent);
    for (std::size_t lt; (lt = tags.Next()) != std::string_view::npos;) {
      if (!MatchesAt(text, lt, marker)) continue;
      out.append(text, pos, lt - pos);
      out += decoy();
      out += marker;  // the marker's letters come out in lower case
      pos = lt + marker.size();
    }
    out.append(text, pos);
    return out;
  };
  return pass(pass(article, "</p"), "<br");
}

}  // namespace vantoro::internal
