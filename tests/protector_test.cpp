// The public C++ API: ready once constructed, options checked when set, both
// passes and their combination, character sets, copies.
#include <gtest/gtest.h>

#include "test_support.h"

namespace vantoro {
namespace {

const std::string kPage =
    "<!DOCTYPE html>\n<html><body><div class=a id=b><p>x<br>y</p><a href=x>l</a></div></body></html>";

// The error code a call throws, or nothing.
std::optional<ErrorCode> CodeOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.code();
  }
  return std::nullopt;
}

TEST(Protector, ReadyOnceConstructedLikeALoadedComponent) {
  auto draws = testing::SeededValues(5000, 7);
  Marquel loaded = testing::LoadedMarquel();
  loaded.CopyRStr("Site:Rights,Other");
  std::string expected_page, expected_content;
  {
    ScriptedRandomSource values(draws);
    ScopedRandomSource use(values);
    expected_page = ToText(loaded.Rndstr(kPage));
  }
  {
    ScriptedRandomSource values(draws);
    ScopedRandomSource use(values);
    expected_content = ToText(loaded.RndContent(kPage));
  }
  Protector protector;
  protector.set_copyright("Site:Rights,Other");
  {
    ScriptedRandomSource values(draws);
    ScopedRandomSource use(values);
    EXPECT_EQ(protector.protect_page(kPage), expected_page);
  }
  ScriptedRandomSource values(draws);
  ScopedRandomSource use(values);
  EXPECT_EQ(protector.protect_content(kPage), expected_content);
  EXPECT_NE(expected_page.find("v2.0正式版"), std::string::npos);
}

TEST(Protector, ProtectIsContentThenPage) {
  auto draws = testing::SeededValues(5000, 8);
  Options options;
  options.content.copyright = "Site:Rights";
  options.content.decoy = DecoyKind::kBoth;
  Protector protector(options);
  std::string both;
  {
    ScriptedRandomSource values(draws);
    ScopedRandomSource use(values);
    both = protector.protect(kPage);
  }
  ScriptedRandomSource values(draws);
  ScopedRandomSource use(values);
  EXPECT_EQ(protector.protect_page(protector.protect_content(kPage)), both);
  EXPECT_NE(both.find("Rights"), std::string::npos);
}

// A page handed over gives the same bytes as one lent, byte order mark and
// pages above the size of the kept buffers included.
TEST(Protector, APageHandedOverGivesTheSameBytes) {
  auto draws = testing::SeededValues(400000, 9);
  Options options;
  options.content.copyright = "Site:Rights";
  Protector protector(options);
  const std::string large = kPage + std::string(5u << 20, 'x') + kPage;  // few tags: few draws
  for (const std::string& page : {kPage, "\xEF\xBB\xBF" + kPage, large}) {
    for (bool both : {false, true}) {
      std::string lent, handed;
      {
        ScriptedRandomSource values(draws);
        ScopedRandomSource use(values);
        lent = both ? protector.protect(std::string_view(page)) : protector.protect_page(std::string_view(page));
      }
      ScriptedRandomSource values(draws);
      ScopedRandomSource use(values);
      std::string copy = page;
      handed = both ? protector.protect(std::move(copy)) : protector.protect_page(std::move(copy));
      EXPECT_EQ(handed, lent) << page.size() << both;
    }
  }
  EXPECT_TRUE(IsProtected(protector.protect("<p>x</p>")));  // a literal still chooses a view
}

// Written into a caller's string: the same bytes for the same draws, its
// memory reused from call to call, and nothing left behind by a failed call.
TEST(Protector, ResultsWrittenIntoAStringAreTheSameAndReuseIt) {
  auto draws = testing::SeededValues(400000, 10);
  Options options;
  options.content.copyright = "Site:Rights";
  options.content.hide = HideMethod::kLayered;
  options.page.tdm_reservation = true;
  Protector protector(options);
  const std::string large = kPage + std::string(1u << 20, 'x') + kPage;
  std::string out;
  for (const std::string& page : {large, kPage, "\xEF\xBB\xBF" + kPage, std::string()}) {
    for (int pass = 0; pass < 3; ++pass) {
      std::string returned;
      {
        ScriptedRandomSource values(draws);
        ScopedRandomSource use(values);
        returned = pass == 0   ? protector.protect_page(std::string_view(page))
                   : pass == 1 ? protector.protect_content(std::string_view(page))
                               : protector.protect(std::string_view(page));
      }
      const char* before = out.data();
      const bool room = out.capacity() >= returned.size();
      ScriptedRandomSource values(draws);
      ScopedRandomSource use(values);
      if (pass == 0) protector.protect_page(page, out);
      if (pass == 1) protector.protect_content(page, out);
      if (pass == 2) protector.protect(page, out);
      EXPECT_EQ(out, returned) << page.size() << " " << pass;
      if (room) {
        EXPECT_EQ(out.data(), before) << "a result that fits is written where the last one was";
      }
    }
  }
  Protector refusing;  // copyright decoys without a text
  EXPECT_THROW(refusing.protect(kPage, out), Error);
  EXPECT_TRUE(out.empty());
}

TEST(Protector, IsProtectedFindsTheWatermarkAtTheStart) {
  Protector protector;
  Protector gbk;
  gbk.set_charset("GBK");
  for (const std::string& page :
       {std::string("<p>x</p>"), std::string("\xEF\xBB\xBF<?xml version='1.0'?>\n<!DOCTYPE html>\n<p>x</p>")}) {
    EXPECT_FALSE(IsProtected(page));
    EXPECT_TRUE(IsProtected(protector.protect_page(page))) << page;
    EXPECT_TRUE(IsProtected(gbk.protect_page(page))) << page;
  }
  // The address or the name alone, or the watermark further down, is not it.
  std::string out = protector.protect_page("<p>x</p>");
  EXPECT_FALSE(IsProtected("<p>x</p>" + out));
  EXPECT_FALSE(IsProtected("<!-- Vantoro https://vantoro.example -->"));
  EXPECT_FALSE(IsProtected("<!--~Vantoro~ https://vantoro.example x-->"));
  EXPECT_FALSE(IsProtected(""));
  EXPECT_TRUE(IsProtected("\r\n<!--~Vantoro~ https://vantoro.example ~-->"));
}

TEST(Protector, RefusedOptionsChangeNothing) {
  Protector protector;
  protector.set_copyright("Keep");
  EXPECT_EQ(CodeOf([&] { protector.set_decoy_kind(static_cast<DecoyKind>(7)); }),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(CodeOf([&] { protector.set_charset("NO-SUCH-CHARSET"); }), ErrorCode::kUnknownCharset);
  EXPECT_EQ(CodeOf([&] { protector.set_charset("UTF-16"); }), ErrorCode::kUnknownCharset)
      << "ASCII must stay ASCII";
  EXPECT_EQ(CodeOf([&] { protector.set_charset(""); }), ErrorCode::kInvalidArgument);
  EXPECT_EQ(CodeOf([] { Protector(Options{{}, {}, "UTF-32"}); }), ErrorCode::kUnknownCharset);
  EXPECT_EQ(protector.options().content.copyright, "Keep");
  EXPECT_EQ(protector.options().content.decoy, DecoyKind::kCopyright);
  EXPECT_EQ(protector.options().charset, "auto");
  EXPECT_NE(protector.protect_content("a</p>").find("Keep"), std::string::npos);
}

TEST(Protector, OtherCharsetsConvertOnlyInsertedText) {
  Options options;
  options.content.copyright = "版权:©";
  options.charset = "GBK";
  Protector protector(options);
  const std::string page = "<p>\xC4\xE3\xBA\xC3</p>";  // "你好" in GBK
  std::string out = protector.protect(page);
  EXPECT_NE(out.find("\xC4\xE3\xBA\xC3"), std::string::npos) << "page bytes kept";
  EXPECT_NE(out.find("\xB0\xE6\xC8\xA8"), std::string::npos) << "copyright in GBK";
  EXPECT_NE(out.find("&#169;"), std::string::npos) << "© is not in GBK";
  EXPECT_NE(out.find("v2.0\xD5\xFD\xCA\xBD\xB0\xE6"), std::string::npos) << "watermark in GBK";
  EXPECT_EQ(out.find("正式版"), std::string::npos);
}

TEST(Protector, CopiesAreIndependent) {
  Protector first;
  first.set_copyright("First");
  Protector second = first;
  second.set_copyright("Second");
  Protector moved = std::move(second);
  EXPECT_EQ(first.options().content.copyright, "First");
  EXPECT_EQ(moved.options().content.copyright, "Second");
  first = moved;
  EXPECT_NE(first.protect_content("<br>").find("Second"), std::string::npos);
}

TEST(Protector, ReplayThatRunsOutFailsCleanly) {
  Protector protector;
  ScriptedRandomSource values({0.5, 0.5});
  ScopedRandomSource use(values);
  EXPECT_EQ(CodeOf([&] { protector.protect_page("<p>x</p>"); }), ErrorCode::kReplayExhausted);
  EXPECT_STREQ(Version(), VANTORO_VERSION_STRING);
}

TEST(Protector, HidingByClass) {
  using testing::Pick;
  Protector protector;
  protector.set_copyright("note");
  protector.set_hiding(HideMethod::kClass, "example.org");
  // Leading separator (one, "."), no trailing one, "span", the second class,
  // a first run of two letters, an empty second run.
  ScriptedRandomSource values({Pick(1, 2), Pick(2, 11), Pick(0, 2), Pick(0, 3), Pick(1, 4),
                               Pick(2, 17), Pick(0, 50), Pick(25, 50), Pick(0, 17)});
  ScopedRandomSource use(values);
  EXPECT_EQ(protector.protect_content("x</p>y"), "x<span class='aA gjgfjkws'>.note</span></p>y");
  EXPECT_EQ(values.remaining(), 0u);
}

TEST(Protector, HidingStylesheetIsPinned) {
  // Sites cache the stylesheet: a key must give the same names in every version.
  EXPECT_EQ(Stylesheet("example.org"),
            ".jprdfwdvv,.gjgfjkws,.lzbavqqbd,.bcphlnh{display:none!important}\n"
            ".wcsoju,.sgcbzsudn{position:absolute!important;width:1px!important;height:1px!important;margin:-1px!important;padding:0!important;border:0!important;overflow:hidden!important;clip:rect(0 0 0 0)!important;clip-path:inset(50%)!important;white-space:nowrap!important}\n");
  EXPECT_NE(Stylesheet("example.net"), Stylesheet("example.org"));
  // No name may read as "hidden" to a text extractor, whatever the key.
  for (int k = 0; k < 2000; ++k) {
    std::string sheet = Stylesheet("site-" + std::to_string(k));
    std::string selectors;  // the class names, without the rules' declarations
    for (std::size_t at = 0; at < sheet.size();) {
      const std::size_t open = sheet.find('{', at), close = sheet.find('}', at);
      ASSERT_NE(close, std::string::npos) << sheet;
      selectors += sheet.substr(at, open - at);
      at = close + 2;  // the rule's "}" and its line break
    }
    for (const char* word : {"hid", "hide", "invisible", "sr-only", "display"}) {
      EXPECT_EQ(selectors.find(word), std::string::npos) << sheet;
    }
    EXPECT_EQ(sheet.find("display"), sheet.find("{display:none") + 1) << sheet;
  }
  EXPECT_EQ(CodeOf([] { Stylesheet(""); }), ErrorCode::kInvalidArgument);
}

TEST(Protector, HidingOptionsAreChecked) {
  Protector protector;
  EXPECT_EQ(CodeOf([&] { protector.set_hiding(HideMethod::kClass); }), ErrorCode::kInvalidArgument)
      << "a class needs a site key";
  EXPECT_EQ(CodeOf([&] { protector.set_hiding(static_cast<HideMethod>(9), "k"); }),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(protector.options().content.hide, HideMethod::kStyle);
  Options options;
  options.content.copyright = "n";
  options.content.nosnippet = true;
  protector.set_options(options);
  EXPECT_NE(protector.protect_content("<br>").find(" data-nosnippet style='"), std::string::npos);
  protector.set_hiding(HideMethod::kClass, "k");
  std::string out = protector.protect_content("<br>");
  EXPECT_NE(out.find(" data-nosnippet class='"), std::string::npos) << out;
  EXPECT_EQ(out.find("style"), std::string::npos) << out;
}

}  // namespace
}  // namespace vantoro
