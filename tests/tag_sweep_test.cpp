// The page pass in one sweep against the rules one after the other: the same
// bytes and the same number of draws, on generated markup that is mostly
// malformed, on the hand-picked cases where one rule's match runs over another
// rule's tag, and on the saved real pages.
#include <gtest/gtest.h>

#include <random>

#include "page/page_pass.h"
#include "page/tag_rule.h"
#include "test_support.h"

namespace vantoro {
namespace {

using internal::PageSettings;

struct Outcome {
  std::string page;
  std::size_t draws;
};

// `count` replayed values are plenty for generated pages; real ones draw for
// every gap and need many more.
template <class Pass>
Outcome RunWith(Pass pass, const std::string& page, const PageSettings& settings, unsigned seed,
                std::size_t count = 4000) {
  ScriptedRandomSource values(testing::SeededValues(count, seed));
  ScopedRandomSource use(values);
  std::string out = pass(page, settings);
  return {out, values.used()};
}

// Compares the two ways on `page`; true when they agree.
bool SameBothWays(const std::string& page, const PageSettings& settings, unsigned seed) {
  auto sweep = [](std::string_view p, const PageSettings& s) { return internal::PagePass(p, s); };
  auto rules = [](std::string_view p, const PageSettings& s) {
    return internal::PagePassRuleByRule(p, s);
  };
  Outcome a = RunWith(sweep, page, settings, seed);
  Outcome b = RunWith(rules, page, settings, seed);
  EXPECT_EQ(a.page, b.page) << "page: " << ::testing::PrintToString(page);
  EXPECT_EQ(a.draws, b.draws) << "page: " << ::testing::PrintToString(page);
  return a.page == b.page && a.draws == b.draws;
}

PageSettings Default() {
  return {internal::CommonAttributes(), internal::DefaultVersionText(), nullptr};
}

// Pieces that make every rule's tags, their attributes, and the malformed forms
// the matching has to agree on: values opened by the tag's own ">", tags
// without ">", end tags with more than their name ("</td >", "</A/>"), "<"
// inside tags, quotes left open, declarations around tags.
const std::vector<std::string>& Pieces() {
  static const std::vector<std::string> pieces = {
      "<html", "<HEAD", "<title>", "</title>", "<style", "</style>", "<body", "<a", "<A ",
      "<img", "<br", "<br>", "<table", "<tr", "<td", "<p", "<div", "<input", "<option",
      "<span", "</a>", "</p>", "</div>", "</span>", "</td>", "</tr>", "</body>", "</html>",
      "</head>", "</table>", "</br>", "</img>", " name=", " id=", " width=", " height=",
      " href=", " target=", " src=", " alt=", " border=", " style=", " class=", " type=",
      " ID=", "=>", "=", ">", ">", ">", " ", " ", "\t", "\n", "\r\n", "/", "x", "1", "\"",
      "'", "\"a b\"", "'>'", "\" id=x \"", "<!--", "-->", "<!-- c -->", "<!DOCTYPE html>",
      "<!DOCTYPE ", "<!doctype x>\n", "<?xml version=\"1.0\"?>", "&am", "p;", "<", "</",
      "<!", "<script>", "</script>", "<svg>", "<textarea>", "</textarea>", "<pre>", "<header",
      "<tbody", " title=", " data-id=", "</td", "</A", "</span", "</tdx>"};
  return pieces;
}

std::string Generated(std::mt19937& engine, int max_pieces) {
  return testing::JoinedPieces(engine, Pieces(), max_pieces);
}

TEST(TagSweep, AgreesWithTheRulesOnGeneratedMarkup) {
  std::mt19937 engine(16);
  PageSettings settings = Default();
  for (unsigned i = 0; i < 10000; ++i) {
    if (!SameBothWays(Generated(engine, i % 2 == 0 ? 12 : 60), settings, i)) return;
  }
}

TEST(TagSweep, AgreesWithOtherAttributeLists) {
  // The component's own list, a repeated name, an empty one (" =" matches), and
  // a rule's own attribute among the common ones.
  const std::vector<std::vector<std::string_view>> lists = {
      {"name", "id"}, {"id", "id"}, {"", "id"}, {"class", "href", "width"}, {"x-y", "a_b"}};
  std::mt19937 engine(17);
  for (const auto& list : lists) {
    PageSettings settings = Default();
    settings.common_attributes = list;
    for (unsigned i = 0; i < 1500; ++i) {
      if (!SameBothWays(Generated(engine, 30), settings, i)) return;
    }
  }
}

TEST(TagSweep, MatchesThatRunOverOtherRulesTags) {
  // A value opened by the tag's own ">" runs to the next ">": over a tag an
  // earlier rule rewrote, in front of which it put a comment ("a" puts one in
  // front of tags with a target, "div" with a class), or over a closing tag
  // that got a comment behind it.
  const std::vector<std::string> pages = {
      "<span id=><a target=_b>x</a>y>z<span class=c>s</span>",
      "<span class=><a target=t href=h>z</a><span id=> <span id=i>",
      "<div id=><img border=0 src=s>w> <div class=k>",
      "<p id=></a>q> <p id=r>t</p>",
      "<td width=><a target=t>a>b<td width=3>",
      "<span id=><div class=x><span id=y></div>>",
      "<option name=><a target=x>o>",
      "<!DOCTYPE <a target=t>x>\n<p>",
      "<!DOCTYPE html><a target=_blank id=x>y</a>",
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!DOCTYPE html>\n<html><a target=t>",
      "<a id=x<a target=y>>",
      "<a target=\"x>y\" id=z>w</a>",
      "<img src=1 alt=2 border=3 width=4 height=5 name=6 id=7>"};
  PageSettings settings = Default();
  for (unsigned seed = 0; seed < 200; ++seed) {
    for (const std::string& page : pages) {
      if (!SameBothWays(page, settings, seed)) return;
    }
  }
}

TEST(TagSweep, TagsOfVeryManyAttributesAgree) {
  // More places behind spaces than the scan lists: the sweep reads the tag
  // itself, values and names that look like attributes inside values included.
  const std::vector<std::string> attributes = {
      " x", " id=1", " r=", " href=y", " name=\"a id=b\"", " target=", "\t", " ", "/",
      " width='w x'", " =", " class=c", " id= width=2"};
  std::mt19937 engine(18);
  PageSettings settings = Default();
  for (unsigned i = 0; i < 300; ++i) {
    std::string page = i % 2 == 0 ? "<a" : "<img";
    const std::size_t n = 100 + engine() % 300;
    for (std::size_t k = 0; k < n; ++k) page += attributes[engine() % attributes.size()];
    page += "><p id=2>x</p>";
    if (!SameBothWays(page, settings, i)) return;
  }
}

TEST(TagSweep, PagesWithNulBytesTakeTheRules) {
  // The sweep does not take them; the pass must still agree with itself.
  std::string page("<a id=x>\0<p id=\0>q</p>", 22);
  Outcome a = RunWith([](std::string_view p, const PageSettings& s) { return internal::PagePass(p, s); },
                  page, Default(), 3);
  EXPECT_NE(a.page.find(std::string("\0<", 2)), std::string::npos);
  EXPECT_TRUE(SameBothWays(page, Default(), 3));
}

TEST(TagSweep, ALargePageLeavesNoLargeBuffersBehind) {
  // Half a million tags: their records alone take more than the 4 MB a thread
  // keeps per buffer.
  std::string page;
  for (int i = 0; i < 500000; ++i) page += "<p id=a>x</p>";
  std::string out = internal::PagePass(page, Default());
  EXPECT_GT(out.size(), page.size());
  EXPECT_LE(internal::PagePassRetainedBytes(), std::size_t{2} * (4 << 20));
  // Small pages keep what they use, for the next call.
  out = internal::PagePass(std::string_view("<p id=a>x</p>"), Default());
  EXPECT_GT(internal::PagePassRetainedBytes(), 0u);
}

TEST(TagSweep, ARaisedRetainedLimitKeepsALargePagesBuffers) {
  std::string page;
  for (int i = 0; i < 500000; ++i) page += "<p id=a>x</p>";
  const std::size_t before = RetainedMemory();
  SetRetainedMemory(std::size_t{64} << 20);
  auto pass = [](std::string_view p, const PageSettings& s) { return internal::PagePass(p, s); };
  Outcome first = RunWith(pass, page, Default(), 3, 2000000);
  const std::size_t kept = internal::PagePassRetainedBytes();
  // The next page of that size reuses them: the same bytes for the same draws.
  Outcome again = RunWith(pass, page, Default(), 3, 2000000);
  SetRetainedMemory(before);
  EXPECT_GT(kept, std::size_t{2} * (4 << 20));  // more than the default lets stay
  EXPECT_TRUE(again.page == first.page);
  // Lowered again, the next call gives them back.
  std::string out = internal::PagePass(std::string_view("<p id=a>x</p>"), Default());
  EXPECT_LE(internal::PagePassRetainedBytes(), std::size_t{2} * (4 << 20));
}

TEST(TagSweep, AgreesOnSavedRealPages) {
  auto saved = testing::SavedPages();
  if (!saved) GTEST_SKIP() << "no corpus at " << VANTORO_TEST_CORPUS;
  auto sweep = [](std::string_view p, const PageSettings& s) { return internal::PagePass(p, s); };
  auto rules = [](std::string_view p, const PageSettings& s) {
    return internal::PagePassRuleByRule(p, s);
  };
  int pages = 0;
  for (const testing::SavedPage& page : *saved) {
    ++pages;
    Outcome a = RunWith(sweep, page.text, Default(), 5, 400000);
    Outcome b = RunWith(rules, page.text, Default(), 5, 400000);
    EXPECT_EQ(a.page, b.page) << page.name;
    EXPECT_EQ(a.draws, b.draws) << page.name;
  }
  EXPECT_GT(pages, 0);
}

}  // namespace
}  // namespace vantoro
