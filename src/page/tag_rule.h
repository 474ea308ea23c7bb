// Tag rules: which tags the page pass rewrites and how. A rule names a tag, says
// whether its closing tag is rewritten too (paired), and may list attributes of
// its own besides the common ones (name, id, width, height).
#ifndef VANTORO_PAGE_TAG_RULE_H_
#define VANTORO_PAGE_TAG_RULE_H_

#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vantoro::internal {

struct TagRule {
  std::string_view name;
  bool paired = false;        // the closing tag gets a gap and a tail comment
  bool lead_comment = false;  // a comment goes in front of the tag (rules with own attributes)
  std::span<const std::string_view> attributes;  // the rule's own attributes
};

// The sixteen rules of the page pass, in the order they run.
std::span<const TagRule> TagTable();

// The attributes every rule rewrites.
std::span<const std::string_view> CommonAttributes();

// A rule read from its text form "name:kind[:attr;attr...]" (kind "1" paired),
// with storage for the attribute list; nothing when the name or kind is empty or
// the colon is missing.
struct ParsedTagRule {
  TagRule rule;                              // without attributes: see view()
  std::vector<std::string_view> attributes;  // views into the text

  TagRule view() const {
    TagRule whole = rule;
    whole.attributes = attributes;
    return whole;
  }
};
std::optional<ParsedTagRule> ParseTagRule(std::string_view text);

}  // namespace vantoro::internal

#endif  // VANTORO_PAGE_TAG_RULE_H_
