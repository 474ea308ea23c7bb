// RndTag: applies one tag rule ("name:kind[:attr;attr...]") to a whole page.
//
// Draws, in order: the name's casing; each common attribute's casing; each rule
// attribute's casing, the last followed by the lead comment; the tail comment of a
// paired rule; then one draw per gap from left to right (or one shared run).
//
// Stages: find the candidate tags outside protected regions, one attribute pass
// per attribute, the literal passes ("<N>", "<N ", "</N>"), then the gap fill.
// Covered by tests/rnd_tag_test.cpp.
#include <string>
#include <vector>

#include "component/ascii.h"
#include "component/conversions.h"
#include "markup/attribute_scanner.h"
#include "markup/gap_text.h"
#include "markup/protected_regions.h"
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

// Positions of "<N" followed by a name-ending character, and of "</N>", outside
// the protected regions of `text`.
void FindCandidates(std::string_view text, std::string_view name, std::vector<std::size_t>& open,
                    std::vector<std::size_t>& close) {
  internal::UnprotectedTags tags(text, internal::RegionSet::kPage);
  for (std::size_t lt; (lt = tags.Next()) != std::string_view::npos;) {
    std::size_t after = lt + 1 + name.size();
    if (after < text.size() && internal::MatchesAt(text, lt + 1, name) &&
        internal::EndsTagName(text[after])) {
      open.push_back(lt);
    } else if (after + 1 < text.size() && text[lt + 1] == '/' &&
               internal::MatchesAt(text, lt + 2, name) && text[after + 1] == '>') {
      close.push_back(lt);
    }
  }
}

void AttributePass(std::string& text, std::vector<std::size_t>& open,
                   std::vector<std::size_t>& close, const RecasedName& name,
                   const RecasedName& attribute, std::string_view lead) {
  auto matches =
      internal::FindAttributeMatches(text, open, name.pattern.size(), attribute.pattern);
  if (matches.empty()) return;
  internal::Splicer out(text, {&open, &close});
  for (const internal::AttributeMatch& m : matches) {
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
  text = out.Finish();
}

// "<N>" -> "<N" gap ">", "<N " -> "<N" gap, and for paired rules
// "</N>" -> "</N" gap ">" + tail. The three never overlap, so one sweep does all.
std::string LiteralPasses(std::string_view text, std::vector<std::size_t>& open,
                          std::vector<std::size_t>& close, const RecasedName& name, bool paired,
                          std::string_view tail) {
  std::size_t n = name.pattern.size();
  internal::Splicer out(text, {});
  std::size_t i = 0, j = 0;
  while (i < open.size() || (paired && j < close.size())) {
    bool take_open = i < open.size() && (!paired || j == close.size() || open[i] < close[j]);
    if (take_open) {
      std::size_t lt = open[i++];
      char next = lt + 1 + n < text.size() ? text[lt + 1 + n] : '\0';
      if (next != '>' && next != ' ') continue;
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
  return out.Finish();
}

}  // namespace

std::string Marquel::TagPass(std::string_view page, std::string_view rule, bool fresh_gaps,
                             const Variant& gap_range, int case_mode,
                             const Variant& note_range) const {
  if (page.empty() || rule.find(':') == std::string_view::npos) return {};
  std::vector<std::string_view> parts = internal::Split(rule, ':');
  if (parts[0].empty() || parts[1].empty()) return {};
  if (attr_names_.empty()) return std::string(page);
  int mode = case_mode == 3 || case_mode == 2 ? case_mode : 1;

  // All draws that do not depend on the page come first, in their fixed order.
  RecasedName name = Recased(parts[0], mode);
  std::vector<RecasedName> attributes;
  std::vector<std::string_view> common = internal::Split(attr_names_, ';');
  for (std::string_view a : common) attributes.push_back(Recased(a, mode));
  std::string lead;
  if (parts.size() == 3) {
    std::vector<std::string_view> own = internal::Split(parts[2], ';');
    for (std::string_view a : own) attributes.push_back(Recased(a, mode));
    lead = internal::RandomNote(note_range);
  }
  std::size_t lead_index = parts.size() == 3 ? attributes.size() - 1 : attributes.size();
  bool paired = parts[1] == "1";
  std::string tail = paired ? internal::RandomNote(note_range) : std::string();
  std::string shared_fill;
  if (!fresh_gaps && !gap_range.is_null()) shared_fill = internal::RandomChars(gap_range, kFiller);

  std::string escaped;
  std::string_view text = page;
  if (internal::HasNul(page)) text = escaped = internal::EscapeNul(page);
  std::vector<std::size_t> open, close;
  FindCandidates(text, name.pattern, open, close);
  if (open.empty() && close.empty()) return std::string(page);

  std::string work(text);
  for (std::size_t k = 0; k < attributes.size(); ++k) {
    AttributePass(work, open, close, name, attributes[k],
                  k == lead_index ? std::string_view(lead) : std::string_view());
  }
  work = LiteralPasses(work, open, close, name, paired, tail);
  return internal::FillGaps(work, [&] {
    return fresh_gaps ? internal::RandomChars(1, kFiller) : shared_fill;
  });
}

Variant Marquel::RndTag(const Variant& page, const Variant& rule, const Variant& freshGaps,
                        const Variant& gapRange, const Variant& caseMode,
                        const Variant& noteRange) const {
  return TagPass(internal::TextOrEmpty(page), ToText(rule), internal::ToBoolean(freshGaps),
                 gapRange, internal::CaseModeOf(caseMode), noteRange);
}

}  // namespace vantoro
