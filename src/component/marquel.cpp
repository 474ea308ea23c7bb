// The members of Marquel: variants in, typed engine calls, variants out.
#include "component/marquel.h"

#include "component/conversions.h"
#include "content/content_pass.h"
#include "content/decoys.h"
#include "page/page_pass.h"
#include "page/tag_rewriter.h"
#include "page/tag_rule.h"
#include "random/draws.h"
#include "text/ascii.h"

namespace vantoro {
namespace {

constexpr std::string_view kDefaultAttrNames = "name;id;width;height";

// The attribute names as the engine takes them: none before Load.
std::vector<std::string_view> Attributes(std::string_view attr_names) {
  if (attr_names.empty()) return {};
  return internal::Split(attr_names, ';');
}

}  // namespace

void Marquel::CopyRStr(const Variant& text) {
  std::string value = ToText(text);
  copyright_ = internal::ParseCopyright(value);
  copy_r_str_ = std::move(value);
}

void Marquel::Load() {
  attr_names_ = kDefaultAttrNames;
  version_text_ = internal::DefaultVersionText();
}

void Marquel::onstartpage(const Variant& /*passedscriptingcontext*/) { Load(); }

Variant Marquel::Rndstr(const Variant& str) const {
  std::string page = internal::TextOrEmpty(str);
  std::vector<std::string_view> attributes = Attributes(attr_names_);
  return CallEngine([&] {
    return internal::PagePass(page, {attributes, version_text_, nullptr});
  });
}

Variant Marquel::RndContent(const Variant& str) const {
  if (str.is_null()) return Variant();
  std::string article = ToText(str);
  return CallEngine([&] {
    return internal::ContentPass(article, {copyright_, internal::DecoyContent::kCopyright, nullptr, {}});
  });
}

Variant Marquel::RndHideStr(const Variant& range, const Variant& caseMode) const {
  internal::CaseMode mode = internal::CaseModeOf(caseMode);
  std::optional<internal::Range> parsed;
  if (!range.is_null()) parsed = internal::RangeOf(range);
  return CallEngine([&] { return internal::RandomTextDecoy(parsed, mode, internal::kCode128); });
}

Variant Marquel::RndCopyRStr(const Variant& range, const Variant& caseMode) const {
  if (copy_r_str_.empty()) return Variant();
  internal::CaseMode mode = internal::CaseModeOf(caseMode);
  std::optional<internal::Range> parsed;
  if (!range.is_null()) parsed = internal::RangeOf(range);
  return CallEngine([&] { return internal::CopyrightDecoy(copyright_, parsed, mode); });
}

Variant Marquel::RndTag(const Variant& page, const Variant& rule, const Variant& freshGaps,
                        const Variant& gapRange, const Variant& caseMode,
                        const Variant& noteRange) const {
  std::string text = internal::TextOrEmpty(page);
  std::string rule_text = ToText(rule);
  internal::TagDraws draws;
  draws.fresh_gaps = internal::ToBoolean(freshGaps);
  draws.case_mode = internal::CaseModeOf(caseMode);
  std::optional<internal::ParsedTagRule> parsed = internal::ParseTagRule(rule_text);
  if (text.empty() || !parsed) return std::string();
  if (attr_names_.empty()) return text;
  // Ranges are read only where a draw needs them.
  if (parsed->rule.lead_comment || parsed->rule.paired) draws.note_range = internal::NoteRangeOf(noteRange);
  if (!draws.fresh_gaps && !gapRange.is_null()) draws.gap_range = internal::RangeOf(gapRange);
  std::vector<std::string_view> attributes = Attributes(attr_names_);
  return CallEngine([&] {
    return internal::RewriteTag(std::move(text), parsed->view(), attributes, draws, nullptr);
  });
}

Variant Marquel::RndNote(const Variant& range) const {
  std::optional<internal::Range> parsed = internal::NoteRangeOf(range);
  if (!parsed) return std::string();
  return CallEngine([&] { return internal::RandomNote(*parsed); });
}

Variant Marquel::RndCase(const Variant& text, const Variant& mode) const {
  if (text.is_null()) return std::string();
  std::string value = ToText(text);
  internal::CaseMode parsed = internal::CaseModeOf(mode);
  return CallEngine([&] { return internal::Recase(value, parsed); });
}

Variant Marquel::RndChars(const Variant& spec, Variant& charset) const {
  if (spec.is_null()) return std::string();
  // Read the range first: a bad one fails before the caller's variable is touched.
  internal::Range range = internal::RangeOf(spec);
  if (charset.is_empty() || (charset.is_string() && charset.as_string().empty())) {
    charset = std::string(internal::kLetters);
  }
  return CallEngine([&]() -> Variant {
    std::int64_t count = internal::DrawCount(range);
    if (count < 1) return std::string();
    if (charset.is_null()) throw ScriptError(kInvalidUseOfNull);
    return internal::RandomChars(count, ToText(charset));
  });
}

}  // namespace vantoro
