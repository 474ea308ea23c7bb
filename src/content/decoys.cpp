#include "content/decoys.h"

#include <array>

#include "vantoro/random.h"

namespace vantoro::internal {
namespace {

constexpr std::array<std::string_view, 3> kCopyrightNames = {"span", "font", "label"};
constexpr std::string_view kSeparators = "~`.,-_/\\|=+";

// Ten phrasing elements, allowed wherever text is. Headings would close an open
// paragraph and "a" would end an open link, leaving a visible gap or an
// unlinked tail even though the decoy itself is hidden.
constexpr std::array<std::string_view, 10> kRandomTextNames = {
    "span", "font", "b", "i", "em", "small", "s", "u", "q", "label"};

template <std::size_t N>
std::string_view DrawName(const std::array<std::string_view, N>& names) {
  return names[static_cast<std::size_t>(DrawIndex(N))];
}

}  // namespace

std::string HidingStyle(const std::optional<Range>& range, CaseMode mode) {
  std::string recased = Recase("display:none;", mode);
  std::string first = range ? RandomChars(*range, kLetters) : std::string();
  std::string second = range ? RandomChars(*range, kLetters) : std::string();
  return first + ";" + recased + second + ";";
}

std::string DecoyElement(std::string_view name, std::string_view style, std::string_view content) {
  std::string element;
  element.reserve(2 * name.size() + style.size() + content.size() + 16);
  element += '<';
  element += name;
  element += " style='";
  element += style;
  element += "'>";
  element += content;
  element += "</";
  element += name;
  element += '>';
  return element;
}

std::string CopyrightDecoy(std::span<const CopyrightEntry> entries,
                           const std::optional<Range>& range, CaseMode mode) {
  if (entries.empty()) return {};
  const CopyrightEntry& entry =
      entries.size() == 1
          ? entries[0]
          : entries[static_cast<std::size_t>(DrawIndex(static_cast<std::int64_t>(entries.size())))];
  std::string text;
  if (entry.size() == 1) {
    text = entry[0];
  } else {
    // Every part, the first included, gets one separator in front of it.
    for (const std::string& part : entry) {
      text += RandomChars(1, kSeparators);
      text += part;
    }
  }
  std::string leading = RandomChars(kZeroOrOne, kSeparators);
  std::string trailing = RandomChars(kZeroOrOne, kSeparators);
  std::string_view name = DrawName(kCopyrightNames);
  std::string style = HidingStyle(range, mode);
  return DecoyElement(name, style, leading + text + trailing);
}

std::string RandomTextDecoy(const std::optional<Range>& range, CaseMode mode,
                            std::string_view euro) {
  RandomSource& source = CurrentRandomSource();
  source.Reseed();
  if (!range) return {};
  std::int64_t count = DrawCount(*range);
  if (count < 1) return {};
  std::string_view name = DrawName(kRandomTextNames);
  std::string style = HidingStyle(range, mode);
  source.Reseed();
  std::string content;
  for (std::int64_t i = 0; i < count; ++i) {
    std::int64_t code = DrawIndex(128) + 1;
    if (code == '<' || code == '>') ++code;  // "=" and "?" instead
    if (code == 128) {
      content += euro;
    } else {
      content += static_cast<char>(code);
    }
  }
  return DecoyElement(name, style, content);
}

}  // namespace vantoro::internal
