// The Protector's page-dependent options: the character set "auto" finds, the
// refusal of copyright decoys without a text, the stylesheet link.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "content/decoys.h"
#include "test_support.h"

namespace vantoro {
namespace {

// `utf8` in `charset`, by the system's converter alone (not the library's).
std::string Iconv(const std::string& utf8, const char* charset) {
  iconv_t cd = iconv_open(charset, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << charset;
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* dest = out.data();
  std::size_t dest_left = out.size();
  EXPECT_NE(iconv(cd, &in, &in_left, &dest, &dest_left), static_cast<std::size_t>(-1)) << charset;
  iconv_close(cd);
  out.resize(out.size() - dest_left);
  return out;
}

std::optional<ErrorCode> CodeOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.code();
  }
  return std::nullopt;
}

struct Declared {
  const char* label;    // as the page writes it
  const char* iconv;    // what the text must be converted with
  const char* notice;   // a copyright text that set holds
};

const Declared kDeclared[] = {
    {"GBK", "GB18030", "版权所有"},
    {"gb2312", "GB18030", "版权所有"},
    {"Big5", "BIG5-HKSCS", "版權所有"},
    {"Shift_JIS", "CP932", "著作権"},
    {"EUC-KR", "CP949", "저작권"},
    {"windows-1252", "CP1252", "Droits réservés ©"},
    {"ISO-8859-1", "CP1252", "Droits réservés ©"},
};

// Each way a page can say its set: the pages' bytes stay, the notice and the
// watermark come out in the set, as an explicit charset would give them.
TEST(ProtectorCharset, AutoFindsTheDeclaredSet) {
  const auto draws = testing::SeededValues(20000, 11);
  for (const Declared& d : kDeclared) {
    const std::string body = "<p>text</p><br>";
    const std::string pages[] = {
        std::string("<html><head><meta charset=\"") + d.label + "\"></head><body>" + body,
        std::string("<html><head><META HTTP-EQUIV='Content-Type' content='text/html; charset=") +
            d.label + "'><title>t</title></head>" + body,
        std::string("<!-- <meta charset=utf-8> --><meta charset=") + d.label + ">" + body,
        // nothing in the page: the transport's word
        "<html><head><title>t</title></head>" + body,
    };
    for (const std::string& page : pages) {
      const bool transport = page.find("charset") == std::string::npos;
      Options automatic;
      automatic.content.copyright = d.notice;
      Options explicit_set = automatic;
      explicit_set.charset = d.iconv;
      std::string found, told;
      {
        ScriptedRandomSource values(draws);
        ScopedRandomSource use(values);
        Protector protector(automatic);
        if (transport) protector.set_transport_charset(d.label);
        found = protector.protect(page);
      }
      {
        ScriptedRandomSource values(draws);
        ScopedRandomSource use(values);
        told = Protector(explicit_set).protect(page);
      }
      EXPECT_EQ(found, told) << d.label << ": " << page;
      EXPECT_NE(found.find(Iconv(d.notice, d.iconv)), std::string::npos) << d.label;
      EXPECT_EQ(found.find(d.notice), std::string::npos) << d.label << ": UTF-8 notice";
      if (!transport) {
        EXPECT_EQ(DetectCharset(page), DetectCharset(page, "no-such-label"));
      }
    }
  }
}

TEST(ProtectorCharset, ByteOrderMarkThenTransportThenDeclaration) {
  const std::string meta = "<meta charset=windows-1251><p>x</p>";
  EXPECT_EQ(DetectCharset(meta), "windows-1251");
  EXPECT_EQ(DetectCharset(meta, "GBK"), "GBK");
  EXPECT_EQ(DetectCharset(meta, " gb2312 "), "GBK");
  EXPECT_EQ(DetectCharset(meta, "x-no-such-set"), "windows-1251") << "an unknown label is ignored";
  EXPECT_EQ(DetectCharset("\xEF\xBB\xBF" + meta, "GBK"), "UTF-8") << "a browser trusts the mark";
  EXPECT_EQ(DetectCharset("<p>x</p>"), "UTF-8");
  EXPECT_EQ(DetectCharset(std::string(1100, ' ') + meta), "UTF-8") << "only 1024 bytes are read";

  Options options;
  options.content.copyright = "Все права";
  Protector protector(options);
  protector.set_transport_charset("KOI8-R");
  std::string out = protector.protect(meta);
  EXPECT_NE(out.find(Iconv("Все права", "KOI8-R")), std::string::npos);
  protector.set_transport_charset("");
  out = protector.protect(meta);
  EXPECT_NE(out.find(Iconv("Все права", "CP1251")), std::string::npos);
  // The transport's label survives a change of the other options.
  protector.set_transport_charset("KOI8-R");
  protector.set_copyright("Все права защищены");
  Protector copy = protector;
  EXPECT_NE(copy.protect(meta).find(Iconv("Все права защищены", "KOI8-R")), std::string::npos);
}

TEST(ProtectorCharset, PagesThatCannotBeProtectedFail) {
  Options options;
  options.content.copyright = "n";
  Protector protector(options);
  // Markup that is not ASCII, and sets a browser shows as replacement characters.
  for (const std::string& page : {std::string("\xFF\xFE<\0p\0>\0", 8),
                                  std::string("\xFE\xFF\0<\0p\0>", 8),
                                  std::string("<meta charset=iso-2022-kr><p>x</p>")}) {
    EXPECT_EQ(CodeOf([&] { protector.protect(page); }), ErrorCode::kUnknownCharset);
    EXPECT_EQ(CodeOf([&] { protector.protect_page(page); }), ErrorCode::kUnknownCharset);
  }
  // A page's declaration of UTF-16 means UTF-8 (its markup is ASCII after all).
  EXPECT_NE(protector.protect("<meta charset=utf-16><p>é</p>").find("n"), std::string::npos);
  // An explicit set is the caller's word: no detection.
  options.charset = "UTF-8";
  std::string out = Protector(options).protect("<meta charset=GBK><br>");
  EXPECT_NE(out.find("v2.0正式版"), std::string::npos);
}

TEST(ProtectorNotices, CopyrightDecoysNeedAText) {
  for (const char* copyright : {"", ",", ":", ",:,"}) {
    for (DecoyKind kind : {DecoyKind::kCopyright, DecoyKind::kBoth}) {
      Options options;
      options.content.copyright = copyright;
      options.content.decoy = kind;
      Protector protector(options);  // the page pass needs no text
      EXPECT_NO_THROW(protector.protect_page("<p>x</p>"));
      EXPECT_EQ(CodeOf([&] { protector.protect_content("<p>x</p>"); }), ErrorCode::kInvalidArgument)
          << "'" << copyright << "'";
      EXPECT_EQ(CodeOf([&] { protector.protect(std::string("<p>x</p>")); }),
                ErrorCode::kInvalidArgument);
      options.content.empty_notices = true;
      protector.set_options(options);
      const std::string out = protector.protect_content("x</p>");
      EXPECT_TRUE(out.starts_with("x<") && out.ends_with("</p>")) << out;
    }
    Options random;
    random.content.copyright = copyright;
    random.content.decoy = DecoyKind::kRandomText;
    EXPECT_NO_THROW(Protector(random).protect("<p>x</p>"));
  }
  try {
    Protector().protect_content("<br>");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "copyright decoys need a copyright text (or random decoys, or empty notices "
                 "asked for)");
  }
}

TEST(ProtectorLink, GoesWhereTheHeadBegins) {
  const std::string link = "<link rel=\"stylesheet\" href=\"/v.css\">";
  struct Case {
    std::string page, linked;
  };
  const Case cases[] = {
      {"<html><head><title>t</title>", "<html><head>" + link + "<title>t</title>"},
      {"<!DOCTYPE html><HEAD data-x='a>b' id=h><p>", "<!DOCTYPE html><HEAD data-x='a>b' id=h>" + link + "<p>"},
      {"<!-- <head> --><script>'<head>'</script><head>",
       "<!-- <head> --><script>'<head>'</script><head>" + link},
      {"<!-- <head> --><script>'<head>'</script><body>",
       "<!-- <head> -->" + link + "<script>'<head>'</script><body>"},
      {"<!-- <head> --><html><body><head>", "<!-- <head> --><html><body><head>" + link},
      {"<html lang=en><body>x", link + "<html lang=en><body>x"},
      {"<!DOCTYPE html>\ntext <br>", "<!DOCTYPE html>\ntext " + link + "<br>"},
      {"</p>only text", "</p>only text" + link},
      {"<headline><head>", "<headline><head>" + link},
      {"<!DOCTYPE html SYSTEM '<head>'><html><head>",
       "<!DOCTYPE html SYSTEM '<head>'><html><head>" + link},
      {"<?php '<head>' ?><head>", "<?php '<head>' ?><head>" + link},
      {"</ <head>x", "</ <head>x" + link},
      {"</x <head>", "</x <head>" + link},  // an attribute of the end tag
      {"", link},
  };
  Options options;
  options.content.copyright = "n";
  options.content.hide = HideMethod::kClass;
  options.content.site_key = "k";
  options.content.stylesheet_link = "/v.css";
  const auto draws = testing::SeededValues(5000, 3);
  for (const Case& c : cases) {
    Options without = options;
    without.content.stylesheet_link.clear();
    std::string linked, expected;
    {
      ScriptedRandomSource values(draws);
      ScopedRandomSource use(values);
      linked = Protector(options).protect_content(c.page);
    }
    {
      ScriptedRandomSource values(draws);
      ScopedRandomSource use(values);
      expected = Protector(without).protect_content(c.linked);
    }
    EXPECT_EQ(linked, expected) << c.page;
  }
  // Only the content pass links it, and only when decoys hide by class.
  EXPECT_EQ(Protector(options).protect_page("<head>").find("<link"), std::string::npos);
  options.content.hide = HideMethod::kStyle;
  EXPECT_EQ(Protector(options).protect("<head><p>x</p>").find("<link"), std::string::npos);
  for (const char* uri : {"/a\"b", "/a<b", "/a>b", "/a\nb"}) {
    options.content.stylesheet_link = uri;
    EXPECT_EQ(CodeOf([&] { Protector{options}; }), ErrorCode::kInvalidArgument) << uri;
  }
}

TEST(ProtectorLayered, HidingClassesCopyVisibleNoticesAndTheStyleElement) {
  Options options;
  options.content.copyright = "Example Site:All rights reserved";
  options.content.hide = HideMethod::kLayered;
  options.content.site_key = "example.org";
  const std::string article = "<html><head><title>t</title></head><body>" +
                              std::string("<p>one</p>\n<p>two<br>three</p>\n") + "<p>4</p><p>5</p><p>6</p>";
  const std::string sheet = Stylesheet("example.org");
  // Six decoys (five paragraph ends, then the line break); copy-visible
  // notices at the first and every Nth after it.
  for (std::size_t every : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{4}}) {
    options.content.copy_notices = every;
    const std::string out = Protector(options).protect_content(article);
    std::size_t notices = 0, copy_visible = 0;
    for (std::size_t at = out.find("Example Site"); at != std::string::npos;
         at = out.find("Example Site", at + 1)) {
      ++notices;
      const std::size_t open = out.rfind('<', at);
      copy_visible += out.substr(open, at - open).find(" aria-hidden='true' class='") != std::string::npos;
    }
    const std::size_t expected = every == 0 ? 1 : (5 + every) / every;
    EXPECT_EQ(copy_visible, expected) << every;
    EXPECT_EQ(notices, 6 + expected) << every;
    // The rules go into the page where its head begins, once.
    EXPECT_NE(out.find("<head><style>" + sheet + "</style><title>"), std::string::npos);
    EXPECT_EQ(out.find("<style>", out.find("<style>") + 1), std::string::npos);
  }
  // No class name, no inline style that an extractor reads as hidden.
  const std::string out = Protector(options).protect_content(article);
  EXPECT_EQ(out.find("style='"), std::string::npos);
  for (const std::string& name : internal::HidingClassNames("example.org")) {
    EXPECT_EQ(name.find("hid"), std::string::npos);
  }
  // A linked stylesheet instead, where a policy forbids inline styles.
  options.content.stylesheet_link = "/v.css";
  const std::string linked = Protector(options).protect_content(article);
  EXPECT_NE(linked.find("<head><link rel=\"stylesheet\" href=\"/v.css\"><title>"), std::string::npos);
  EXPECT_EQ(linked.find("<style>"), std::string::npos);
  // Random-text decoys carry no notice, so no copy-visible one either.
  options.content.decoy = DecoyKind::kRandomText;
  EXPECT_EQ(Protector(options).protect_content(article).find("aria-hidden"), std::string::npos);
}

TEST(ProtectorLayered, WithoutAKeyTheCopyrightNamesTheClasses) {
  Options options;
  options.content.copyright = "Example Site";
  options.content.hide = HideMethod::kLayered;
  const std::string a = Protector(options).protect_content("<p>x</p>");
  EXPECT_NE(a.find("<style>" + Stylesheet("Example Site") + "</style>"), std::string::npos);
  options.content.copyright = "Other Site";
  const std::string b = Protector(options).protect_content("<p>x</p>");
  EXPECT_NE(b.find("<style>" + Stylesheet("Other Site") + "</style>"), std::string::npos);
  EXPECT_NE(Stylesheet("Example Site"), Stylesheet("Other Site"));
  // Marks are keyed by a secret: the copyright is none.
  options.content.marks = true;
  EXPECT_EQ(CodeOf([&] { Protector{options}; }), ErrorCode::kInvalidArgument);
}

}  // namespace
}  // namespace vantoro
