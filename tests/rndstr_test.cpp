// The page pass: watermark, declaration move, byte order mark, null page, and pages
// that would break a backtracking engine.
#include <gtest/gtest.h>

#include <random>

#include "test_support.h"

namespace vantoro {
namespace {

using testing::Pick;

// The watermark for the drawn character "=" (index 9 of the watermark set).
std::string Watermark(const std::string& version) {
  return "\r\n<!--=本=页=面=已=经=过=Vantoro=防=采=集= https://vantoro.example =处=理=-->\r\n"
         "<!--=Vantoro=防=采=集 " + version + "=-->\r\n";
}

// The page pass of an instance without Load: rules change nothing and draw nothing,
// so only the watermark character is drawn.
std::string Unloaded(const std::string& page) {
  ScriptedRandomSource values({Pick(9, 18)});
  ScopedRandomSource use(values);
  std::string out = ToText(Marquel().Rndstr(page));
  EXPECT_EQ(values.remaining(), 0u);
  return out;
}

TEST(Rndstr, EmptyAndNullPagesGiveTheWatermarkAlone) {
  Marquel m = testing::LoadedMarquel();
  for (Variant page : {Variant(""), Variant::null(), Variant()}) {
    ScriptedRandomSource values({Pick(9, 18)});
    ScopedRandomSource use(values);
    EXPECT_EQ(m.Rndstr(page), Variant(Watermark("v2.0正式版")));
  }
  EXPECT_EQ(Unloaded(""), Watermark(""));
}

TEST(Rndstr, WithoutLoadTagsStayAsTheyAre) {
  EXPECT_EQ(Unloaded("<P ID=1>x</P>"), Watermark("") + "<P ID=1>x</P>");
}

TEST(Rndstr, DeclarationMovesFirst) {
  const std::string w = Watermark("");
  struct Case {
    std::string page, expected;
  };
  const std::vector<Case> cases = {
      {"<!DOCTYPE html>\r\n<html>", "<!DOCTYPE html>\r\n" + w + "<html>"},
      {"<!doctype html>\r\n<p>", "<!doctype html>\r\n" + w + "<p>"},
      {"<!DOCTYPE html>\r\n\r\n<html>", "<!DOCTYPE html>\r\n" + w + "\r\n<html>"},
      // Mended: LF line ends, nothing behind, and a tag right behind.
      {"<!DOCTYPE html>\n<html>", "<!DOCTYPE html>\r\n" + w + "<html>"},
      {"<!DOCTYPE html>\n\n\n<html>", "<!DOCTYPE html>\r\n" + w + "<html>"},
      {"<!DOCTYPE html>", "<!DOCTYPE html>\r\n" + w},
      {"<!DOCTYPE html><html>", "<!DOCTYPE html>\r\n" + w + "<html>"},
      // A later one goes, but not its line break, which may be text.
      {"<!DOCTYPE a>\r\ny<!DOCTYPE b>\nz", "<!DOCTYPE a>\r\n" + w + "y\nz"},
      {" \n<!-- c --><!---->\t<!DOCTYPE html>x", "<!DOCTYPE html>\r\n" + w + " \n<!-- c --><!---->\tx"},
      // A browser ends it at its first ">", and so does the move.
      {"<!DOCTYPE >x>\r\n", "<!DOCTYPE >\r\n" + w + "x>\r\n"},
      // Declarations the browser ignores stay where they are, and so do the others.
      {"x<!DOCTYPE a>\r\ny<!DOCTYPE b>\nz", w + "x<!DOCTYPE a>\r\ny<!DOCTYPE b>\nz"},
      {"*%start%*<!DOCTYPE html>\r\n*%end%*", w + "*%start%*<!DOCTYPE html>\r\n*%end%*"},
      {"<div style=\"width:200px\">x</div><!DOCTYPE html>",
       w + "<div style=\"width:200px\">x</div><!DOCTYPE html>"},
      {"<!-- x <!DOCTYPE html>", w + "<!-- x <!DOCTYPE html>"},
      // A later declaration stays when taking it out would make "<" open a tag
      // or complete a character reference.
      {"<!DOCTYPE a>\ny<<!DOCTYPE b>\nO<script>s</script>",
       "<!DOCTYPE a>\r\n" + w + "y<<!DOCTYPE b>\nO<script>s</script>"},
      {"<!DOCTYPE a></<!DOCTYPE b>d<title>t</title><!<!DOCTYPE c>e<?<!DOCTYPE d>f",
       "<!DOCTYPE a>\r\n" + w + "</<!DOCTYPE b>d<title>t</title><!<!DOCTYPE c>e<?<!DOCTYPE d>f"},
      {"<!DOCTYPE a>\n&am<!DOCTYPE b>p; &#3<!DOCTYPE c>8; &<!DOCTYPE d>lt;",
       "<!DOCTYPE a>\r\n" + w + "&am<!DOCTYPE b>p; &#3<!DOCTYPE c>8; &<!DOCTYPE d>lt;"},
      {"<!DOCTYPE a>\nx y<!DOCTYPE b>z", "<!DOCTYPE a>\r\n" + w + "x yz"},
      // "<!DOCTYPE >" ends at its ">" too.
      {"<!DOCTYPE a>\ny<!DOCTYPE >\ny<textarea>x</textarea>",
       "<!DOCTYPE a>\r\n" + w + "y\ny<textarea>x</textarea>"},
      {"<!DOCTYPE ><title>t</title>", "<!DOCTYPE >\r\n" + w + "<title>t</title>"},
      // An XML declaration at the start stays first.
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE html>\n<html/>",
       "<?xml version=\"1.0\"?>\r\n<!DOCTYPE html>\r\n" + w + "<html/>"},
      {"<?xml version='1.0'?><p>", "<?xml version='1.0'?>\r\n" + w + "<p>"},
      {"<?xml-stylesheet href=x?><p>", w + "<?xml-stylesheet href=x?><p>"},
      {" <?xml version='1.0'?><p>", w + " <?xml version='1.0'?><p>"},
      {"<?xml <title>x<b?>y", w + "<?xml <title>x<b?>y"},
      {"<?xml a<b c='?>d'>e", w + "<?xml a<b c='?>d'>e"},
      // Not declarations: nothing moves and nothing fails.
      {"<!DOCTYPEhtml>", w + "<!DOCTYPEhtml>"},
      {"<!DOCTYPE html", w + "<!DOCTYPE html"},
      {"<!DOCTYPE \nhtml>", w + "<!DOCTYPE \nhtml>"},
      {"<script>s='<!DOCTYPE x>'</script>", w + "<script>s='<!DOCTYPE x>'</script>"},
      {"<!-- <!DOCTYPE x> -->", w + "<!-- <!DOCTYPE x> -->"},
  };
  for (const Case& c : cases) EXPECT_EQ(Unloaded(c.page), c.expected) << c.page;
}

TEST(Rndstr, ByteOrderMarkStaysFirst) {
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(Unloaded(bom + "<!DOCTYPE html>\n<p>"), bom + "<!DOCTYPE html>\r\n" + Watermark("") + "<p>");
  EXPECT_EQ(Unloaded(bom + "<p>"), bom + Watermark("") + "<p>");
  EXPECT_EQ(Unloaded("x" + bom), Watermark("") + "x" + bom);
}

TEST(Rndstr, RewritesEveryRuleOfTheTable) {
  Marquel m = testing::LoadedMarquel();
  std::string page =
      "<html><head><title>t</title><style type=\"x\"></style></head><body><a href=\"h\">a</a>"
      "<img src=\"i\"><br><table><tr><td>c</td></tr></table><p>p</p><div class=\"d\">d</div>"
      "<input><option><span class=\"s\">s</span></body></html>";
  std::string out = ToText(m.Rndstr(page));
  std::string lowered;
  for (char c : out) lowered += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  for (const char* name : {"html", "head", "title", "style", "body", "a", "img", "br", "table",
                           "tr", "td", "p", "div", "input", "option", "span"}) {
    // Every opening tag got a gap behind its name, whatever its casing.
    EXPECT_EQ(lowered.find(std::string("<") + name + ">"), std::string::npos) << name;
    EXPECT_NE(lowered.find(std::string("<") + name + " "), std::string::npos) << name;
  }
  EXPECT_TRUE(out.starts_with("\r\n<!--"));
}

TEST(Rndstr, HugeTagsAndPagesWithoutGreaterThan) {
  Marquel m = testing::LoadedMarquel();
  std::string image = "<img alt=\"logo\" src=\"data:image/png;base64," + std::string(50000, 'A') + "\">";
  std::string out = ToText(m.Rndstr(image));
  EXPECT_NE(out.find(std::string(50000, 'A') + "\">"), std::string::npos);

  std::string no_gt;
  for (int i = 0; i < 300000; ++i) no_gt += "<a ";
  out = ToText(m.Rndstr(no_gt));
  EXPECT_GT(out.size(), no_gt.size());
}

}  // namespace
}  // namespace vantoro

namespace vantoro {
namespace {

// The page pass carries its index of unprotected "<" from rule to rule; applying
// the sixteen rules one by one, each scanning afresh, must give the same page.
TEST(Rndstr, CarriedIndexMatchesAFreshScanPerRule) {
  const std::vector<std::string> pieces = {
      "<p>", "</p>", "<a href=x>", "</a>", "<div class=c>", "</div>", "<!--", "-->", "<script>",
      "</script>", "<style type=t>", "<style a=\"", "\">", "</style>", "<title>", "</title>",
      "<br>", "<img src=i>", "<span class=s>", "</span>", "x", " ", "\n", ">", "<td>", "</td>",
      "<textarea>", "</textarea>", "<xmp>", std::string("\0", 1), "<table>", "<tr>"};
  const char* rules[] = {"html:1", "head:1", "title:1", "style:1:type", "body:1", "a:1:href;target",
                         "img:2:src;alt;border", "br:2", "table:1", "tr:1", "td:1", "p:1",
                         "div:1:style;class", "input:2", "option:2", "span:1:class"};
  Marquel m = testing::LoadedMarquel();
  std::mt19937 engine(5);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  for (int i = 0; i < 1500; ++i) {
    std::string page;
    for (int n = 1 + i % 25; n > 0; --n) page += pieces[pick(engine)];
    auto draws = testing::SeededValues(4000, static_cast<unsigned>(i));
    std::string rule_by_rule = page;
    {
      ScriptedRandomSource values(draws);
      ScopedRandomSource use(values);
      for (const char* rule : rules) {
        rule_by_rule = ToText(MarquelTestAccess::RndTag(m, rule_by_rule, rule, true, "0-16", 3, "0-16"));
      }
    }
    ScriptedRandomSource values(draws);
    ScopedRandomSource use(values);
    std::string whole = ToText(m.Rndstr(page));
    ASSERT_TRUE(whole.ends_with(rule_by_rule)) << "page: " << page;
  }
}

TEST(Rndstr, LeadCommentInsideARawTextStartTag) {
  // The comment put in front of <div ...> lands inside <style ...>: its ">" ends
  // that start tag early, so the style region starts earlier and the later rule
  // "input" must leave "<input " alone.
  Marquel m = testing::LoadedMarquel();
  std::string page = "<style a=\"<div class=x <input \">p{}</style><p>";
  auto draws = testing::SeededValues(4000, 99);
  std::string rule_by_rule = page;
  {
    ScriptedRandomSource values(draws);
    ScopedRandomSource use(values);
    for (const char* rule : {"html:1", "head:1", "title:1", "style:1:type", "body:1",
                             "a:1:href;target", "img:2:src;alt;border", "br:2", "table:1",
                             "tr:1", "td:1", "p:1", "div:1:style;class", "input:2", "option:2",
                             "span:1:class"}) {
      rule_by_rule = ToText(MarquelTestAccess::RndTag(m, rule_by_rule, rule, true, "0-16", 3, "0-16"));
    }
  }
  ScriptedRandomSource values(draws);
  ScopedRandomSource use(values);
  EXPECT_TRUE(ToText(m.Rndstr(page)).ends_with(rule_by_rule));
}

// "script" followed by NUL bytes names another element: the style behind it
// holds raw text, a "</script>" in it included, and none of it is rewritten.
TEST(Rndstr, ANameHoldingNulIsNoScript) {
  using namespace std::string_literals;
  const std::string page = "<script\0\0\0\0><style type=t>';</script><style type=t><p>p{}</style><p>"s;
  for (int round = 0; round < 20; ++round) {
    const std::string out = ToText(testing::LoadedMarquel().Rndstr(page));
    EXPECT_NE(out.find("<script\0\0\0\0>"s), std::string::npos) << out;
    EXPECT_NE(out.find(">';</script><style type=t><p>p{}</"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace vantoro
