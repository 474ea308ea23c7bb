// RndTag: applies one tag rule ("name:kind[:attr;attr...]") to a whole page.
//
// Draws, in order: the name's casing; each common attribute's casing; each rule
// attribute's casing, the last followed by the lead comment; the tail comment of a
// paired rule; then one draw per gap from left to right (or one shared run).
//
// Stages: find the candidate tags outside protected regions, one attribute pass
// per attribute, the literal passes ("<N>", "<N ", "</N>"), then the gap fill.
// Covered by tests/rnd_tag_test.cpp.
#include <algorithm>
#include <string>
#include <vector>

#include "component/ascii.h"
#include "component/conversions.h"
#include "markup/attribute_scanner.h"
#include "markup/gap_text.h"
#include "markup/protected_regions.h"
#include "markup/rewrite_tag.h"
#include "markup/splicer.h"
#include "random/primitives.h"
#include "vantoro/marquel.h"

namespace vantoro {
namespace {

using internal::kGap;

// Tab, line feed and space: the characters a gap is filled with.
constexpr std::string_view kFiller = "\t\n ";

struct RecasedName {
  std::string pattern;  // as matched (NULs doubled, like the working text)
  std::string output;   // the drawn casing, as written
};

RecasedName Recased(std::string_view name, int mode) {
  std::string cased = internal::Recase(name, mode);
  if (!internal::HasNul(name)) return {std::string(name), cased};
  return {internal::EscapeNul(name), internal::EscapeNul(cased)};
}

// Positions of "<N" followed by a name-ending character, and of "</N>", among the
// unprotected "<" of `text`.
void FindCandidates(std::string_view text, const std::vector<std::size_t>& unprotected,
                    std::string_view name, std::vector<std::size_t>& open,
                    std::vector<std::size_t>& close) {
  char first = internal::AsciiLower(name[0]);
  for (std::size_t lt : unprotected) {
    std::size_t after = lt + 1 + name.size();
    if (after >= text.size()) continue;
    char c = internal::AsciiLower(text[lt + 1]);
    if (c == first && internal::MatchesAt(text, lt + 1, name) &&
        internal::EndsTagName(text[after])) {
      open.push_back(lt);
    } else if (c == '/' && after + 1 < text.size() && internal::MatchesAt(text, lt + 2, name) &&
               text[after + 1] == '>') {
      close.push_back(lt);
    }
  }
}

// The anchors that every pass moves along with the text.
struct Anchors {
  std::vector<std::size_t> open, close;
  internal::TagIndex* index;
};

void AttributePass(std::string& text, Anchors& anchors, const RecasedName& name,
                   const RecasedName& attribute, std::string_view lead) {
  auto matches =
      internal::FindAttributeMatches(text, anchors.open, name.pattern.size(), attribute.pattern);
  if (matches.empty()) return;
  internal::Splicer out(text, anchors.index->scratch,
                        {&anchors.open, &anchors.close, &anchors.index->unprotected});
  for (const internal::AttributeMatch& m : matches) {
    if (!lead.empty() && internal::InsideRawTextStartTag(text, m.start)) {
      anchors.index->stale = true;
    }
    out.CopyTo(m.start);
    out.Emit(lead);
    out.CopyTo(m.start + 1);
    out.Emit(name.output);
    out.Skip(name.pattern.size());
    out.Emit(kGap);
    out.CopyTo(m.space);  // group 3 stays as it was
    out.Emit(kGap);       // in place of the space
    out.Skip(1);
    out.Emit(attribute.output);
    out.Skip(attribute.pattern.size());
  }
  out.Finish();
  text.swap(anchors.index->scratch);
}

// "<N>" -> "<N" gap ">", "<N " -> "<N" gap, and for paired rules
// "</N>" -> "</N" gap ">" + tail. The three never overlap, so one sweep does all.
void LiteralPasses(std::string& text, Anchors& anchors, const RecasedName& name, bool paired,
                   std::string_view tail) {
  const std::vector<std::size_t>& open = anchors.open;
  const std::vector<std::size_t>& close = anchors.close;
  std::size_t n = name.pattern.size();
  auto literal_after = [&](std::size_t lt) {
    char next = lt + 1 + n < text.size() ? text[lt + 1 + n] : '\0';
    return next == '>' || next == ' ' ? next : '\0';
  };
  // Tags that an attribute pass rewrote have a gap behind the name: often
  // nothing is left for these passes, and the page need not be copied.
  if ((!paired || close.empty()) &&
      std::none_of(open.begin(), open.end(), [&](std::size_t lt) { return literal_after(lt); })) {
    return;
  }
  internal::Splicer out(text, anchors.index->scratch, {&anchors.index->unprotected});
  std::size_t i = 0, j = 0;
  while (i < open.size() || (paired && j < close.size())) {
    bool take_open = i < open.size() && (!paired || j == close.size() || open[i] < close[j]);
    if (take_open) {
      std::size_t lt = open[i++];
      char next = literal_after(lt);
      if (next == '\0') continue;
      out.CopyTo(lt + 1);
      out.Emit(name.output);
      out.Skip(n);
      out.Emit(kGap);
      if (next == ' ') out.Skip(1);
    } else {
      std::size_t lt = close[j++];
      out.CopyTo(lt + 2);
      out.Emit(name.output);
      out.Skip(n);
      out.Emit(kGap);
      out.CopyTo(lt + 3 + n);
      out.Emit(tail);
    }
  }
  out.Finish();
  text.swap(anchors.index->scratch);
}

}  // namespace

namespace internal {

std::vector<std::size_t> ScanUnprotected(std::string_view text) {
  std::vector<std::size_t> positions;
  UnprotectedTags tags(text, RegionSet::kPage);
  for (std::size_t lt; (lt = tags.Next()) != std::string_view::npos;) positions.push_back(lt);
  return positions;
}

std::string RewriteTag(std::string page, std::string_view rule, std::string_view attr_names,
                       bool fresh_gaps, const Variant& gap_range, int case_mode,
                       const Variant& note_range, TagIndex* index) {
  std::vector<std::string_view> parts = Split(rule, ':');
  if (page.empty() || parts.size() < 2 || parts[0].empty() || parts[1].empty()) {
    if (index != nullptr) index->stale = true;
    return {};
  }
  if (attr_names.empty()) return page;
  int mode = case_mode == 3 || case_mode == 2 ? case_mode : 1;

  // All draws that do not depend on the page come first, in their fixed order.
  RecasedName name = Recased(parts[0], mode);
  std::vector<RecasedName> attributes;
  for (std::string_view a : Split(attr_names, ';')) attributes.push_back(Recased(a, mode));
  std::string lead;
  if (parts.size() == 3) {
    for (std::string_view a : Split(parts[2], ';')) attributes.push_back(Recased(a, mode));
    lead = RandomNote(note_range);
  }
  std::size_t lead_index = parts.size() == 3 ? attributes.size() - 1 : attributes.size();
  bool paired = parts[1] == "1";
  std::string tail = paired ? RandomNote(note_range) : std::string();
  std::string shared_fill;
  if (!fresh_gaps && !gap_range.is_null()) shared_fill = RandomChars(gap_range, kFiller);

  TagIndex own_index;
  if (index == nullptr) index = &own_index;
  // Only a page's own NULs need escaping; rules add none, so one look per scan.
  if (index->stale) index->has_nul = HasNul(page);
  if (index->has_nul) {
    page = EscapeNul(page);
    index->stale = true;
  }
  if (index->stale) {
    index->unprotected = ScanUnprotected(page);
    index->stale = false;
  }
  Anchors anchors{{}, {}, index};
  FindCandidates(page, index->unprotected, name.pattern, anchors.open, anchors.close);
  if (anchors.open.empty() && anchors.close.empty()) {
    FillGaps(page, index->scratch, &index->unprotected, nullptr);  // undoes the NUL escape
    return page;
  }

  for (std::size_t k = 0; k < attributes.size(); ++k) {
    AttributePass(page, anchors, name, attributes[k],
                  k == lead_index ? std::string_view(lead) : std::string_view());
  }
  LiteralPasses(page, anchors, name, paired, tail);
  FillGaps(page, index->scratch, &index->unprotected, [&] {
    return fresh_gaps ? RandomChars(1, kFiller) : shared_fill;
  });
  return page;
}

}  // namespace internal

Variant Marquel::RndTag(const Variant& page, const Variant& rule, const Variant& freshGaps,
                        const Variant& gapRange, const Variant& caseMode,
                        const Variant& noteRange) const {
  return internal::RewriteTag(internal::TextOrEmpty(page), ToText(rule), attr_names_,
                              internal::ToBoolean(freshGaps), gapRange,
                              internal::CaseModeOf(caseMode), noteRange, nullptr);
}

}  // namespace vantoro
