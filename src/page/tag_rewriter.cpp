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

using internal::kGapFiller;

using internal::RecasedName;

RecasedName Recased(std::string_view name, internal::CaseMode mode) {
  std::string cased = internal::Recase(name, mode);
  if (!internal::HasNul(name)) return {std::string(name), cased};
  return {internal::EscapeNul(name), internal::EscapeNul(cased)};
}

// Positions of "<N" followed by a name-ending character, and of "</N>", among the
// unprotected "<" of `text` that stand between tags. One inside another tag is
// that tag's text (an attribute's name or unquoted value): a gap there would
// split the value.
void FindCandidates(std::string_view text, const internal::MarkupIndex& markup,
                    std::string_view name, std::vector<std::size_t>& open,
                    std::vector<std::size_t>& close) {
  char first = internal::AsciiLower(name[0]);
  auto in_tag = markup.in_tag.begin();
  for (std::size_t lt : markup.unprotected) {
    if (in_tag != markup.in_tag.end() && *in_tag == lt) {
      ++in_tag;
      continue;
    }
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
  internal::MarkupIndex& markup = anchors.index->markup;
  auto matches = internal::FindAttributeMatches(text, anchors.open, name.pattern.size(),
                                                attribute.pattern, true, &markup);
  if (matches.empty()) return;
  internal::Splicer out(text, anchors.index->scratch,
                        {&anchors.open, &anchors.close, &markup.unprotected, &markup.in_tag});
  for (std::size_t k = 0; k < matches.size(); ++k) {
    const internal::AttributeMatch& m = matches[k];
    out.CopyTo(m.start);
    out.Emit(lead);  // candidates stand between tags: a comment in front is safe
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
  internal::MarkupIndex& markup = anchors.index->markup;
  internal::Splicer out(text, anchors.index->scratch,
                        {&markup.unprotected, &markup.in_tag});
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

// Candidates inside other tags are never rewritten, so only names can unsettle.
bool Unsettling(const TagRule& rule, std::span<const std::string_view> common_attributes) {
  auto plain = [](std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
             c == '-' || c == '_';
    });
  };
  return !plain(rule.name) || !std::all_of(rule.attributes.begin(), rule.attributes.end(), plain) ||
         !std::all_of(common_attributes.begin(), common_attributes.end(), plain);
}

RuleTexts DrawRuleTexts(const TagRule& rule, std::span<const std::string_view> common_attributes,
                        const TagDraws& draws) {
  RuleTexts texts;
  texts.name = Recased(rule.name, draws.case_mode);
  texts.attributes.reserve(common_attributes.size() + rule.attributes.size());
  for (std::string_view a : common_attributes) {
    texts.attributes.push_back(Recased(a, draws.case_mode));
  }
  for (std::string_view a : rule.attributes) texts.attributes.push_back(Recased(a, draws.case_mode));
  auto note = [&] { return draws.note_range ? RandomNote(*draws.note_range) : std::string(); };
  texts.lead = rule.lead_comment ? note() : std::string();
  texts.lead_index = rule.lead_comment ? texts.attributes.size() - 1 : texts.attributes.size();
  texts.tail = rule.paired ? note() : std::string();
  if (!draws.fresh_gaps && draws.gap_range) {
    texts.shared_fill = RandomChars(*draws.gap_range, kGapFiller);
  }
  return texts;
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
  RuleTexts texts = DrawRuleTexts(rule, common_attributes, draws);
  const RecasedName& name = texts.name;
  const std::vector<RecasedName>& attributes = texts.attributes;
  const std::string& lead = texts.lead;
  const std::string& tail = texts.tail;

  TagIndex own_index;
  if (index == nullptr) index = &own_index;
  // Only a page's own NULs need escaping; rules add none, so one look per scan.
  if (index->stale) index->has_nul = HasNul(page);
  if (index->has_nul) {
    page = EscapeNul(page);
    index->stale = true;
  }
  MarkupIndex& markup = index->markup;
  if (index->stale) {
    ScanMarkup(page, RegionSet::kPage, true, markup);
    index->stale = false;
  }
  Anchors anchors{{}, {}, index};
  FindCandidates(page, markup, name.pattern, anchors.open, anchors.close);
  if (anchors.open.empty() && anchors.close.empty()) {
    // Undoes the NUL escape.
    FillGaps(page, index->scratch, {&markup.unprotected, &markup.in_tag}, nullptr);
    return page;
  }
  bool unsettling = Unsettling(rule, common_attributes);

  for (std::size_t k = 0; k < attributes.size(); ++k) {
    AttributePass(page, anchors, name, attributes[k],
                  k == texts.lead_index ? std::string_view(lead) : std::string_view());
  }
  LiteralPasses(page, anchors, name, rule.paired, tail);
  FillGaps(page, index->scratch, {&markup.unprotected, &markup.in_tag}, [&] {
    return draws.fresh_gaps ? RandomChars(1, kGapFiller) : texts.shared_fill;
  });
  if (unsettling) index->stale = true;
  return page;
}

}  // namespace internal

}  // namespace vantoro
