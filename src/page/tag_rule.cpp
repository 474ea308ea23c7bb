#include "page/tag_rule.h"

#include <array>

#include "text/ascii.h"

namespace vantoro::internal {
namespace {

constexpr std::string_view kStyle[] = {"type"};
constexpr std::string_view kLink[] = {"href", "target"};
constexpr std::string_view kImage[] = {"src", "alt", "border"};
constexpr std::string_view kDiv[] = {"style", "class"};
constexpr std::string_view kSpan[] = {"class"};

constexpr std::array<TagRule, 16> kTagTable = {{
    {"html", true, false, {}},
    {"head", true, false, {}},
    {"title", true, false, {}},
    {"style", true, true, kStyle},
    {"body", true, false, {}},
    {"a", true, true, kLink},
    {"img", false, true, kImage},
    {"br", false, false, {}},
    {"table", true, false, {}},
    {"tr", true, false, {}},
    {"td", true, false, {}},
    {"p", true, false, {}},
    {"div", true, true, kDiv},
    {"input", false, false, {}},
    {"option", false, false, {}},
    {"span", true, true, kSpan},
}};

constexpr std::string_view kCommonAttributes[] = {"name", "id", "width", "height"};

}  // namespace

std::span<const TagRule> TagTable() { return kTagTable; }

std::span<const std::string_view> CommonAttributes() { return kCommonAttributes; }

std::optional<ParsedTagRule> ParseTagRule(std::string_view text) {
  std::vector<std::string_view> parts = Split(text, ':');
  if (parts.size() < 2 || parts[0].empty() || parts[1].empty()) return std::nullopt;
  ParsedTagRule parsed;
  // Only a rule of exactly three parts has attributes of its own.
  if (parts.size() == 3) parsed.attributes = Split(parts[2], ';');
  parsed.rule = {parts[0], parts[1] == "1", parts.size() == 3, {}};
  return parsed;
}

}  // namespace vantoro::internal
