// Pages built to hurt: no ">" at all, one huge tag, a million markers, deep
// nesting, every byte value, nothing but declarations. Each must finish, lose
// nothing and keep the bytes it does not rewrite. (The benchmarks run the full
// sizes and show linear growth.)
#include <gtest/gtest.h>

#include "test_support.h"

namespace vantoro {
namespace {

std::string Repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

std::size_t Count(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

// Every byte value, without "<" so that no tag starts.
std::string AllBytesButLessThan() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) {
    if (b != '<') bytes += static_cast<char>(b);
  }
  return bytes;
}

// Empty notices: the content pass only lower-cases the markers, so its output
// is easy to predict.
Protector WithoutNotices() {
  Options options;
  options.content.empty_notices = true;
  return Protector(options);
}

TEST(Hostile, ManyOpeningsWithoutAnyGreaterThan) {
  Protector m = WithoutNotices();
  std::string page = Repeat("<a href=x <p id=y ", 100000);
  std::string out = m.protect_page(page);
  // Without ">" no attribute matches; "<a " and "<p " still open a gap each.
  EXPECT_EQ(Count(out, "href=x"), 100000u);
  EXPECT_EQ(m.protect_content(page), page);
}

TEST(Hostile, OneHugeTag) {
  Protector m;
  std::string value(2 << 20, 'v');
  std::string out = m.protect_page("<img alt=\"a\" src=\"" + value + "\">");
  EXPECT_NE(out.find("=\"" + value + "\">"), std::string::npos);
}

TEST(Hostile, HundredThousandLineBreaks) {
  Protector m = WithoutNotices();
  std::string article = Repeat("<BR>", 100000);
  EXPECT_EQ(m.protect_content(article), Repeat("<br>", 100000));
  std::string out = m.protect_page(article);
  std::string lowered;
  for (char c : out) lowered += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  EXPECT_EQ(Count(lowered, "<br "), 100000u) << "every line break got its gap";
  EXPECT_EQ(Count(lowered, "<br>"), 0u);
}

TEST(Hostile, DeepNesting) {
  Protector m;
  m.set_copyright("n");
  std::string page = Repeat("<div><svg>", 50000) + "<p>x</p>" + Repeat("</svg></div>", 50000);
  std::string content = m.protect_content(page);
  // A <p> breaks out of svg: the paragraph is the page's, and gets its decoy.
  EXPECT_EQ(Count(content, "style='"), 1u);
  EXPECT_NE(content.find("x<"), std::string::npos);
  std::string out = m.protect_page(page);
  EXPECT_EQ(Count(out, "</svg>"), 50000u);
}

TEST(Hostile, EveryByteValuePassesThrough) {
  Protector m = WithoutNotices();
  std::string bytes = Repeat(AllBytesButLessThan(), 100);
  std::string out = m.protect_page(bytes);
  EXPECT_TRUE(out.ends_with(bytes));
  EXPECT_EQ(m.protect_content(bytes), bytes);
  std::string with_tags = "<p>" + bytes + "</p>";
  EXPECT_NE(m.protect_page(with_tags).find(bytes), std::string::npos);
}

TEST(Hostile, EveryByteValueInTheCopyright) {
  Protector m;
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  m.set_copyright(all);
  std::string out = m.protect_content(Repeat("<p>x</p>y<br>", 1000));
  // The bytes in order hold neither marker, so there is one decoy per marker.
  EXPECT_EQ(Count(out, " style='"), 2000u);
  EXPECT_EQ(Count(out, "</p>y"), 1000u);
}

TEST(Hostile, OnlyDeclarations) {
  ScriptedRandomSource values({0.5});
  ScopedRandomSource use(values);
  Marquel m;  // not loaded, so no rule applies: only the watermark is drawn
  std::string out = ToText(m.Rndstr(Repeat("<!DOCTYPE html>\n", 100000)));
  EXPECT_TRUE(out.starts_with("<!DOCTYPE html>\r\n\r\n<!--"));
  EXPECT_EQ(Count(out, "<!DOCTYPE"), 1u);
  // The later ones go; their line breaks, which may be text, stay.
  EXPECT_TRUE(out.ends_with("-->\r\n" + std::string(99999, '\n')));
}

}  // namespace
}  // namespace vantoro
