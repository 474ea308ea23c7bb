// RndContent: a decoy in front of every paragraph end ("</p") and then every line
// break ("<br") of an article, outside comments, raw text, svg and math.
//
// Each of the two passes finds every marker of the text it starts from, left to
// right, once: text it inserts is not searched again, so it ends whatever the
// copyright texts hold and runs in linear time. The line-break pass sees the
// paragraph pass's decoys as ordinary text. Covered by tests/content_test.cpp.
#include <string>

#include "component/ascii.h"
#include "decoys/decoy_element.h"
#include "markup/protected_regions.h"
#include "random/primitives.h"
#include "vantoro/marquel.h"

namespace vantoro {
namespace {

constexpr std::string_view kWhitespace = "\t\n ";

}  // namespace

std::string Marquel::ContentPass(std::string_view article) const {
  static const Variant kRange("0-16");
  constexpr int kCaseMode = 3;
  const std::string euro = Encoded(internal::kCode128);  // once, not per decoy
  auto decoy = [&] {
    switch (decoy_kind_) {
      case DecoyKind::kRandomText: return internal::RandomTextDecoy(kRange, kCaseMode, euro);
      case DecoyKind::kBoth: {
        std::string both = internal::RandomTextDecoy(kRange, kCaseMode, euro);
        both += internal::RandomChars(1, kWhitespace);
        both += CopyrightDecoy(kRange, kCaseMode);
        return both;
      }
      case DecoyKind::kCopyright: break;
    }
    return CopyrightDecoy(kRange, kCaseMode);
  };
  auto pass = [&](std::string_view text, std::string_view marker) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    internal::UnprotectedTags tags(text, internal::RegionSet::kContent);
    for (std::size_t lt; (lt = tags.Next()) != std::string_view::npos;) {
      if (!internal::MatchesAt(text, lt, marker)) continue;
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

std::string Marquel::process_content(std::string_view article) const {
  return ContentPass(article);
}

Variant Marquel::RndContent(const Variant& str) const {
  if (str.is_null()) return Variant();
  return ContentPass(ToText(str));
}

}  // namespace vantoro
