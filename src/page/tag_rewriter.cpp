// The stages of one rule: find the candidate tags outside protected regions, one
// attribute pass per attribute, the literal passes ("<N>", "<N ", "</N>"), then
// the gap fill. Covered by tests/rnd_tag_test.cpp.
#include "page/tag_rewriter.h"

#include <algorithm>

#include "html/attribute_scanner.h"
#include "html/protected_regions.h"
#include "page/gap_text.h"
#include "text/ascii.h"
#include "text/splicer.h"

namespace vantoro {
namespace {

using internal::kGap;

// Tab, line feed and space: the characters a gap is filled with.
constexpr std::string_view kFiller = "\t\n ";

struct RecasedName {
  std::string pattern;  // as matched (NULs doubled, like the working text)
  std::string output;   // the drawn casing, as written
};

RecasedName Recased(std::string_view name, internal::CaseMode mode) {
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

std::string RewriteTag(std::string page, const TagRule& rule,
                       std::span<const std::string_view> common_attributes,
                       const TagDraws& draws, TagIndex* index) {
  if (page.empty()) {
    if (index != nullptr) index->stale = true;
    return {};
  }
  if (common_attributes.empty()) return page;

  // All draws that do not depend on the page come first, in their fixed order.
  RecasedName name = Recased(rule.name, draws.case_mode);
  std::vector<RecasedName> attributes;
  attributes.reserve(common_attributes.size() + rule.attributes.size());
  for (std::string_view a : common_attributes) attributes.push_back(Recased(a, draws.case_mode));
  for (std::string_view a : rule.attributes) attributes.push_back(Recased(a, draws.case_mode));
  auto note = [&] { return draws.note_range ? RandomNote(*draws.note_range) : std::string(); };
  std::string lead = rule.lead_comment ? note() : std::string();
  std::size_t lead_index = rule.lead_comment ? attributes.size() - 1 : attributes.size();
  std::string tail = rule.paired ? note() : std::string();
  std::string shared_fill;
  if (!draws.fresh_gaps && draws.gap_range) shared_fill = RandomChars(*draws.gap_range, kFiller);

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
  LiteralPasses(page, anchors, name, rule.paired, tail);
  FillGaps(page, index->scratch, &index->unprotected, [&] {
    return draws.fresh_gaps ? RandomChars(1, kFiller) : shared_fill;
  });
  return page;
}

}  // namespace internal

}  // namespace vantoro
