#include "content/decoys.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "random/draws.h"
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

// Class names without "i" can hold none of the words extractors look for.
constexpr std::string_view kClassLetters = "abcdefghjklmnopqrstuvwxyz";
constexpr std::string_view kJunkLetters = "abcdefghjklmnopqrstuvwxyzABCDEFGHJKLMNOPQRSTUVWXYZ";
constexpr std::size_t kClassCount = 4;
// RandomAlphabet::kText without the euro sign.
constexpr std::string_view kTextCharacters =
    "\t\n !\"#$%'()*+,-./0123456789:;=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
    "abcdefghijklmnopqrstuvwxyz{|}~";

// A fixed generator, independent of the random source: the names must not
// change from run to run or from version to version.
std::uint64_t Mix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

void AppendHidingStyle(std::string& out, const std::optional<Range>& range, CaseMode mode) {
  // The re-casing is drawn first and written between the runs.
  std::string recased;  // short enough to need no memory of its own
  AppendRecased(recased, "display:none;", mode);
  if (range) AppendRandomChars(out, *range, kLetters);
  out += ';';
  out += recased;
  if (range) AppendRandomChars(out, *range, kLetters);
  out += ';';
}

std::string HidingStyle(const std::optional<Range>& range, CaseMode mode) {
  std::string style;
  AppendHidingStyle(style, range, mode);
  return style;
}

void AppendHidingAttribute(std::string& out, const std::optional<Range>& range, CaseMode mode,
                           const Hiding& hiding) {
  if (hiding.nosnippet) out += " data-nosnippet";
  if (hiding.aria_hidden) out += " aria-hidden='true'";
  if (hiding.class_names.empty()) {
    out += " style='";
    AppendHidingStyle(out, range, mode);
  } else {
    const std::string& name = hiding.class_names[static_cast<std::size_t>(
        DrawIndex(static_cast<std::int64_t>(hiding.class_names.size())))];
    // The first run, the class, the second run, a space between those not empty.
    out += " class='";
    const std::size_t open = out.size();
    auto part = [&](auto&& append) {
      const std::size_t before = out.size();
      if (before != open) out += ' ';
      const std::size_t spaced = out.size();
      append();
      if (out.size() == spaced) out.resize(before);  // empty: no space either
    };
    part([&] {
      if (range) AppendRandomChars(out, *range, kJunkLetters);
    });
    part([&] { out += name; });
    part([&] {
      if (range) AppendRandomChars(out, *range, kJunkLetters);
    });
  }
  out += '\'';
}

std::string HidingAttribute(const std::optional<Range>& range, CaseMode mode,
                            const Hiding& hiding) {
  std::string attribute;
  AppendHidingAttribute(attribute, range, mode, hiding);
  return attribute;
}

namespace {

// The first `count` names of the site's sequence.
std::vector<std::string> ClassNames(std::string_view site_key, std::size_t count) {
  // FNV-1a over the key seeds the generator.
  std::uint64_t state = 0xcbf29ce484222325ULL;
  for (char c : site_key) state = (state ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  std::vector<std::string> names;
  while (names.size() < count) {
    std::string name;
    std::size_t length = 6 + Mix(state) % 4;
    for (std::size_t k = 0; k < length; ++k) name += kClassLetters[Mix(state) % kClassLetters.size()];
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

constexpr std::size_t kCopyVisibleCount = 2;

void AppendSelector(std::string& sheet, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    sheet += name == names.front() ? "." : ",.";
    sheet += name;
  }
}

}  // namespace

std::vector<std::string> HidingClassNames(std::string_view site_key) {
  return ClassNames(site_key, kClassCount);
}

std::vector<std::string> CopyVisibleClassNames(std::string_view site_key) {
  std::vector<std::string> names = ClassNames(site_key, kClassCount + kCopyVisibleCount);
  names.erase(names.begin(), names.begin() + kClassCount);
  return names;
}

std::string HidingStylesheet(std::string_view site_key) {
  std::string sheet;
  AppendSelector(sheet, HidingClassNames(site_key));
  sheet += "{display:none!important}\n";
  // Clipped in place rather than moved far away: an offset box would widen the
  // scrollable area of a right-to-left page. The overflow must be cut too:
  // text spilling out of the 1px box, clipped or not, widens the page.
  AppendSelector(sheet, CopyVisibleClassNames(site_key));
  sheet += "{position:absolute!important;width:1px!important;height:1px!important;"
           "margin:-1px!important;padding:0!important;border:0!important;"
           "overflow:hidden!important;clip:rect(0 0 0 0)!important;"
           "clip-path:inset(50%)!important;white-space:nowrap!important}\n";
  return sheet;
}

std::string DecoyElement(std::string_view name, std::string_view attribute,
                         std::string_view content) {
  std::string element;
  element.reserve(2 * name.size() + attribute.size() + content.size() + 8);
  element += '<';
  element += name;
  element += attribute;
  element += '>';
  element += content;
  element += "</";
  element += name;
  element += '>';
  return element;
}

void AppendCopyrightDecoy(std::string& out, std::span<const CopyrightEntry> entries,
                          const std::optional<Range>& range, CaseMode mode, const Hiding& hiding) {
  if (entries.empty()) return;
  const CopyrightEntry& entry =
      entries.size() == 1
          ? entries[0]
          : entries[static_cast<std::size_t>(DrawIndex(static_cast<std::int64_t>(entries.size())))];
  // The separators are drawn before the name and the attribute, and written
  // after them: kept until then (a few characters).
  std::string separators;
  if (entry.size() > 1) AppendRandomChars(separators, static_cast<std::int64_t>(entry.size()), kSeparators);
  std::string leading = RandomChars(kZeroOrOne, kSeparators);
  std::string trailing = RandomChars(kZeroOrOne, kSeparators);
  std::string_view name = DrawName(kCopyrightNames);
  out += '<';
  out += name;
  AppendHidingAttribute(out, range, mode, hiding);
  out += '>';
  out += leading;
  if (entry.size() == 1) {
    out += entry[0];
  } else {
    // Every part, the first included, gets one separator in front of it.
    for (std::size_t k = 0; k < entry.size(); ++k) {
      out += separators[k];
      out += entry[k];
    }
  }
  out += trailing;
  if (hiding.notice_mark != nullptr && *hiding.notice_mark) out += (*hiding.notice_mark)();
  out += "</";
  out += name;
  out += '>';
}

std::string CopyrightDecoy(std::span<const CopyrightEntry> entries,
                           const std::optional<Range>& range, CaseMode mode,
                           const Hiding& hiding) {
  std::string decoy;
  AppendCopyrightDecoy(decoy, entries, range, mode, hiding);
  return decoy;
}

std::string RandomTextDecoy(const std::optional<Range>& range, CaseMode mode,
                            std::string_view euro, const Hiding& hiding,
                            RandomAlphabet alphabet) {
  RandomSource& source = CurrentRandomSource();
  source.Reseed();
  if (!range) return {};
  std::int64_t count = DrawCount(*range);
  if (count < 1) return {};
  std::string_view name = DrawName(kRandomTextNames);
  std::string attribute = HidingAttribute(range, mode, hiding);
  source.Reseed();
  std::string content;
  if (alphabet == RandomAlphabet::kText) {
    // The last index stands for the euro sign.
    const std::int64_t size = static_cast<std::int64_t>(kTextCharacters.size()) + 1;
    for (std::int64_t i = 0; i < count; ++i) {
      std::int64_t index = DrawIndex(size);
      if (index == size - 1) {
        content += euro;
      } else {
        content += kTextCharacters[static_cast<std::size_t>(index)];
      }
    }
    return DecoyElement(name, attribute, content);
  }
  for (std::int64_t i = 0; i < count; ++i) {
    std::int64_t code = DrawIndex(128) + 1;
    if (code == '<' || code == '>') ++code;  // "=" and "?" instead
    if (code == 128) {
      content += euro;
    } else {
      content += static_cast<char>(code);
    }
  }
  return DecoyElement(name, attribute, content);
}

}  // namespace vantoro::internal
