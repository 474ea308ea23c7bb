// The content pass: exact decoys with scripted values, the mended behaviours
// (termination, kept article text, protected regions) and the decoy kinds.
#include <gtest/gtest.h>

#include <random>

#include "content/content_pass.h"
#include "content/decoys.h"
#include "html/protected_regions.h"
#include "html/tree_builder.h"
#include "test_support.h"
#include "text/ascii.h"

namespace vantoro {
namespace {

using testing::kLower;
using testing::Pick;
using testing::Repeat;

std::size_t Count(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

std::string Content(const Marquel& m, const std::string& article) {
  return ToText(m.RndContent(article));
}

TEST(RndContent, NullEmptyAndUnmarkedText) {
  Marquel m;
  m.CopyRStr("note");
  EXPECT_TRUE(m.RndContent(Variant::null()).is_empty());
  EXPECT_EQ(m.RndContent(""), Variant(""));
  EXPECT_EQ(m.RndContent(Variant(12)), Variant("12"));
  EXPECT_EQ(Content(m, "<div>plain <b>text</b></div>"), "<div>plain <b>text</b></div>");
}

TEST(RndContent, EmptyCopyrightOnlyLowersTheMarkers) {
  ScriptedRandomSource none({});
  ScopedRandomSource use(none);
  EXPECT_EQ(Content(Marquel(), "one</P>two<BR>three"), "one</p>two<br>three");
  EXPECT_EQ(Content(Marquel(), "<'/p x <'br y <'/P"), "<'/p x <'br y <'/P") << "kept as written";
}

TEST(RndContent, ExactDecoy) {
  Marquel m;
  m.CopyRStr("note");
  std::vector<double> draws = {Pick(1, 2), Pick(2, 11), Pick(0, 2), Pick(0, 3)};
  Repeat(draws, 13, kLower);  // "display:none;" re-cased
  draws.insert(draws.end(), {Pick(1, 17), Pick(25, 52), Pick(0, 17)});
  ScriptedRandomSource values(draws);
  ScopedRandomSource use(values);
  EXPECT_EQ(Content(m, "x</p>y"), "x<span style='z;display:none;;'>.note</span></p>y");
  EXPECT_EQ(values.remaining(), 0u);
}

TEST(RndContent, EveryMarkerGetsItsOwnDecoy) {
  Marquel m;
  m.CopyRStr("(c) Site");
  std::string out = Content(m, "<p>a</p><p>b</P><pre>c</pre>d<brx>e<BR/>");
  EXPECT_EQ(Count(out, "style='"), 5u);
  EXPECT_EQ(Count(out, "(c) Site"), 5u);
  EXPECT_EQ(Count(out, "</p>"), 2u);
  EXPECT_NE(out.find("</pre>"), std::string::npos);
  EXPECT_NE(out.find("<brx>"), std::string::npos);
  EXPECT_NE(out.find("<br/>"), std::string::npos);
}

TEST(RndContent, EndsWhenTheCopyrightHoldsMarkers) {
  Marquel m;
  m.CopyRStr("c</p><BR>");
  std::string out = Content(m, "a</p>b<br>");
  // One paragraph decoy; the line-break pass sees its "<BR>" and the article's.
  EXPECT_EQ(Count(out, "style='"), 3u);
  EXPECT_TRUE(out.ends_with("<br>")) << out;
}

TEST(RndContent, ProtectedRegionsGetNoDecoy) {
  Marquel m;
  m.CopyRStr("n");
  const std::vector<std::string> untouched = {
      "<svg><path d='M0'></path><polygon></polygon></svg>",
      "<svg><svg></svg><path></path></svg>",
      "<math><mi>x</mi><br></math>",
      "<textarea>a<br>b</p></textarea>",
      "<title>a<br></title>",
      "<script>s='</p><br>';</script>",
      "<style>p</p></style>",
      "<!-- </p><br> -->",
      "<xmp></p></xmp>",
  };
  for (const std::string& text : untouched) {
    std::string out = Content(m, text + "<br>");
    EXPECT_TRUE(out.starts_with(text)) << out;
    EXPECT_EQ(Count(out, "style='"), 1u) << "only the <br> outside: " << out;
  }
}

TEST(RndContent, DecoyKinds) {
  Protector m;
  m.set_copyright("n");
  m.set_decoy_kind(DecoyKind::kRandomText);
  std::vector<double> random_text = {Pick(1, 17), Pick(0, 10)};
  Repeat(random_text, 13, kLower);
  random_text.insert(random_text.end(), {Pick(0, 17), Pick(0, 17), Pick(32, 95)});
  {
    ScriptedRandomSource values(random_text);
    ScopedRandomSource use(values);
    EXPECT_EQ(m.protect_content("x</p>"), "x<span style=';display:none;;'>A</span></p>");
    EXPECT_EQ(values.remaining(), 0u);
  }
  m.set_decoy_kind(DecoyKind::kBoth);
  std::vector<double> both = random_text;
  both.push_back(Pick(1, 3));  // LF between the two, inside the first
  both.insert(both.end(), {Pick(0, 2), Pick(0, 2), Pick(1, 3)});
  Repeat(both, 13, kLower);
  both.insert(both.end(), {Pick(0, 17), Pick(0, 17)});
  {
    ScriptedRandomSource values(both);
    ScopedRandomSource use(values);
    EXPECT_EQ(m.protect_content("<br>"),
              "<span style=';display:none;;'>A\n</span><font style=';display:none;;'>n</font><br>");
    EXPECT_EQ(values.remaining(), 0u);
  }
  // Without random text, the whitespace opens the notice's element.
  both[0] = Pick(0, 17);
  both.erase(both.begin() + 1, both.begin() + 18);  // name, style, runs, character
  {
    ScriptedRandomSource values(both);
    ScopedRandomSource use(values);
    EXPECT_EQ(m.protect_content("<br>"), "<font style=';display:none;;'>\nn</font><br>");
    EXPECT_EQ(values.remaining(), 0u);
  }
}

// Random text that HTML and XML both read as text: no control character but TAB
// and LF, no DEL, no "<", ">" or "&", and nothing outside the elements.
TEST(RndContent, RandomTextIsPlainText) {
  for (DecoyKind kind : {DecoyKind::kRandomText, DecoyKind::kBoth}) {
    Protector m;
    m.set_copyright("n");
    m.set_decoy_kind(kind);
    std::string article;
    for (int i = 0; i < 400; ++i) article += "<p>x</p>";
    std::string out = m.protect_content(article);
    std::size_t seen = 0;
    for (std::size_t pos = 0; (pos = out.find("'>", pos)) != std::string::npos; ++pos) {
      std::size_t end = out.find("</", pos);
      for (std::size_t k = pos + 2; k < end; ++k) {
        unsigned char c = static_cast<unsigned char>(out[k]);
        ASSERT_TRUE(c == '\t' || c == '\n' || (c >= 0x20 && c < 0x7F) || c >= 0x80) << int(c);
        ASSERT_TRUE(c != '&' && c != '<' && c != '>') << out.substr(pos, end - pos);
        ++seen;
      }
    }
    EXPECT_GT(seen, 1000u);
    // Between a decoy's end tag and the next element or marker: nothing.
    for (std::size_t pos = 0; (pos = out.find("</", pos)) != std::string::npos; ++pos) {
      std::size_t gt = out.find('>', pos);
      if (gt + 1 < out.size()) {
        ASSERT_EQ(out[gt + 1], '<') << out.substr(pos, 40);
      }
    }
  }
}

TEST(RndContent, ManyLineBreaks) {
  Marquel m;
  m.CopyRStr("n");
  std::string article;
  for (int i = 0; i < 20000; ++i) article += "line<BR>";
  std::string out = Content(m, article);
  EXPECT_EQ(Count(out, "<br>"), 20000u);
  EXPECT_EQ(Count(out, "style='"), 20000u);
}

// The pass scans the article once and moves the line breaks past the paragraph
// decoys; doing both sweeps with a fresh scan each must give the same bytes.
std::string TwoScans(std::string_view article, const std::vector<internal::CopyrightEntry>& entries) {
  auto sweep = [&](std::string_view text, std::string_view marker) {
    // Where the tree builder keeps a decoy, as the scan meets the markers.
    struct Fits final : internal::MarkupVisitor {
      Fits(std::string_view t, std::string_view m) : text(t), marker(m) {}
      void Visit(std::size_t lt, const internal::TreeBuilder& tree,
                 const internal::ScannedTag&) override {
        if (!internal::MatchesAt(text, lt, marker)) return;
        std::size_t name = lt + marker.size() - 1, end = name;
        while (end < text.size() && !internal::EndsTagName(text[end])) ++end;
        if (tree.DecoyFits(text.substr(name, end - name), marker == "</p", false)) at.push_back(lt);
      }
      std::string_view text, marker;
      std::vector<std::size_t> at;
    } fits(text, marker);
    internal::ScanMarkup(text, internal::RegionSet::kContent, false, fits);
    std::string out;
    std::size_t pos = 0;
    for (std::size_t lt : fits.at) {
      out.append(text, pos, lt - pos);
      out += internal::CopyrightDecoy(entries, internal::kZeroToSixteen, internal::CaseMode::kRandom);
      out += marker;
      pos = lt + marker.size();
    }
    out.append(text, pos);
    return out;
  };
  return sweep(sweep(article, "</p"), "<br");
}

TEST(RndContent, OneScanGivesWhatTwoScansGive) {
  const std::vector<std::string> pieces = {
      "<p>", "</p>", "<br>", "<BR/>", "</P >", "x", " ", "<div title='</p><br>'>", "<a b=x</p>",
      "<!--", "-->", "<svg>", "</svg>", "<script>", "</script>", "\"", "'", "=", "<td<br>",
      "<p class=\"a>b\">", "<br", ">"};
  std::mt19937 engine(3);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(1, 30);
  for (const char* copyright : {"Site:Rights", "Site<br>:<!--x"}) {
    auto entries = internal::ParseCopyright(copyright);
    const internal::ContentSettings settings{entries, internal::DecoyContent::kCopyright, nullptr, {}};
    for (int i = 0; i < 2000; ++i) {
      std::string article;
      for (int n = length(engine); n > 0; --n) article += pieces[pick(engine)];
      auto draws = testing::SeededValues(3000, static_cast<unsigned>(i));
      std::string once, twice;
      {
        ScriptedRandomSource values(draws);
        ScopedRandomSource use(values);
        once = internal::ContentPass(article, settings);
      }
      {
        ScriptedRandomSource values(draws);
        ScopedRandomSource use(values);
        twice = TwoScans(article, entries);
      }
      ASSERT_EQ(once, twice) << copyright << " on " << article;
    }
  }
}

}  // namespace
}  // namespace vantoro
