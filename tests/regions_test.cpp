// Protected regions: which "<" the passes may start at, and which bytes are quoted
// attribute values. Examples, then the scanner against the model of html_model.h
// on many generated tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "html/protected_regions.h"
#include "html_model.h"

namespace vantoro::internal {
namespace {

std::vector<std::size_t> Starts(std::string_view text, RegionSet set) {
  return UnprotectedTags(text, set);
}

using V = std::vector<std::size_t>;

TEST(ProtectedRegions, Comments) {
  EXPECT_EQ(Starts("<a><!-- <b> --><c>", RegionSet::kPage), (V{0, 15}));
  EXPECT_EQ(Starts("<!--><a>", RegionSet::kPage), (V{5}));
  EXPECT_EQ(Starts("<!---><a>", RegionSet::kPage), (V{6}));
  EXPECT_EQ(Starts("<!-- <a>", RegionSet::kPage), V{});
  EXPECT_EQ(Starts("<!--[if IE]><p><![endif]--><p>", RegionSet::kPage), (V{27}));
  // Only between tags: inside a tag "<!--" opens nothing.
  EXPECT_EQ(Starts("<a title=\"<!--\"><b>--><c>", RegionSet::kPage), (V{0, 16, 22}));
  EXPECT_EQ(Starts("<a title=x<!--y><b>", RegionSet::kPage), (V{0, 10, 16}));
}

TEST(ProtectedRegions, RawText) {
  // The start and end tags are outside; what lies between is not.
  EXPECT_EQ(Starts("<script>a<b</script><c>", RegionSet::kPage), (V{0, 11, 20}));
  EXPECT_EQ(Starts("<SCRIPT type=x>a<b</Script >", RegionSet::kPage), (V{0, 18}));
  EXPECT_EQ(Starts("<title>x<p></title>", RegionSet::kPage), (V{0, 11}));
  EXPECT_EQ(Starts("<TEXTAREA\n><br></textarea>", RegionSet::kPage), (V{0, 15}));
  EXPECT_EQ(Starts("<Xmp/><p></xmp>", RegionSet::kPage), (V{0, 9}));
  EXPECT_EQ(Starts("<STYLE>p<b", RegionSet::kPage), (V{0}));
  EXPECT_EQ(Starts("<p><style a=\"<b>", RegionSet::kPage), (V{0}));  // no ">" outside quotes
  EXPECT_EQ(Starts("<script <p>", RegionSet::kPage), (V{0, 8}));  // inside the start tag
  EXPECT_EQ(Starts("<script <p", RegionSet::kPage), V{});  // no ">": to the end, the tag too
  EXPECT_EQ(Starts("<style a=\"<div>\"><p></style>", RegionSet::kPage), (V{0, 20}));
  EXPECT_EQ(Starts("<title x=\"<!--\">a<p>--><b></title><i>", RegionSet::kPage), (V{0, 26, 34}));
  EXPECT_EQ(Starts("<scripts><p>", RegionSet::kPage), (V{0, 9}));  // another element
  EXPECT_EQ(Starts("<script><!--</script><p>", RegionSet::kPage), (V{0, 12, 21}));
  // A raw-text element opens only between tags.
  EXPECT_EQ(Starts("<a title='<script>'><p>", RegionSet::kPage), (V{0, 20}));
}

TEST(ProtectedRegions, QuotedAttributeValues) {
  EXPECT_EQ(Starts("<div data-content='<p>Popover</p>'>x</div>", RegionSet::kContent), (V{0, 36}));
  EXPECT_EQ(Starts("<a title=\"a>b<c\" x=<d>", RegionSet::kPage), (V{0, 19}));
  EXPECT_EQ(Starts("<a title= \t'<p>'>", RegionSet::kPage), (V{0}));   // whitespace around "="
  EXPECT_EQ(Starts("<a title ='<p>'>", RegionSet::kPage), (V{0}));
  EXPECT_EQ(Starts("<a ='<p>'>", RegionSet::kPage), (V{0, 5}));        // "=" begins a name
  EXPECT_EQ(Starts("<a b=c'<p>'>", RegionSet::kPage), (V{0, 7}));      // an unquoted value
  EXPECT_EQ(Starts("<a/b='<p>'>", RegionSet::kPage), (V{0}));          // "/" between attributes
  EXPECT_EQ(Starts("<a b='x'c='<p>'>", RegionSet::kPage), (V{0}));
  EXPECT_EQ(Starts("<a b=\"<p>", RegionSet::kPage), (V{0}));            // open to the end
  EXPECT_EQ(Starts("</a b='<p>'><br>", RegionSet::kPage), (V{0, 12}));  // end tags too
  EXPECT_EQ(Starts("< a='<p>'><br>", RegionSet::kPage), (V{0, 5, 10}));  // not a tag
  EXPECT_EQ(Starts("<a<p>", RegionSet::kPage), (V{0, 2}));  // inside the tag's name
  EXPECT_EQ(Starts("<!DOCTYPE a='<p>'>", RegionSet::kPage), (V{0, 13}));

  MarkupIndex index;
  V quotes;
  const std::string tag = "<a b='x' c=\"\" d=<e>";
  ScanMarkup(tag, RegionSet::kPage, false, index, &quotes);
  EXPECT_EQ(quotes, (V{5, 7, 11, 12}));
  EXPECT_EQ(index.in_tag, (V{16}));
  TagReader reader(tag, 0, false);
  for (std::size_t pos = 0; pos < 16; ++pos) {
    EXPECT_EQ(reader.Quoted(pos), (pos >= 5 && pos <= 7) || pos == 11 || pos == 12) << pos;
  }
}

TEST(ProtectedRegions, GapsInTheWorkingText) {
  // An opened gap counts as whitespace, a doubled NUL as one character.
  MarkupIndex index;
  V quotes;
  std::string text = std::string("<a\0\1b='<p>'><c\0\0 x='<p>'>", 25);
  ScanMarkup(text, RegionSet::kPage, true, index, &quotes);
  EXPECT_EQ(index.unprotected, (V{0, 12}));
  EXPECT_EQ(quotes, (V{6, 10, 19, 23}));
  EXPECT_TRUE(TagReader(text, 12, true).Quoted(20));
  ScanMarkup(text, RegionSet::kPage, false, index);  // without gaps: "a\0\1b" is one name
  EXPECT_EQ(index.unprotected, (V{0, 7, 12}));
}

TEST(ProtectedRegions, SvgAndMathOnlyForContent) {
  std::string svg = "<svg><path/></path><svg x><p></p></svg></svg><p>";
  EXPECT_EQ(Starts(svg, RegionSet::kContent), (V{45}));
  EXPECT_EQ(Starts(svg, RegionSet::kPage).size(), 9u);
  EXPECT_EQ(Starts("<math><mi>x</mi></math ><br>", RegionSet::kContent), (V{24}));
  EXPECT_EQ(Starts("<svg><p>", RegionSet::kContent), V{});
  EXPECT_EQ(Starts("<svgx><p>", RegionSet::kContent), (V{0, 6}));
  EXPECT_EQ(Starts("<SVG\n></svg><br>", RegionSet::kContent), (V{12}));
  EXPECT_EQ(Starts("<MATH><p></MATH><br>", RegionSet::kContent), (V{16}));
  EXPECT_EQ(Starts("<Svg/><p></sVg\n>", RegionSet::kContent), V{});
  // Only the end tag of the same name ends it.
  EXPECT_EQ(Starts("<svg><p></svgx><br></svg-icon><br>", RegionSet::kContent), V{});
  EXPECT_EQ(Starts("<svg><p></svgx></svg><br>", RegionSet::kContent), (V{21}));
  EXPECT_EQ(Starts("<math></math/><br></math><br>", RegionSet::kContent), (V{25}));
  // Not inside a tag.
  EXPECT_EQ(Starts("<a title='<svg>'><br>", RegionSet::kContent), (V{0, 17}));
}

TEST(ProtectedRegions, AgreesWithTheModelOnGeneratedMarkup) {
  const std::vector<std::string> pieces = {
      "<a", "<P", "</a>", "</", "<", ">", " ", "\n", "=", "\"", "'", "/", "x", "title",
      " t=", "='", "=\"", "<!--", "-->", "<!", "<script", "</script>", "<STYLE", "</style",
      "<svg", "</svg>", "</svgx>", "<math", "</MATH >", "<textarea>", "<?x", "<br>", "</p"};
  std::mt19937 engine(11);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 30);
  std::size_t quoted = 0, in_tag = 0;
  for (int i = 0; i < 30000; ++i) {
    std::string text;
    for (int count = length(engine); count > 0; --count) text += pieces[pick(engine)];
    for (RegionSet set : {RegionSet::kPage, RegionSet::kContent}) {
      testing::Markup expected = testing::Tokenize(text, set == RegionSet::kContent);
      MarkupIndex index;
      V quotes;
      ScanMarkup(text, set, false, index, &quotes);
      ASSERT_EQ(index.unprotected, expected.unprotected) << text;
      ASSERT_EQ(quotes, expected.quotes) << text;
      ASSERT_EQ(index.in_tag, expected.in_tag) << text;
      // The visiting scan tells of exactly the "<" between tags, in order, and
      // never of one a raw-text tag without ">" took back.
      struct Collect final : MarkupVisitor {
        void Visit(std::size_t lt) override { seen.push_back(lt); }
        V seen;
      } visitor;
      ScanMarkup(text, set, false, visitor);
      V between;
      std::set_difference(expected.unprotected.begin(), expected.unprotected.end(),
                          expected.in_tag.begin(), expected.in_tag.end(),
                          std::back_inserter(between));
      ASSERT_EQ(visitor.seen, between) << text;
      quoted += expected.quotes.size();
      in_tag += expected.in_tag.size();
    }
  }
  EXPECT_GT(quoted, 5000u) << "the generator must produce quoted values";
  EXPECT_GT(in_tag, 1000u);
}

}  // namespace
}  // namespace vantoro::internal
