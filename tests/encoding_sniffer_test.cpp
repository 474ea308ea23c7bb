// The encoding sniffer: the table of labels, byte order marks, the prescan of a
// page's first 1024 bytes (meta elements, comments, other tags, the XML
// declaration), and the iconv converters named for each encoding, opened and
// checked on characters whose bytes the Encoding Standard's indexes give.
#include "html/encoding_sniffer.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <string_view>

namespace vantoro::internal {
namespace {

using namespace std::string_literals;

// A literal's bytes, NULs included.
template <std::size_t N>
constexpr std::string_view Bytes(const char (&literal)[N]) {
  return {literal, N - 1};
}

// Every encoding of the Encoding Standard, by the name it gives it.
constexpr std::array<std::string_view, 40> kAllEncodings = {
    "UTF-8",        "IBM866",       "ISO-8859-2",   "ISO-8859-3",     "ISO-8859-4",
    "ISO-8859-5",   "ISO-8859-6",   "ISO-8859-7",   "ISO-8859-8",     "ISO-8859-8-I",
    "ISO-8859-10",  "ISO-8859-13",  "ISO-8859-14",  "ISO-8859-15",    "ISO-8859-16",
    "KOI8-R",       "KOI8-U",       "macintosh",    "windows-874",    "windows-1250",
    "windows-1251", "windows-1252", "windows-1253", "windows-1254",   "windows-1255",
    "windows-1256", "windows-1257", "windows-1258", "x-mac-cyrillic", "GBK",
    "gb18030",      "Big5",         "EUC-JP",       "ISO-2022-JP",    "Shift_JIS",
    "EUC-KR",       "replacement",  "UTF-16BE",     "UTF-16LE",       "x-user-defined"};

// The encodings no converter is named for.
const std::set<std::string_view> kWithoutConverter = {"replacement", "x-user-defined", "UTF-16BE",
                                                      "UTF-16LE"};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  return out;
}

// --- Labels ----------------------------------------------------------------

TEST(EncodingSnifferLabels, EveryNameIsALabelOfItsEncodingInAnyCase) {
  std::set<std::string_view> distinct(kAllEncodings.begin(), kAllEncodings.end());
  ASSERT_EQ(distinct.size(), kAllEncodings.size());
  for (std::string_view name : kAllEncodings) {
    EXPECT_EQ(EncodingForLabel(name), name);
    EXPECT_EQ(EncodingForLabel(Upper(name)), name);
    EXPECT_EQ(EncodingForLabel(Lower(name)), name);
    EXPECT_EQ(EncodingForLabel(" \t\n\f\r" + std::string(name) + "\r\f\n\t "), name);
  }
}

struct LabelCase {
  std::string_view label;
  std::string_view encoding;  // empty: not a label
};

TEST(EncodingSnifferLabels, LabelsOtherThanTheNames) {
  const LabelCase cases[] = {
      {"unicode-1-1-utf-8", "UTF-8"},
      {"utf8", "UTF-8"},
      {"x-unicode20utf8", "UTF-8"},
      {"866", "IBM866"},
      {"csibm866", "IBM866"},
      {"l2", "ISO-8859-2"},
      {"iso_8859-2:1987", "ISO-8859-2"},
      {"iso_8859-3:1988", "ISO-8859-3"},
      {"latin4", "ISO-8859-4"},
      {"cyrillic", "ISO-8859-5"},
      {"asmo-708", "ISO-8859-6"},
      {"iso-8859-6-i", "ISO-8859-6"},
      {"greek8", "ISO-8859-7"},
      {"sun_eu_greek", "ISO-8859-7"},
      {"visual", "ISO-8859-8"},
      {"iso-8859-8-e", "ISO-8859-8"},
      {"logical", "ISO-8859-8-I"},
      {"csiso88598i", "ISO-8859-8-I"},
      {"l6", "ISO-8859-10"},
      {"iso885913", "ISO-8859-13"},
      {"iso8859-14", "ISO-8859-14"},
      {"l9", "ISO-8859-15"},
      {"Iso-8859-16", "ISO-8859-16"},  // its only label is its name
      {"koi", "KOI8-R"},
      {"koi8_r", "KOI8-R"},
      {"koi8-ru", "KOI8-U"},
      {"mac", "macintosh"},
      {"x-mac-roman", "macintosh"},
      {"tis-620", "windows-874"},
      {"iso-8859-11", "windows-874"},
      {"x-cp1250", "windows-1250"},
      {"cp1251", "windows-1251"},
      {"ascii", "windows-1252"},
      {"us-ascii", "windows-1252"},
      {"iso-8859-1", "windows-1252"},
      {"latin1", "windows-1252"},
      {"ansi_x3.4-1968", "windows-1252"},
      {"iso_8859-1:1987", "windows-1252"},
      {"x-cp1253", "windows-1253"},
      {"iso-8859-9", "windows-1254"},
      {"latin5", "windows-1254"},
      {"cp1255", "windows-1255"},
      {"x-cp1256", "windows-1256"},
      {"cp1257", "windows-1257"},
      {"x-cp1258", "windows-1258"},
      {"x-mac-ukrainian", "x-mac-cyrillic"},
      {"gb2312", "GBK"},
      {"chinese", "GBK"},
      {"x-gbk", "GBK"},
      {"GB18030", "gb18030"},
      {"big5-hkscs", "Big5"},
      {"cn-big5", "Big5"},
      {"x-x-big5", "Big5"},
      {"x-euc-jp", "EUC-JP"},
      {"cseucpkdfmtjapanese", "EUC-JP"},
      {"csiso2022jp", "ISO-2022-JP"},
      {"sjis", "Shift_JIS"},
      {"windows-31j", "Shift_JIS"},
      {"ms932", "Shift_JIS"},
      {"ms_kanji", "Shift_JIS"},
      {"korean", "EUC-KR"},
      {"windows-949", "EUC-KR"},
      {"ks_c_5601-1987", "EUC-KR"},
      {"iso-2022-kr", "replacement"},
      {"hz-gb-2312", "replacement"},
      {"iso-2022-cn-ext", "replacement"},
      {"unicodefffe", "UTF-16BE"},
      {"utf-16", "UTF-16LE"},
      {"unicode", "UTF-16LE"},
      {"ucs-2", "UTF-16LE"},
      {"csunicode", "UTF-16LE"},
      {"X-USER-DEFINED", "x-user-defined"},
      // ASCII case and ASCII whitespace at either end are ignored.
      {"  LATIN1  ", "windows-1252"},
      {"\tShift_JIS\n", "Shift_JIS"},
      {"\fUtF-8\r", "UTF-8"},
      // Not labels.
      {"", ""},
      {" \t\n", ""},
      {"utf-7", ""},
      {"utf-32", ""},
      {"latin-1", ""},
      {"iso-8859-12", ""},
      {"windows-1259", ""},
      {"cp932", ""},
      {"euc-cn", ""},
      {"iso_8859-1:1988", ""},
      {"x-user-define", ""},
      {"utf 8", ""},
      {"utf-8 utf8", ""},
      {"\vutf-8", ""},            // VT is not ASCII whitespace
      {"utf-8\xC2\xA0", ""},      // nor is NO-BREAK SPACE
      {"\xC5\xBFjis", ""},        // LATIN SMALL LETTER LONG S is not an "s"
      {"\xE2\x84\xAAoi8-r", ""},  // KELVIN SIGN is not a "k"
      {Bytes("utf-8\0"), ""},
  };
  std::set<std::string_view> reached;
  for (const LabelCase& c : cases) {
    EXPECT_EQ(EncodingForLabel(c.label), c.encoding) << "label '" << c.label << "'";
    if (!c.encoding.empty()) reached.insert(c.encoding);
  }
  // The rows reach every encoding, through a label other than its name where it has one.
  EXPECT_EQ(reached, std::set<std::string_view>(kAllEncodings.begin(), kAllEncodings.end()));
}

// --- Byte order marks --------------------------------------------------------

TEST(EncodingSnifferBom, OnlyAMarkAtTheVeryStartCounts) {
  const LabelCase cases[] = {
      {"\xEF\xBB\xBF", "UTF-8"},
      {"\xEF\xBB\xBF<!DOCTYPE html>", "UTF-8"},
      {"\xEF\xBB\xBF\xFE\xFF", "UTF-8"},
      {Bytes("\xFE\xFF\0<"), "UTF-16BE"},
      {Bytes("\xFF\xFE<\0"), "UTF-16LE"},
      {Bytes("\xFF\xFE\0\0"), "UTF-16LE"},  // no UTF-32 in browsers
      {"", ""},
      {"\xEF\xBB", ""},
      {"\xEF\xBB\xBE", ""},
      {"\xFE", ""},
      {"\xFF\xFF", ""},
      {Bytes("\0\0\xFE\xFF"), ""},
      {" \xEF\xBB\xBF", ""},
      {"<meta charset=utf-8>", ""},
  };
  for (const LabelCase& c : cases) {
    EXPECT_EQ(BomEncoding(c.label), c.encoding) << ::testing::PrintToString(std::string(c.label));
  }
}

// --- The prescan -------------------------------------------------------------

struct PrescanCase {
  const char* what;
  std::string page;
  std::string_view encoding;  // empty: nothing usable declared
};

TEST(EncodingSnifferPrescan, MetaElements) {
  const PrescanCase cases[] = {
      {"charset, unquoted", "<meta charset=gbk>", "GBK"},
      {"charset, double quotes", "<meta charset=\"Big5\">", "Big5"},
      {"charset, single quotes", "<meta charset='EUC-KR'>", "EUC-KR"},
      {"charset with a label", "<head><meta charset=\"latin1\"></head>", "windows-1252"},
      {"whitespace around the label", "<meta charset=\" koi8-r\t\">", "KOI8-R"},
      {"whitespace around =", "<meta charset = \"gbk\" >", "GBK"},
      {"self-closing", "<meta charset=\"gbk\"/>", "GBK"},
      {"slash glued to an unquoted value", "<meta charset=gbk/>", ""},
      {"slash after the name", "<meta/charset=gbk>", "GBK"},
      {"a slash between attributes", "<meta name=\"x\"/charset=gbk>", "GBK"},
      {"a slash inside an unquoted value", "<meta name=x/charset=gbk>", ""},
      {"upper case", "<META CHARSET=SHIFT_JIS>", "Shift_JIS"},
      {"mixed case", "<MeTa ChArSeT=\"Shift_JIS\">", "Shift_JIS"},
      {"other attributes around", "<meta name=\"viewport\" charset=euc-jp content=\"x\">",
       "EUC-JP"},
      {"after a doctype and tags", "<!DOCTYPE html><html lang=ja><head><meta charset=sjis>",
       "Shift_JIS"},
      {"after a byte order mark", "\xEF\xBB\xBF<meta charset=gbk>", "GBK"},
      {"the first one counts", "<meta charset=gbk><meta charset=big5>", "GBK"},
      {"inside script text (the prescan knows no scripts)",
       "<script>document.write('<meta charset=gbk>')</script>", "GBK"},

      {"pragma", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
       "Shift_JIS"},
      {"pragma, content first",
       "<meta content=\"text/html; charset=euc-jp\" http-equiv=\"content-type\">", "EUC-JP"},
      {"pragma, unquoted", "<meta http-equiv=Content-Type content=text/html;charset=koi8-r>",
       "KOI8-R"},
      {"pragma, label in single quotes",
       "<meta http-equiv=content-type content=\"text/html; charset='iso-8859-2'\">", "ISO-8859-2"},
      {"pragma, label in double quotes",
       "<meta http-equiv=content-type content='text/html; charset=\"windows-1251\"'>",
       "windows-1251"},
      {"pragma, spaces around =",
       "<meta http-equiv=content-type content=\"text/html; CHARSET = gbk; x=y\">", "GBK"},
      {"pragma, a charset word without =",
       "<meta http-equiv=content-type content=\"charsets; charset=gbk\">", "GBK"},
      {"pragma, unmatched quote", "<meta http-equiv=content-type content=\"charset='gbk\">", ""},
      {"pragma, nothing behind =", "<meta http-equiv=content-type content=\"charset=\">", ""},

      {"UTF-16LE is read as UTF-8", "<meta charset=utf-16le>", "UTF-8"},
      {"UTF-16 is read as UTF-8", "<meta charset=utf-16>", "UTF-8"},
      {"UTF-16BE is read as UTF-8", "<meta charset=\"UTF-16BE\">", "UTF-8"},
      {"UTF-16 by pragma is read as UTF-8",
       "<meta http-equiv=content-type content=\"charset=unicodefffe\">", "UTF-8"},
      {"x-user-defined is read as windows-1252", "<meta charset=x-user-defined>", "windows-1252"},
      {"replacement stays", "<meta charset=iso-2022-kr>", "replacement"},

      {"an unknown label, then a later meta", "<meta charset=foo><meta charset=gbk>", "GBK"},
      {"an empty charset, then a later meta", "<meta charset=\"\"><meta charset=big5>", "Big5"},
      {"an unknown pragma label, then a later meta",
       "<meta http-equiv=content-type content=\"charset=foo\"><meta charset=big5>", "Big5"},
      {"an unknown charset keeps the pragma out",
       "<meta charset=bogus content=\"text/html; charset=gbk\" http-equiv=content-type>", ""},

      {"http-equiv without content", "<meta http-equiv=\"Content-Type\">", ""},
      {"content without http-equiv", "<meta content=\"text/html; charset=gbk\">", ""},
      {"http-equiv other than content-type", "<meta http-equiv=refresh content=\"0; charset=gbk\">",
       ""},
      {"http-equiv with a space", "<meta http-equiv=\" content-type\" content=\"charset=gbk\">",
       ""},
      {"content without a charset", "<meta http-equiv=content-type content=\"text/html\">", ""},
      {"charset overrides an earlier content", "<meta content=\"charset=gbk\" charset=\"big5\">",
       "Big5"},
      {"charset keeps a later content out", "<meta charset=big5 content=\"charset=gbk\">", "Big5"},
      {"charset needs no pragma", "<meta http-equiv=refresh charset=gbk>", "GBK"},
      {"a failed pragma, then a later charset",
       "<meta content=\"charset=gbk\"><meta charset=euc-kr>", "EUC-KR"},

      {"charset twice: the first wins", "<meta charset=gbk charset=big5>", "GBK"},
      {"charset twice: an unknown first wins", "<meta charset=bogus charset=big5>", ""},
      {"charset twice, any case", "<meta charset=gbk CHARSET=big5>", "GBK"},
      {"content twice: the first wins",
       "<meta http-equiv=content-type content=\"charset=foo\" content=\"charset=gbk\">", ""},
      {"http-equiv twice: the first wins",
       "<meta http-equiv=refresh http-equiv=content-type content=\"charset=gbk\">", ""},

      {"<metacharset is not a meta", "<metacharset=gbk>", ""},
      {"<metacharset, then a meta", "<metacharset=gbk><meta charset=big5>", "Big5"},
      {"<meta- is not a meta", "<meta-x charset=gbk>", ""},
      {"nothing declared",
       "<!DOCTYPE html><html><head><title>Page</title></head><body><p>Text</p></body></html>", ""},
      {"empty page", "", ""},
  };
  for (const PrescanCase& c : cases) {
    EXPECT_EQ(PrescanEncoding(c.page), c.encoding) << c.what << ": " << c.page;
  }
}

TEST(EncodingSnifferPrescan, CommentsAndOtherMarkup) {
  const PrescanCase cases[] = {
      {"a meta in a comment", "<!-- <meta charset=gbk> --><p>x</p>", ""},
      {"a meta behind a comment", "<!-- <meta charset=gbk> --><meta charset=big5>", "Big5"},
      {"the comment's dashes end it", "<!--><meta charset=gbk>", "GBK"},
      {"three dashes end it", "<!---><meta charset=gbk>-->", "GBK"},
      {"--!> does not end it", "<!-- --!><meta charset=gbk>", ""},
      {"an unclosed comment", "<!-- <meta charset=gbk>", ""},
      {"a meta in a quoted value", "<a title=\"<meta charset=gbk>\">x</a>", ""},
      {"a meta in a single-quoted value", "<img alt='x <meta charset=gbk>'>", ""},
      {"a meta in an unquoted value", "<a title=<meta charset=gbk>>", ""},
      {"a quoted > does not end a tag", "<a title=\">\" x='<meta charset=gbk>'>", ""},
      {"an unclosed quote ends the scan", "<a title=\"x><meta charset=gbk>", ""},
      {"a meta behind another tag", "<link rel=stylesheet href=a.css><meta charset=gbk>", "GBK"},
      {"an end tag's attributes", "</p title=\"<meta charset=gbk>\">", ""},
      {"an end tag, then a meta", "</head><meta charset=gbk>", "GBK"},
      {"</ skips to >", "</ <meta charset=gbk>", ""},
      {"<? skips to >", "<? <meta charset=gbk> ?>", ""},
      {"<! skips to >", "<!x <meta charset=gbk>>", ""},
      {"a lone < is text", "a < b <meta charset=gbk>", "GBK"},
      {"<= is text", "<=<meta charset=gbk>", "GBK"},
  };
  for (const PrescanCase& c : cases) {
    EXPECT_EQ(PrescanEncoding(c.page), c.encoding) << c.what << ": " << c.page;
  }
}

TEST(EncodingSnifferPrescan, XmlDeclarations) {
  const PrescanCase cases[] = {
      {"encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><p>x</p>", "ISO-8859-2"},
      {"single quotes", "<?xml version='1.0' encoding='windows-1251'?>", "windows-1251"},
      {"spaces around =", "<?xml version=\"1.0\" encoding = \"koi8-r\"?>", "KOI8-R"},
      {"UTF-16 is read as UTF-8", "<?xml version=\"1.0\" encoding=\"utf-16\"?>", "UTF-8"},
      {"x-user-defined stays", "<?xml version=\"1.0\" encoding=\"x-user-defined\"?>",
       "x-user-defined"},
      {"a meta wins", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><meta charset=gbk>", "GBK"},
      {"used when the metas declare nothing",
       "<?xml version=\"1.0\" encoding=\"gbk\"?><meta charset=bogus>", "GBK"},
      {"only before its >", "<?xml version=\"1.0\"?> encoding=\"gbk\"", ""},
      {"only at the very start", " <?xml version=\"1.0\" encoding=\"gbk\"?>", ""},
      {"<?xml in lower case only", "<?XML version=\"1.0\" encoding=\"gbk\"?>", ""},
      {"encoding in lower case only", "<?xml version=\"1.0\" ENCODING=\"gbk\"?>", ""},
      {"no space in the label", "<?xml version=\"1.0\" encoding=\"gbk \"?>", ""},
      {"the label quoted", "<?xml version=\"1.0\" encoding=gbk?>", ""},
      {"an unknown label", "<?xml version=\"1.0\" encoding=\"bogus\"?>", ""},
      {"UTF-16LE without a byte order mark", "<\0?\0x\0m\0l\0 \0"s, "UTF-16LE"},
      {"UTF-16BE without a byte order mark", "\0<\0?\0x\0m\0l\0 "s, "UTF-16BE"},
      {"UTF-16 <?x in lower case only", "<\0?\0X\0M\0L\0 \0"s, ""},
  };
  for (const PrescanCase& c : cases) {
    EXPECT_EQ(PrescanEncoding(c.page), c.encoding) << c.what << ": " << c.page;
  }
}

// `tail` placed so that its last byte is byte `last` (counted from 0) of the page.
std::string EndingAt(std::size_t last, const std::string& tail) {
  return std::string(last + 1 - tail.size(), ' ') + tail;
}

// An XML declaration at the start of the page whose ">" is byte `last`.
std::string LongXml(std::size_t last) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"big5\"";
  return xml + std::string(last - xml.size(), ' ') + ">";
}

TEST(EncodingSnifferPrescan, OnlyTheFirst1024BytesCount) {
  ASSERT_EQ(kPrescanBytes, 1024u);
  const std::string meta = "<meta charset=gbk>";
  const std::string quoted = "<meta charset=\"gbk\">";
  const std::string xml = "<?xml version=\"1.0\" encoding=\"big5\"?>";
  const PrescanCase cases[] = {
      {"the > is byte 1023", EndingAt(1023, meta), "GBK"},
      {"the > is byte 1023, more follows", EndingAt(1023, meta) + "<p>x</p>", "GBK"},
      {"the > is byte 1024", EndingAt(1024, meta), ""},
      {"the quote closes at byte 1023, the > is byte 1024", EndingAt(1024, quoted), ""},
      {"a meta beyond the first 1024 bytes", std::string(1100, 'x') + meta, ""},
      {"a comment closing beyond them", "<!--" + std::string(1100, 'x') + "-->" + meta, ""},
      {"an XML declaration, the scan running out in a comment",
       xml + "<!--" + std::string(1100, 'x') + "-->" + meta, "Big5"},
      {"an XML declaration whose > is byte 1023", LongXml(1023), "Big5"},
      {"an XML declaration whose > is byte 1024", LongXml(1024), ""},
  };
  for (const PrescanCase& c : cases) {
    EXPECT_EQ(PrescanEncoding(c.page), c.encoding) << c.what;
  }
}

// Pages of markup pieces, many of them cut off somewhere by the limit: whatever
// follows byte 1023 never changes the result.
TEST(EncodingSnifferPrescan, BytesBehindTheLimitChangeNothing) {
  static const std::vector<std::string> pieces = {
      "<meta charset=gbk>",
      "<meta charset=\"big5\">",
      "<meta charset=bogus>",
      "<meta http-equiv=content-type content=\"text/html; charset=koi8-r\">",
      "<meta content='charset=euc-kr'>",
      "<!--",
      "-->",
      "<a title=\"",
      "\">",
      "'",
      "<p>",
      "</p>",
      "<",
      ">",
      "x",
      "          ",
      "<?",
      "<!",
      "=",
      "/",
      "\"",
      "<?xml encoding='gbk'?>"};
  std::mt19937 engine(1024);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::set<std::string_view> results;
  for (int i = 0; i < 3000; ++i) {
    std::string page;
    while (page.size() < 1300) page += pieces[pick(engine)];
    const std::string window = page.substr(0, kPrescanBytes);
    std::string_view expected = PrescanEncoding(window);
    ASSERT_EQ(PrescanEncoding(page), expected) << page;
    ASSERT_EQ(PrescanEncoding(window + "<meta charset=shift_jis>"), expected) << page;
    results.insert(expected);
  }
  // The pages reach declarations of every kind, and pages with none.
  for (std::string_view e : {"", "GBK", "Big5", "KOI8-R"}) {
    EXPECT_EQ(results.count(e), 1u) << "no page gave '" << e << "'";
  }
}

// --- Converters --------------------------------------------------------------

// `text` (UTF-8) converted by iconv into `to`; false when iconv cannot open the
// converter or convert the text.
bool Convert(std::string_view to, std::string_view text, std::string& out) {
  iconv_t cd = iconv_open(std::string(to).c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return false;
  std::string in(text);
  out.assign(text.size() * 8 + 16, '\0');
  char* in_ptr = in.data();
  std::size_t in_left = in.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
  bool ok = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) != kFailed &&
            iconv(cd, nullptr, nullptr, &out_ptr, &out_left) != kFailed;
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return ok;
}

TEST(EncodingSnifferIconv, EveryConverterOpensAndKeepsAscii) {
  const std::string ascii = "<p class=\"note\">A &amp; b, 1 + 2 = 3; ~ \\ [x] {y}</p>\r\n";
  for (std::string_view encoding : kAllEncodings) {
    std::string_view name = IconvName(encoding);
    if (kWithoutConverter.count(encoding) != 0) {
      EXPECT_EQ(name, "") << encoding;
      continue;
    }
    ASSERT_FALSE(name.empty()) << encoding;
    std::string out;
    EXPECT_TRUE(Convert(name, ascii, out)) << encoding << " as " << name;
    EXPECT_EQ(out, ascii) << encoding << " as " << name;
  }
  // Only the names count, not the other labels.
  for (std::string_view other : {"", "utf-8", "latin1", "CP1252", "shift_jis", "sjis"}) {
    EXPECT_EQ(IconvName(other), "") << other;
  }
}

struct Converted {
  std::string_view encoding;
  std::string_view text;   // UTF-8
  std::string_view bytes;  // as the Encoding Standard's index gives them
};

// A character per encoding, several chosen where a near converter differs: the
// Windows-31J and Unified Hangul extensions, the Ukrainian Mac letter, the Thai
// baht and the Hebrew letters of ISO-8859-8-I.
TEST(EncodingSnifferIconv, CharactersComeOutAsBrowsersReadThem) {
  const Converted cases[] = {
      {"UTF-8", "\xC3\xA9", "\xC3\xA9"},                   // é
      {"IBM866", "\xD0\x96", "\x86"},                      // Ж
      {"ISO-8859-2", "\xC5\x81", "\xA3"},                  // Ł
      {"ISO-8859-8", "\xD7\x90", "\xE0"},                  // א
      {"ISO-8859-8-I", "\xD7\x90", "\xE0"},                // א
      {"ISO-8859-16", "\xC8\x98", "\xAA"},                 // Ș
      {"KOI8-R", "\xD0\x96", "\xF6"},                      // Ж
      {"KOI8-U", "\xD1\x97", "\xA7"},                      // ї
      {"macintosh", "\xC3\xA9", "\x8E"},                   // é
      {"x-mac-cyrillic", "\xD2\x90", "\xA2"},              // Ґ
      {"windows-874", "\xE0\xB8\xBF", "\xDF"},             // ฿
      {"windows-1250", "\xC5\xA0", "\x8A"},                // Š
      {"windows-1251", "\xD0\x96", "\xC6"},                // Ж
      {"windows-1252", "\xE2\x82\xAC", "\x80"},            // €
      {"windows-1254", "\xC4\x9F", "\xF0"},                // ğ
      {"windows-1258", "\xE2\x82\xAB", "\xFE"},            // ₫
      {"GBK", "\xE4\xB8\xAD", "\xD6\xD0"},                 // 中
      // €: the gb18030 encoder's bytes, which the decoder browsers use for
      // GBK reads as € just as it reads GBK's single 0x80.
      {"GBK", "\xE2\x82\xAC", "\xA2\xE3"},
      {"gb18030", "\xE2\x82\xAC", "\xA2\xE3"},             // €
      {"Big5", "\xE4\xB8\xAD", "\xA4\xA4"},                // 中
      {"EUC-JP", "\xE3\x81\x82", "\xA4\xA2"},              // あ
      {"ISO-2022-JP", "\xE3\x81\x82", "\x1B$B$\"\x1B(B"},  // あ
      {"Shift_JIS", "\xE3\x81\x82", "\x82\xA0"},           // あ
      {"Shift_JIS", "\xE2\x91\xA0", "\x87\x40"},           // ①
      {"EUC-KR", "\xED\x95\x9C", "\xC7\xD1"},              // 한
      {"EUC-KR", "\xEB\x98\xA0", "\x8C\x63"},              // 똠
  };
  for (const Converted& c : cases) {
    std::string out;
    EXPECT_TRUE(Convert(IconvName(c.encoding), c.text, out)) << c.encoding;
    EXPECT_EQ(out, c.bytes) << c.encoding << " as " << IconvName(c.encoding);
  }
}

}  // namespace
}  // namespace vantoro::internal
