// Marks in visible text: where they go (and never go), that a copy gives the id
// back under the site's key and no other, in fragments and after the changes a
// browser's or an extractor's copy makes, and that unmarked or foreign texts
// practically never pass for marked.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "mark/mark_code.h"
#include "mark/sentence_marks.h"
#include "vantoro/protector.h"

namespace vantoro {
namespace {

constexpr std::uint64_t kId = 0x0123456789ABCDEFull;

// Prose of generated sentences: words of 2 to 9 letters, 6 to 18 per sentence.
std::string Prose(std::mt19937& rng, std::size_t sentences) {
  std::string text;
  for (std::size_t s = 0; s < sentences; ++s) {
    const std::size_t words = 6 + rng() % 13;
    for (std::size_t w = 0; w < words; ++w) {
      const std::size_t length = 2 + rng() % 8;
      for (std::size_t k = 0; k < length; ++k) {
        char c = static_cast<char>('a' + rng() % 26);
        if (w == 0 && k == 0) c = static_cast<char>(c - 32);
        text += c;
      }
      text += w + 1 == words ? ". " : " ";
    }
  }
  return text;
}

// An article of paragraphs of prose.
std::string Article(std::mt19937& rng, std::size_t paragraphs) {
  std::string html = "<!DOCTYPE html><html><head><title>t</title></head><body>";
  for (std::size_t p = 0; p < paragraphs; ++p) html += "<p>" + Prose(rng, 3 + rng() % 4) + "</p>\n";
  return html + "</body></html>";
}

Protector Marking(std::string_view site_key, HideMethod hide = HideMethod::kLayered) {
  Options options;
  options.content.copyright = "Example Site:All rights reserved";
  options.content.hide = hide;
  options.content.site_key = site_key;
  options.content.marks = true;
  Protector protector(options);
  protector.set_mark_id(kId);
  return protector;
}

std::string MarksOnly(std::string_view site_key, std::string_view article) {
  const internal::MarkKey key = internal::DeriveMarkKey(site_key);
  const auto codeword = internal::MarkCodeword(key, kId);
  return internal::MarkSentences(article, {&key, &codeword, nullptr});
}

// The text a browser shows, roughly: tags out (block ends as line breaks),
// entities of the test pages decoded, whitespace collapsed.
std::string Rendered(const std::string& html) {
  std::string text = std::regex_replace(html, std::regex("<(script|style|title)[^>]*>[^<]*</\\1>",
                                                         std::regex::icase), " ");
  text = std::regex_replace(text, std::regex("</p>|<br>"), "\n");
  text = std::regex_replace(text, std::regex("<[^>]*>"), "");
  text = std::regex_replace(text, std::regex("&amp;"), "&");
  return std::regex_replace(text, std::regex("[ \t\n]+"), " ");
}

std::size_t SelectorCount(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    if (text.compare(i, 2, "\xEF\xB8") == 0 && (static_cast<unsigned char>(text[i + 2]) & 0xF0) == 0x80) ++n;
    if (text.compare(i, 3, "\xF3\xA0\x84") == 0 || text.compare(i, 3, "\xF3\xA0\x85") == 0 ||
        text.compare(i, 3, "\xF3\xA0\x86") == 0 || text.compare(i, 3, "\xF3\xA0\x87") == 0) {
      ++n;
    }
  }
  return n;
}

TEST(Marks, TheSiteKeyFindsTheIdAndNoOtherKeyDoes) {
  std::mt19937 rng(1);
  const std::string page = Article(rng, 12);
  const std::string out = Marking("site-key").protect(page);
  std::vector<MarkFound> found = Trace(out, "site-key");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].id, kId);
  EXPECT_EQ(found[0].agreeing, found[0].seen);
  EXPECT_TRUE(Trace(out, "other-key").empty());
  EXPECT_TRUE(Trace(page, "site-key").empty());
  EXPECT_THROW(Trace(out, ""), Error);
  // In what a browser shows, and with the selectors written as references.
  EXPECT_EQ(Trace(Rendered(out), "site-key").at(0).id, kId);
  const std::string marked = MarksOnly("site-key", page);
  std::string referenced;
  for (std::size_t i = 0; i < marked.size();) {
    if (marked.compare(i, 3, "\xF3\xA0\x84") == 0 || marked.compare(i, 3, "\xF3\xA0\x85") == 0 ||
        marked.compare(i, 3, "\xF3\xA0\x86") == 0 || marked.compare(i, 3, "\xF3\xA0\x87") == 0) {
      const unsigned cp = 0xE0000u | ((static_cast<unsigned char>(marked[i + 2]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(marked[i + 3]) & 0x3Fu);
      referenced += "&#" + std::to_string(cp) + ";";
      i += 4;
    } else {
      referenced += marked[i++];
    }
  }
  EXPECT_EQ(Trace(referenced, "site-key").at(0).id, kId);
}

TEST(Marks, AnyFragmentOfAFewSentencesGivesTheIdBack) {
  // Sentence marks alone (no notices), in fragments cut anywhere, in any order.
  std::mt19937 rng(2);
  const std::string text = Rendered(MarksOnly("k", Article(rng, 40)));
  std::size_t decoded = 0, tried = 0;
  for (int w = 0; w < 200; ++w, ++tried) {
    std::size_t start = rng() % (text.size() - 1500);
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    std::string window = text.substr(start, 1500);
    while (!window.empty() && (static_cast<unsigned char>(window.back()) & 0xC0) == 0x80) window.pop_back();
    if (!window.empty() && static_cast<unsigned char>(window.back()) >= 0xC0) window.pop_back();
    std::vector<MarkFound> found = Trace(window, "k");
    if (!found.empty()) {
      EXPECT_EQ(found[0].id, kId);
      ++decoded;
    }
  }
  EXPECT_GE(decoded, tried * 99 / 100);
  // Sentences shuffled: no order is needed.
  std::vector<std::string> sentences;
  std::sregex_iterator end;
  std::size_t from = 0;
  const std::regex mark("\\.(\xEF\xB8[\x80-\x8F]|\xF3\xA0[\x84-\x87][\x80-\xBF])+ ");
  for (std::sregex_iterator it(text.begin(), text.end(), mark); it != end; ++it) {
    const std::size_t to = static_cast<std::size_t>(it->position() + it->length());
    sentences.push_back(text.substr(from, to - from));
    from = to;
  }
  ASSERT_GT(sentences.size(), 20u);
  std::shuffle(sentences.begin(), sentences.end(), rng);
  std::string shuffled = " ";
  for (std::size_t s = 0; s < 8 && s < sentences.size(); ++s) shuffled += sentences[s];
  EXPECT_EQ(Trace(shuffled, "k").at(0).id, kId);
}

TEST(Marks, CopiesThatChangeCaseSpacingAndInvisibleCharactersStillDecode) {
  std::mt19937 rng(3);
  std::string text = Rendered(MarksOnly("k", Article(rng, 6)));
  // A text-transform to upper case, line breaks for spaces, soft hyphens and
  // zero-width spaces taken out or put in.
  std::string upper;
  for (char c : text) upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  EXPECT_EQ(Trace(upper, "k").at(0).id, kId);
  EXPECT_EQ(Trace(std::regex_replace(text, std::regex(" "), "\n  "), "k").at(0).id, kId);
  EXPECT_EQ(Trace(std::regex_replace(text, std::regex("e"), "e\xC2\xAD"), "k").at(0).id, kId);
  // A copy that strips every selector has nothing left to find.
  std::string stripped = std::regex_replace(text, std::regex("\xEF\xB8[\x80-\x8F]|\xF3\xA0[\x84-\x87][\x80-\xBF]"), "");
  EXPECT_EQ(SelectorCount(stripped), 0u);
  EXPECT_TRUE(Trace(stripped, "k").empty());
}

TEST(Marks, UnmarkedAndForeignTextsAreNeverFound) {
  // 100,000 texts: windows of prose marked under 1,000 other keys (notices
  // included), and windows of unmarked prose. A false find would need about
  // 2^-40 luck per text.
  std::mt19937 rng(4);
#ifdef VANTORO_SANITIZED
  constexpr int kKeys = 100;  // 10,000 texts: the sanitizers look for faults, not rates
#else
  constexpr int kKeys = 1000;
#endif
  std::size_t texts = 0, with_selectors = 0;
  for (int k = 0; k < kKeys; ++k) {
    std::mt19937 article_rng(static_cast<std::uint32_t>(k));
    const std::string page = Article(article_rng, 6);
    const std::string foreign = Marking("foreign-" + std::to_string(k)).protect_content(page);
    for (int w = 0; w < 50; ++w, ++texts) {
      const std::size_t start = rng() % (foreign.size() - 400);
      const std::string window = foreign.substr(start, 400 + rng() % 1200);
      with_selectors += SelectorCount(window) > 0;
      ASSERT_TRUE(Trace(window, "site-key").empty()) << window;
    }
    const std::string plain = Rendered(page);
    for (int w = 0; w < 50; ++w, ++texts) {
      const std::size_t start = rng() % (plain.size() / 2);
      ASSERT_TRUE(Trace(plain.substr(start, 1500), "site-key").empty());
    }
  }
  EXPECT_EQ(texts, kKeys * 100u);
  EXPECT_GT(with_selectors, kKeys * 45u);
}

TEST(Marks, GoOnlyBehindSentenceEndsOfProse) {
  auto count = [](const std::string& html) { return SelectorCount(MarksOnly("k", html)); };
  const std::string words = "one two three four five";
  const std::string body = "<body><p>";
  // A sentence end of prose, before a space, an end tag or a line break.
  EXPECT_EQ(count(body + "x " + words + ". y</p>"), 7u);
  EXPECT_EQ(count(body + "x " + words + "!</p>"), 7u);
  EXPECT_EQ(count(body + "x " + words + "?<br>y</p>"), 7u);
  // Never inside a word, nor where the next tag may go on with it.
  EXPECT_EQ(count(body + "x " + words + ".y</p>"), 0u);
  EXPECT_EQ(count(body + "x " + words + ".<b>y</b></p>"), 0u);
  // Never behind a digit, "#" or "*" (keycap and emoji sequences); in a run
  // of punctuation, only behind its last.
  EXPECT_EQ(count(body + "x " + words + " 42. y</p>"), 0u);
  EXPECT_EQ(count(body + "x " + words + "#. y</p>"), 0u);
  EXPECT_EQ(count(body + "x " + words + "*. y</p>"), 0u);
  for (const std::string run : {"...", "?!"}) {
    const std::string marked = MarksOnly("k", body + "x " + words + run + " y</p>");
    EXPECT_EQ(SelectorCount(marked), 7u) << run;
    EXPECT_NE(marked.find("five" + run + "\xF3"), std::string::npos) << run;
  }
  // The words in front must be whole plain text: no entity among them, no tag.
  EXPECT_EQ(count(body + "x one &amp; two three. y</p>"), 0u);
  EXPECT_EQ(count(body + "x caf&eacute; two three. y</p>"), 0u);
  EXPECT_EQ(count(body + "<b>one</b>two three. y</p>"), 0u);
  EXPECT_EQ(count(body + "one two three. y</p>"), 0u) << "the first word starts the text";
  // Nowhere but prose.
  for (const char* where :
       {"<pre>x %s. y</pre>", "<code>x %s. y</code>", "<kbd>x %s. y</kbd>", "<samp>x %s. y</samp>",
        "<textarea>x %s. y</textarea>", "<select><option>x %s. y</option></select>",
        "<svg><text>x %s. y</text></svg>", "<math><mi>x %s. y</mi></math>", "<!-- x %s. y -->",
        "<script>x %s. y</script>", "<p title='x %s. y'>z</p>", "<template>x %s. y</template>",
        "<table><tr><td><pre>x %s. y</pre></td></tr></table>"}) {
    std::string html = "<body>" + std::regex_replace(std::string(where), std::regex("%s"), words) + "</body>";
    EXPECT_EQ(count(html), 0u) << html;
  }
  EXPECT_EQ(count("<head><title>x " + words + ". y</title></head>"), 0u);
  // In a table cell and a link, prose is prose.
  EXPECT_EQ(count("<body><table><tr><td>x " + words + ". y</td></tr></table>"), 7u);
  EXPECT_EQ(count(body + "x <a href=u>" + words + ". y</a></p>"), 7u);
  // A selector already there is left alone.
  EXPECT_EQ(count(body + "x " + words + ".\xEF\xB8\x8F y</p>"), 1u);
}

TEST(Marks, CjkFullStopsTakeNoRegisteredVariant) {
  // Behind the CJK full stop (UTF-8 pages only), never the first two
  // selectors, which pick registered glyph variants of these marks.
  std::mt19937 rng(5);
  std::string html = "<body><p>";
  const char* kHan[] = {"\xE4\xBD\xA0", "\xE5\xA5\xBD", "\xE4\xB8\xAD", "\xE6\x96\x87", "\xE5\xAD\x97"};
  for (int s = 0; s < 300; ++s) {
    for (int c = 0; c < 6; ++c) html += kHan[rng() % 5];
    html += "\xE3\x80\x82";
  }
  html += "</p>";
  const std::string marked = MarksOnly("k", html);
  std::size_t marks = 0;
  for (std::size_t at = marked.find("\xE3\x80\x82"); at != std::string::npos;
       at = marked.find("\xE3\x80\x82", at + 1)) {
    const std::string_view next = std::string_view(marked).substr(at + 3, 3);
    if (next == "\xEF\xB8\x80" || next == "\xEF\xB8\x81") ADD_FAILURE() << "a registered variant";
    marks += next.starts_with("\xEF\xB8") || next.starts_with("\xF3\xA0");
  }
  EXPECT_GT(marks, 250u);
  EXPECT_EQ(Trace(Rendered(marked), "k").at(0).id, kId);
  // In a page not in UTF-8, only ASCII sentence ends with ASCII words count.
  Options options;
  options.charset = "GBK";
  options.content.copyright = "Example Site";
  options.content.hide = HideMethod::kLayered;
  options.content.site_key = "k";
  options.content.marks = true;
  Protector gbk(options);
  const std::string out = gbk.protect_content("<body><p>x one two three. y \xC4\xE3\xBA\xC3\xA1\xA3 z</p>");
  EXPECT_NE(out.find("three.&#"), std::string::npos) << "GBK has no selectors: references";
  EXPECT_NE(out.find("\xA1\xA3 z"), std::string::npos) << "no mark behind the CJK full stop";
  EXPECT_EQ(Trace(out, "k").size(), 1u);
}

TEST(Marks, NeedAKeyAndAddNothingButSelectors) {
  Options options;
  options.content.copyright = "c";
  options.content.marks = true;
  EXPECT_THROW(Protector{options}, Error) << "no site key";
  // Random-text decoys carry no notice: the sentence marks are all a marked
  // output has more than an unmarked one, under the same draws.
  std::mt19937 rng(6);
  const std::string page = Article(rng, 8);
  std::vector<double> values(20000);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>((i * 7919) % 1000) / 1000.0;
  auto run = [&](bool marks) {
    Options o;
    o.content.decoy = DecoyKind::kRandomText;
    o.content.hide = HideMethod::kLayered;
    o.content.site_key = "site-key";
    o.content.marks = marks;
    ScriptedRandomSource source(values);
    ScopedRandomSource use(source);
    Protector protector(o);
    protector.set_mark_id(kId);
    return protector.protect(page);
  };
  const std::string with = run(true), without = run(false);
  EXPECT_GT(SelectorCount(with), 50u);
  EXPECT_EQ(std::regex_replace(with, std::regex("\xEF\xB8[\x80-\x8F]|\xF3\xA0[\x84-\x87][\x80-\xBF]"), ""),
            without);
}

}  // namespace
}  // namespace vantoro
