// Protected regions: which "<" the passes may start at, and which bytes are quoted
// attribute values. Examples, then the scanner against the model of html_model.h
// on many generated pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <random>

#include "html/head_start.h"
#include "html/protected_regions.h"
#include "html_model.h"

namespace vantoro::internal {
namespace {

// Both region sets read a page alike: every example checks that too.
std::vector<std::size_t> Starts(std::string_view text) {
  std::vector<std::size_t> page = UnprotectedTags(text, RegionSet::kPage);
  EXPECT_EQ(UnprotectedTags(text, RegionSet::kContent), page) << text;
  return page;
}

using V = std::vector<std::size_t>;

struct Scan {
  V unprotected, in_tag, quotes;
};

Scan Scanned(std::string_view text) {
  MarkupIndex index;
  Scan scan;
  ScanMarkup(text, RegionSet::kPage, false, index, &scan.quotes);
  scan.unprotected = index.unprotected;
  scan.in_tag = index.in_tag;
  return scan;
}

TEST(ProtectedRegions, Comments) {
  EXPECT_EQ(Starts("<a><!-- <b> --><c>"), (V{0, 15}));
  EXPECT_EQ(Starts("<!--><a>"), (V{5}));   // the opening's dashes end it
  EXPECT_EQ(Starts("<!---><a>"), (V{6}));
  EXPECT_EQ(Starts("<!---x--><a>"), (V{9}));
  EXPECT_EQ(Starts("<!-- <a>"), V{});
  EXPECT_EQ(Starts("<!--[if IE]><p><![endif]--><p>"), (V{27}));
  EXPECT_EQ(Starts("<!-- --!><a>"), (V{9}));  // "--!>" ends it too
  EXPECT_EQ(Starts("<!----!><a>"), (V{8}));
  EXPECT_EQ(Starts("<!--!><a>--><b>"), (V{12}));  // "!>" alone does not
  EXPECT_EQ(Starts("<!-- -- ><a>--><b>"), (V{15}));
  EXPECT_EQ(Starts("<!--<!--><a>"), (V{9}));  // a nested opening changes nothing
  // Only between tags: inside a tag "<!--" opens nothing.
  EXPECT_EQ(Starts("<a title=\"<!--\"><b>--><c>"), (V{0, 16, 22}));
  EXPECT_EQ(Starts("<a title=x<!--y><b>"), (V{0, 10, 16}));
}

TEST(ProtectedRegions, BogusCommentsAndDeclarations) {
  // Any other "<!", "<?" and "</" with no letter run to the first ">"; their
  // "<" is not reported.
  EXPECT_EQ(Starts("<!x <a><b>"), (V{7}));
  EXPECT_EQ(Starts("<?x <a><b>"), (V{7}));
  EXPECT_EQ(Starts("<?xml version='1.0'?><p>"), (V{21}));
  EXPECT_EQ(Starts("</ <a><b>"), (V{6}));
  EXPECT_EQ(Starts("</1<a><b>"), (V{6}));
  EXPECT_EQ(Starts("<!-x><a>"), (V{5}));
  EXPECT_EQ(Starts("<!><a>"), (V{3}));
  EXPECT_EQ(Starts("<!DOCTYP <p>"), V{});
  EXPECT_EQ(Starts("<?x <p"), V{});            // to the end
  EXPECT_EQ(Starts("</><a>"), (V{3}));          // dropped, neither tag nor text
  // Outside svg and math a CDATA opening is a bogus comment too.
  EXPECT_EQ(Starts("<![CDATA[<p>]]><br>"), (V{15}));
  EXPECT_EQ(Starts("<![CDATA[a>b<p>]]><p>"), (V{12, 18}));
  // A declaration runs to its first ">", quotes or not; its "<" is reported.
  EXPECT_EQ(Starts("<!DOCTYPE a='<p>'><b>"), (V{0, 18}));
  EXPECT_EQ(Starts("<!doctype html><p>"), (V{0, 15}));
  EXPECT_EQ(Starts("<!DocType\n\"<p>\"><b>"), (V{0, 16}));
  EXPECT_EQ(Starts("<!DOCTYPE <p"), (V{0}));
  EXPECT_TRUE(Scanned("<!DOCTYPE a='<p>'>").quotes.empty());
  // "<" before anything else is text, and reported.
  EXPECT_EQ(Starts("a<1<=<\n<p>"), (V{1, 3, 5, 7}));
  EXPECT_EQ(Starts("<p><"), (V{0, 3}));
  EXPECT_EQ(Starts("<p></"), (V{0, 3}));
}

TEST(ProtectedRegions, RawText) {
  // The start and end tags are outside; what lies between is not.
  EXPECT_EQ(Starts("<script>a<b</script><c>"), (V{0, 11, 20}));
  EXPECT_EQ(Starts("<SCRIPT type=x>a<b</Script >"), (V{0, 18}));
  EXPECT_EQ(Starts("<title>x<p></title>"), (V{0, 11}));
  EXPECT_EQ(Starts("<TEXTAREA\n><br></textarea>"), (V{0, 15}));
  EXPECT_EQ(Starts("<Xmp/><p></xmp>"), (V{0, 9}));
  EXPECT_EQ(Starts("<STYLE>p<b"), (V{0}));
  EXPECT_EQ(Starts("<p><style a=\"<b>"), (V{0}));  // no ">" outside quotes
  EXPECT_EQ(Starts("<script <p>"), (V{0, 8}));  // inside the start tag
  EXPECT_EQ(Starts("<script <p"), V{});  // no ">": to the end, the tag too
  EXPECT_EQ(Starts("<style a=\"<div>\"><p></style>"), (V{0, 20}));
  EXPECT_EQ(Starts("<title x=\"<!--\">a<p>--><b></title><i>"), (V{0, 26, 34}));
  EXPECT_EQ(Starts("<scripts><p>"), (V{0, 9}));  // another element
  // A raw-text element opens only between tags.
  EXPECT_EQ(Starts("<a title='<script>'><p>"), (V{0, 20}));
  // Every raw-text element, "<!--" inside or not, ends at its own end tag.
  for (std::string name : {"title", "textarea", "style", "xmp", "iframe", "noembed", "noframes",
                           "noscript"}) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t open = name.size() + 2;
    EXPECT_EQ(Starts("<" + upper + "><p><!--</" + name + ">--><p>"),
              (V{0, open + 7, open + name.size() + 13}))
        << name;
  }
  // The end tag: the element's name, then whitespace, "/" or ">".
  EXPECT_EQ(Starts("<title><titles></titles></title><p>"), (V{0, 24, 32}));
  EXPECT_EQ(Starts("<title>a</title/><p>"), (V{0, 8, 17}));
  EXPECT_EQ(Starts("<textarea>a</textareax></textarea\t><p>"), (V{0, 23, 35}));
  EXPECT_EQ(Starts("<title>a</textarea><p></title>"), (V{0, 22}));  // another's
  EXPECT_EQ(Starts("<title>a</title"), (V{0}));       // text: nothing follows the name
  EXPECT_EQ(Starts("<title>a</title "), (V{0, 8}));   // an end tag, open to the end
  Scan end = Scanned("<title>a</title x='<p>'><p>");  // an end tag reads its attributes
  EXPECT_EQ(end.unprotected, (V{0, 8, 24}));
  EXPECT_EQ(end.quotes, (V{18, 22}));
}

TEST(ProtectedRegions, ScriptData) {
  EXPECT_EQ(Starts("<script><!--</script><p>"), (V{0, 12, 21}));  // escaped: still ends
  // "<!--<script>" double-escapes: its "</script>" goes back to escaped only.
  EXPECT_EQ(Starts("<script><!--<script></script><p>x</script><p>"), (V{0, 33, 42}));
  EXPECT_EQ(Starts("<script><!--<script/></script ><p>x</script><p>"), (V{0, 35, 44}));
  EXPECT_EQ(Starts("<script><!--<SCRIPT>--!></script></script><p>"), (V{0, 33, 42}));
  // "-->" ends the escape, double or not.
  EXPECT_EQ(Starts("<script><!--<script>--></script><p>"), (V{0, 23, 32}));
  EXPECT_EQ(Starts("<script><!--x--><script></script><p>"), (V{0, 24, 33}));
  // No double escape without "<!--" first, nor for another name.
  EXPECT_EQ(Starts("<script><!--<scripts></script><p>"), (V{0, 21, 30}));
  EXPECT_EQ(Starts("<script><!-<script></script><p>"), (V{0, 19, 28}));
  EXPECT_EQ(Starts("<script><script></script><p>"), (V{0, 16, 25}));
  EXPECT_EQ(Starts("<script>a<!--<script>"), (V{0}));
}

TEST(ProtectedRegions, Plaintext) {
  EXPECT_EQ(Starts("<plaintext><p></plaintext><p>"), (V{0}));
  EXPECT_EQ(Starts("<p><PLAINTEXT/>x<br>"), (V{0, 3}));
  EXPECT_EQ(Starts("</plaintext><p>"), (V{0, 12}));  // an end tag switches nothing
}

TEST(ProtectedRegions, QuotedAttributeValues) {
  EXPECT_EQ(Starts("<div data-content='<p>Popover</p>'>x</div>"), (V{0, 36}));
  EXPECT_EQ(Starts("<a title=\"a>b<c\" x=<d>"), (V{0, 19}));
  EXPECT_EQ(Starts("<a title= \t'<p>'>"), (V{0}));   // whitespace around "="
  EXPECT_EQ(Starts("<a title ='<p>'>"), (V{0}));
  EXPECT_EQ(Starts("<a ='<p>'>"), (V{0, 5}));        // "=" begins a name
  EXPECT_EQ(Starts("<a b=c'<p>'>"), (V{0, 7}));      // an unquoted value
  EXPECT_EQ(Starts("<a/b='<p>'>"), (V{0}));          // "/" between attributes
  EXPECT_EQ(Starts("<a b='x'c='<p>'>"), (V{0}));
  EXPECT_EQ(Starts("<a b=\"<p>"), (V{0}));            // open to the end
  EXPECT_EQ(Starts("</a b='<p>'><br>"), (V{0, 12}));  // end tags too
  EXPECT_EQ(Starts("< a='<p>'><br>"), (V{0, 5, 10}));  // not a tag
  EXPECT_EQ(Starts("<a<p>"), (V{0, 2}));  // inside the tag's name

  // "r= href='<p>'": whitespace after "=" is skipped, so "href='<p" is r's
  // unquoted value, up to the ">" that ends the tag.
  Scan r = Scanned("<a r= href='<p>'>");
  EXPECT_EQ(r.unprotected, (V{0, 12}));
  EXPECT_EQ(r.in_tag, (V{12}));
  EXPECT_EQ(r.quotes, V{});
  EXPECT_EQ(Scanned("<a r=x href='<p>'>").quotes, (V{12, 16}));
  // A raw-text start tag open to the end still tells its quoted values.
  EXPECT_EQ(Scanned("<title a='<p>'").quotes, (V{9, 13}));

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

// Where the tree builder's state, not the tag's name, decides: the model leaves
// these out, so the expectations are written from the tree-construction rules.
TEST(ProtectedRegions, TreeContext) {
  // svg and math are read like any element, by both sets.
  EXPECT_EQ(Starts("<svg><path/></path><svg x><p></p></svg></svg><p>"),
            (V{0, 5, 12, 19, 26, 29, 33, 39, 45}));
  EXPECT_EQ(Starts("<math><mi>x</mi></math ><br>"), (V{0, 6, 11, 16, 24}));
  // Inside svg, title, style and script are svg elements: no raw text.
  EXPECT_EQ(Starts("<svg><title><!--</title><p>"), (V{0, 5}));  // a comment to the end
  EXPECT_EQ(Starts("<svg><title><p></title>"), (V{0, 5, 12, 15}));
  EXPECT_EQ(Starts("<svg><style><p></style>"), (V{0, 5, 12, 15}));
  EXPECT_EQ(Starts("<svg><script><p></script>"), (V{0, 5, 13, 16}));
  EXPECT_EQ(Starts("<svg><textarea><p>"), (V{0, 5, 15}));
  EXPECT_EQ(Starts("<svg><plaintext><p>"), (V{0, 5, 16}));
  EXPECT_EQ(Starts("<math><style><p></style>"), (V{0, 6, 13, 16}));
  EXPECT_EQ(Starts("<math><xmp><p>"), (V{0, 6, 11}));
  // HTML and MathML text integration points read HTML: raw text again.
  EXPECT_EQ(Starts("<svg><desc><title><p></title>"), (V{0, 5, 11, 21}));
  EXPECT_EQ(Starts("<svg><foreignObject><style><p></style>"), (V{0, 5, 20, 30}));
  EXPECT_EQ(Starts("<math><mi><style><p></style>"), (V{0, 6, 10, 20}));
  EXPECT_EQ(Starts("<math><mtext><textarea><p>"), (V{0, 6, 13}));
  // A breakout tag (p) and an end tag close svg.
  EXPECT_EQ(Starts("<svg><p><style><p></style>"), (V{0, 5, 8, 18}));
  EXPECT_EQ(Starts("<svg></svg><title><p>"), (V{0, 5, 11}));
  // CDATA sections: in an svg or MathML element (integration points too), to "]]>".
  EXPECT_EQ(Starts("<svg><![CDATA[<p>]]><p>"), (V{0, 20}));
  EXPECT_EQ(Starts("<svg><![CDATA[a>b<p>]]><p>"), (V{0, 23}));
  EXPECT_EQ(Starts("<svg><![CDATA[<p>"), (V{0}));
  EXPECT_EQ(Starts("<math><mi><![CDATA[<p>]]>"), (V{0, 6}));
  EXPECT_EQ(Starts("<svg><foreignObject><![CDATA[<p>]]>"), (V{0, 5}));
  // In an HTML element inside svg it is a bogus comment, to the first ">".
  EXPECT_EQ(Starts("<svg><foreignObject><div><![CDATA[<p>]]>"), (V{0, 5, 20}));
  // Raw text through the in-head rules from other modes.
  EXPECT_EQ(Starts("<select><script><p>"), (V{0, 8}));
  EXPECT_EQ(Starts("<table><style><p>"), (V{0, 7}));
  EXPECT_EQ(Starts("<table><td><style><p>"), (V{0, 7, 11}));
  EXPECT_EQ(Starts("<frameset><noframes><p>"), (V{0, 10}));
  EXPECT_EQ(Starts("<frameset><style><p>"), (V{0, 10, 17}));  // ignored in a frameset
}

// A NUL in a tag's name is part of the name: "script\0" is no script, and what
// follows it is markup; "style" behind it opens raw text. Known names are
// compared in zero-padded words, so each NUL case must differ from the name
// without it in length only.
TEST(ProtectedRegions, NamesHoldingNulAreNoKnownTags) {
  using namespace std::string_literals;
  EXPECT_EQ(Starts("<script\0><b>x</b>"s), (V{0, 9, 13}));
  EXPECT_EQ(Starts("<script\0\0\0\0><style>'</script><b></style><p>"s), (V{0, 12, 32, 40}));
  EXPECT_EQ(Starts("<svg\0><title><p></title>"s), (V{0, 6, 16}));  // no svg: title is raw text
  EXPECT_EQ(Starts("<textarea\0\0\0\0\0\0><p>"s), (V{0, 16}));  // 14 bytes, as annotation-xml
  EXPECT_EQ(Starts("<table><td\0><style><p>"s), (V{0, 7, 12}));
}

// The newest browsers read the inside of select by the in-body rules (the
// select element may hold any content): style, title, xmp and the like are raw
// text there as anywhere in the body. The scanner keeps to the older rules,
// which ignore them inside a select, as the reference parser of tests/parse
// does: a comment opened inside them would end elsewhere for each reading, so
// no one reading is safe for both. Disabled: it records the difference.
TEST(ProtectedRegions, DISABLED_RawTextInsideSelect) {
  EXPECT_EQ(Starts("<select><style><p>"), (V{0, 8}));
  EXPECT_EQ(Starts("<select><title><p>"), (V{0, 8}));
  EXPECT_EQ(Starts("<select><xmp><p>"), (V{0, 8}));
  EXPECT_EQ(Starts("<select><plaintext><p>"), (V{0, 8}));
  EXPECT_EQ(Starts("<select><option><noscript><p>"), (V{0, 8, 16}));
  EXPECT_EQ(Starts("<table><select><style><p>"), (V{0, 7, 15}));
}

// In svg or math, the end tags "</p>" and "</br>" close the foreign elements
// (as the start tags "<p>" and "<br>" do) before the body reads them: a style
// behind them is raw text.
TEST(ProtectedRegions, EndTagPLeavesForeignContent) {
  EXPECT_EQ(Starts("<svg></p><style><p>"), (V{0, 5, 9}));
  EXPECT_EQ(Starts("<svg><g></P ><style><p>"), (V{0, 5, 8, 13}));
  EXPECT_EQ(Starts("<svg></br><style><p>"), (V{0, 5, 10}));
  EXPECT_EQ(Starts("<math></p><style><p>"), (V{0, 6, 10}));
}

// Names of every length across the first 16 bytes and past them, ended by each
// byte that ends one, with a "<" or NUL in them before or behind the end.
TEST(ProtectedRegions, NamesEndAtTheirFirstEndingByteAtAnyLength) {
  using namespace std::string_literals;
  for (std::size_t length = 1; length <= 40; ++length) {
    for (char end : " \t\n\f\r/>"s) {
      for (std::string inside : {""s, "<"s, "\0"s}) {
        for (std::size_t at = 0; at <= length; at += inside.empty() ? length + 1 : 1) {
          std::string name(length, 'n');
          name.insert(at, inside);
          const std::string text = "<" + name + end + " t='<p>'>" + name + "<p x='>'>";
          testing::Markup expected = testing::Tokenize(text);
          const Scan scan = Scanned(text);
          ASSERT_EQ(scan.unprotected, expected.unprotected) << length << " " << at;
          ASSERT_EQ(scan.quotes, expected.quotes) << length << " " << at;
          ASSERT_EQ(scan.in_tag, expected.in_tag) << length << " " << at;
        }
      }
    }
  }
  // A raw-text element's name read too far is no such name, and what follows
  // it reads otherwise.
  for (std::string name : {"xmp", "style", "script", "noembed", "textarea", "plaintext"}) {
    for (char end : " \t\n\f\r/>"s) {
      const std::string text = "<" + name + end + " t=x><p></" + name + "><b>" + std::string(20, ' ');
      testing::Markup expected = testing::Tokenize(text);
      ASSERT_EQ(Scanned(text).unprotected, expected.unprotected) << name << " " << int{end};
    }
  }
}

TEST(ProtectedRegions, AgreesWithTheModelOnGeneratedMarkup) {
  // Pieces for every tokenizer state, in plain HTML only (no svg, math,
  // select, table, template or frameset names can form): there the model's
  // switching by name is what the tree builder does.
  // Tags and attributes come three times as often as the rest, which mostly
  // opens regions.
  const std::vector<std::string> tags = {
      "<a", "<P", "</a>", "</", "<", ">", " ", "\n", "=", "\"", "'", "/", "x", " t=", "='",
      "=\"", " t='<p>'", "=\"a>b\"", " u=\"-->'\"", "<br>", "</p", "<1", "<="};
  const std::vector<std::string> regions = {
      // comments, bogus comments, declarations
      "<!--", "-->", "--!>", "-", "!", "<!-", "<!", "<?", "<?x", "</ ", "</>", "<!DOCTYPE",
      "<!doctype x", "<![CDATA[", "]]>",
      // raw text
      "<script", "<script>", "<SCRIPT>", "</script", "</script>", "<!--<script>", "<scriptx>",
      "<style", "<STYLE>", "</style", "<title>", "</title", "</titles>", "<textarea>",
      "</textarea>", "<xmp>", "</XMP>", "<iframe>", "</iframe>", "<noembed>", "</noembed>",
      "<noframes>", "</noframes>", "<noscript>", "</noscript>", "<plaintext>"};
  std::mt19937 engine(11);
  std::uniform_int_distribution<std::size_t> pick_tag(0, tags.size() - 1);
  std::uniform_int_distribution<std::size_t> pick_region(0, regions.size() - 1);
  std::bernoulli_distribution tag_piece(0.75);
  std::uniform_int_distribution<int> length(0, 30);
  std::size_t quoted = 0, in_tag = 0, raw = 0, comments = 0;
  std::uint64_t states = 0;
  for (int i = 0; i < 60000; ++i) {
    std::string text;
    for (int count = length(engine); count > 0; --count) {
      text += tag_piece(engine) ? tags[pick_tag(engine)] : regions[pick_region(engine)];
    }
    testing::Markup expected = testing::Tokenize(text);
    for (RegionSet set : {RegionSet::kPage, RegionSet::kContent}) {
      MarkupIndex index;
      V quotes;
      ScanMarkup(text, set, false, index, &quotes);
      ASSERT_EQ(index.unprotected, expected.unprotected) << text;
      ASSERT_EQ(quotes, expected.quotes) << text;
      ASSERT_EQ(index.in_tag, expected.in_tag) << text;
      // The visiting scan tells of exactly the "<" between tags, in order, and
      // never of one a raw-text tag without ">" took back.
      struct Collect final : MarkupVisitor {
        void Visit(std::size_t lt, const TreeBuilder&, const ScannedTag&) override {
          seen.push_back(lt);
        }
        V seen;
      } visitor;
      ScanMarkup(text, set, false, visitor);
      V between;
      std::set_difference(expected.unprotected.begin(), expected.unprotected.end(),
                          expected.in_tag.begin(), expected.in_tag.end(),
                          std::back_inserter(between));
      ASSERT_EQ(visitor.seen, between) << text;
    }
    quoted += expected.quotes.size();
    in_tag += expected.in_tag.size();
    raw += expected.raw_texts.size();
    comments += expected.comments.size();
    states |= expected.states_seen;
  }
  // The generator must reach what it is for.
  EXPECT_GT(quoted, 15000u) << "quoted values";
  EXPECT_GT(in_tag, 30000u) << "\"<\" inside tags";
  EXPECT_GT(raw, 15000u) << "raw texts";
  EXPECT_GT(comments, 15000u) << "comments";
  for (int state = 0; state < static_cast<int>(testing::model::State::kStates); ++state) {
    EXPECT_TRUE(states >> state & 1) << "tokenizer state " << state << " never reached";
  }
}

// A page without "<head" anywhere is decided by its first start tag, however
// far the prefixes would have to grow: the same place as when a "<head" that
// does not count (in a comment at the end) makes the whole page be read.
TEST(HeadStart, PagesWithoutAHeadTagAreDecidedByTheirFirstStartTag) {
  const std::vector<std::string> pieces = {
      "text ", "<!-- x <p> -->", "<script>a<b</script>", "</div>", "<!DOCTYPE html>",
      "<a href='<x'>", "<br/>", "<title>t<p></title>", "<?x <p>?>", "<p>", std::string(3000, 'w')};
  std::mt19937 engine(24);
  for (int round = 0; round < 400; ++round) {
    std::string page;
    const int count = static_cast<int>(engine() % 30);
    for (int k = 0; k < count; ++k) {
      // Start tags are rarer than the rest, so that some come late or never.
      std::size_t piece = engine() % pieces.size();
      if ((piece == 5 || piece == 6 || piece == 7 || piece == 9) && engine() % 4 != 0) piece = 10;
      page += pieces[piece];
    }
    const std::size_t read_whole = HeadStart(page + "<!--<head-->");
    EXPECT_EQ(HeadStart(page), std::min(read_whole, page.size())) << page.size() << " round " << round;
  }
}

}  // namespace
}  // namespace vantoro::internal
