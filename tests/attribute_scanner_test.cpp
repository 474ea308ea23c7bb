// The dedicated attribute scanner against a real regular-expression engine, on
// many small generated tags, including the cases that need backtracking.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "html/attribute_scanner.h"
#include "html/protected_regions.h"
#include "html_model.h"
#include "text/ascii.h"

namespace vantoro::internal {
namespace {

struct Found {
  std::size_t start, space, end;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
  return os << "{" << f.start << "," << f.space << "," << f.end << "}";
}

// Every "<" + name (any case) followed by something that can end a name.
std::vector<std::size_t> Candidates(std::string_view text, std::string_view name) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i + 1 + name.size() < text.size(); ++i) {
    if (text[i] == '<' && MatchesAt(text, i + 1, name)) out.push_back(i);
  }
  return out;
}

// `candidates_from`: the text whose "<a" are the candidates (by default `text`).
std::vector<Found> Scanner(const std::string& text, std::string_view name, std::string_view attr,
                           const std::string* candidates_from = nullptr) {
  std::vector<Found> out;
  auto candidates = Candidates(candidates_from != nullptr ? *candidates_from : text, name);
  MarkupIndex markup;
  ScanMarkup(text, RegionSet::kPage, false, markup);
  for (const AttributeMatch& m :
       FindAttributeMatches(text, candidates, name.size(), attr, false, &markup)) {
    out.push_back({m.start, m.space, m.end});
  }
  return out;
}

std::vector<Found> Reference(const std::string& text, const std::string& name,
                             const std::string& attr) {
  // "." is "[^\n]"; the look-ahead is the name boundary.
  std::regex pattern("(<" + name + ")(?=[\\t\\n\\f\\r /])(([^>]*) (" + attr +
                         "=)([^\\n][^>]*))(>)",
                     std::regex::ECMAScript | std::regex::icase);
  std::vector<Found> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    out.push_back({static_cast<std::size_t>(m.position(0)),
                   static_cast<std::size_t>(m.position(4)) - 1,
                   static_cast<std::size_t>(m.position(0) + m.length(0)) - 1});
  }
  return out;
}

TEST(AttributeScanner, BacktrackingCases) {
  struct Case {
    std::string text;
    std::vector<Found> expected;
  };
  const std::vector<Case> cases = {
      {"<a href=x>", {{0, 2, 9}}},
      {"<a href=\nx>", {}},                          // LF after "="
      {"<a href=x href=\ny>", {{0, 2, 17}}},         // falls back to the earlier one
      {"<a href=>x</a>", {{0, 2, 13}}},              // the tag's ">" opens the value
      {"<a href=>x", {}},                            // ... and no ">" follows
      {"<a title=\"a href=b\" href=c>", {{0, 19, 26}}},  // the last one wins
      {"<a title=\">\" href=c>", {}},                // ">" inside a quoted value
      {"<A  HREF=x>", {{0, 3, 10}}},
      {"<a\nhref=x>", {}},                           // the space is required
      {"<a\n class=y\n href=x>", {{0, 12, 19}}},     // tags may span lines
      {"<a href = x>", {}},
      {"<abbr href=x>", {}},                         // name boundary
      {"<a <a href=x>", {{0, 5, 12}}},               // one match from the first "<a"
      {"<a href=x><a href=y>", {{0, 2, 9}, {10, 12, 19}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Scanner(c.text, "a", "href"), c.expected) << c.text;
    // Quoted values aside, the scanner is the bare pattern.
    if (c.text.find('"') == std::string::npos) {
      EXPECT_EQ(Reference(c.text, "a", "href"), c.expected) << c.text;
    }
  }
}

TEST(AttributeScanner, NeverTakesAnAttributeInsideAQuotedValue) {
  struct Case {
    std::string text;
    std::vector<Found> expected;
  };
  const std::vector<Case> cases = {
      {"<a title=\"a href=b\" href=c>", {{0, 19, 26}}},   // the real one is last
      {"<a href=c title=\"x href=y\">", {{0, 2, 26}}},    // falls back to the real one
      {"<a title=\"x href=y\">", {}},
      {"<a title='x href=y' >", {}},
      {"<a title=x href=y>", {{0, 10, 17}}},               // unquoted values are not protected
      {"<a title=\"x\" href=\"y href=z\">", {{0, 12, 28}}},
      {"<a title=\">\" href=c>", {}},                     // the pattern stops at the first ">"
      {"<p /<a ='x href=y>", {}},          // "<a" inside <p: its "='x" opens a value there
  };
  for (const Case& c : cases) EXPECT_EQ(Scanner(c.text, "a", "href"), c.expected) << c.text;
}

// Attribute values masked (every byte but ">" and LF made a letter), the bare
// pattern gives what the scanner gives on the real text: a name there is a
// value's text ("r= href=y" gives r the value "href=y").
std::string Masked(const std::string& text) {
  std::string masked = text;
  const testing::Markup markup = testing::Tokenize(text, false);
  for (const std::vector<std::size_t>* values : {&markup.quotes, &markup.unquoted}) {
    for (std::size_t k = 0; k + 1 < values->size(); k += 2) {
      for (std::size_t p = (*values)[k]; p <= (*values)[k + 1]; ++p) {
        if (masked[p] != '>' && masked[p] != '\n') masked[p] = 'q';
      }
    }
  }
  return masked;
}

TEST(AttributeScanner, AgreesWithRegexOnGeneratedTags) {
  const std::vector<std::string> pieces = {"<a", "<A", "<ab", "</a>", ">", " ", " ", "h=",
                                           " h=", " H=", "=", "\n", "\t", "x", "\"", "/", "'>'",
                                           "='", "=\"", " h=\"", "<a h='"};
  std::mt19937 engine(7);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 14);
  int with_matches = 0, masked_differs = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int n = length(engine); n > 0; --n) text += pieces[pick(engine)];
    std::string masked = Masked(text);
    auto expected = Reference(masked, "a", "h");
    with_matches += !expected.empty();
    masked_differs += masked != text && expected != Reference(text, "a", "h");
    ASSERT_EQ(Scanner(text, "a", "h", &masked), expected) << "text: " << text;
  }
  EXPECT_GT(with_matches, 500) << "the generator must produce matches";
  EXPECT_GT(masked_differs, 200) << "and quoted values that change them";
}

TEST(AttributeScanner, LinearOnHostileInput) {
  // Many candidates and spaces before a single ">": each byte is scanned once.
  std::string many_open;
  for (int i = 0; i < 200000; ++i) many_open += "<a h ";
  many_open += ">";
  EXPECT_TRUE(Scanner(many_open, "a", "h").empty());
  std::string no_gt;
  for (int i = 0; i < 200000; ++i) no_gt += "<a h=1 ";
  EXPECT_TRUE(Scanner(no_gt, "a", "h").empty());
}

}  // namespace
}  // namespace vantoro::internal
