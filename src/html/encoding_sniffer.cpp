#include "html/encoding_sniffer.h"

#include <algorithm>
#include <array>

#include "text/ascii.h"
#include "text/whitespace.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;

struct Encoding {
  std::string_view name;
  std::string_view iconv;   // empty: no converter takes it
  std::string_view labels;  // separated by single spaces
};

// The Encoding Standard's table of labels, one row for each encoding, in its
// order, with the glibc converter for each.
constexpr std::array<Encoding, 40> kEncodings{{
    {"UTF-8", "UTF-8", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"IBM866", "IBM866", "866 cp866 csibm866 ibm866"},
    {"ISO-8859-2", "ISO-8859-2",
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"ISO-8859-3", "ISO-8859-3",
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"ISO-8859-4", "ISO-8859-4",
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"ISO-8859-5", "ISO-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 "
     "iso_8859-5:1988"},
    {"ISO-8859-6", "ISO-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
     "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"ISO-8859-7", "ISO-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
     "iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
    {"ISO-8859-8", "ISO-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
     "iso_8859-8 iso_8859-8:1988 visual"},
    // The same bytes as ISO-8859-8, in logical rather than visual order.
    {"ISO-8859-8-I", "ISO-8859-8", "csiso88598i iso-8859-8-i logical"},
    {"ISO-8859-10", "ISO-8859-10",
     "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"ISO-8859-13", "ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"ISO-8859-14", "ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"ISO-8859-15", "ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"ISO-8859-16", "ISO-8859-16", "iso-8859-16"},
    {"KOI8-R", "KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
    {"KOI8-U", "KOI8-U", "koi8-ru koi8-u"},
    {"macintosh", "MACINTOSH", "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", "CP874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "CP1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "CP1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", "CP1252",
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
     "iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "CP1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "CP1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 "
     "latin5 windows-1254 x-cp1254"},
    {"windows-1255", "CP1255", "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "CP1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "CP1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", "CP1258", "cp1258 windows-1258 x-cp1258"},
    // The Ukrainian variant (0xA2 is U+0490), which glibc calls MAC-CYRILLIC.
    {"x-mac-cyrillic", "MAC-CYRILLIC", "x-mac-cyrillic x-mac-ukrainian"},
    // Browsers read GBK pages with the gb18030 decoder: its converter writes
    // GBK's bytes where GBK has the character, and GB18030's where it has not.
    {"GBK", "GB18030",
     "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "GB18030", "gb18030"},
    {"Big5", "BIG5-HKSCS", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"EUC-JP", "EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"ISO-2022-JP", "ISO-2022-JP", "csiso2022jp iso-2022-jp"},
    // Windows-31J: the NEC and IBM extensions are in, as browsers read them.
    {"Shift_JIS", "CP932", "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    // The Unified Hangul Code, of which EUC-KR proper is a part.
    {"EUC-KR", "CP949",
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 "
     "ksc_5601 windows-949"},
    // Labels of encodings a browser refuses to decode: it shows one U+FFFD.
    {"replacement", "",
     "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"},
    {"UTF-16BE", "", "unicodefffe utf-16be"},
    {"UTF-16LE", "", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
    {"x-user-defined", "", "x-user-defined"},
}};

constexpr std::string_view kUtf8 = kEncodings[0].name;
constexpr std::string_view kWindows1252 = kEncodings[21].name;
static_assert(kUtf8 == "UTF-8" && kWindows1252 == "windows-1252");


constexpr bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && IsHtmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsHtmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool HasLabel(std::string_view labels, std::string_view label) {
  while (!labels.empty()) {
    std::size_t end = std::min(labels.find(' '), labels.size());
    if (EqualsIgnoringCase(labels.substr(0, end), label)) return true;
    labels.remove_prefix(std::min(end + 1, labels.size()));
  }
  return false;
}

// What the browser switches to when a <meta> declares `encoding`: a page read
// as ASCII cannot be UTF-16, and x-user-defined is taken for windows-1252.
std::string_view MetaFixUp(std::string_view encoding) {
  if (encoding == "UTF-16BE" || encoding == "UTF-16LE") return kUtf8;
  if (encoding == "x-user-defined") return kWindows1252;
  return encoding;
}

// --- The prescan -----------------------------------------------------------
//
// Positions only move forward. Every step that needs a byte at or past the end
// of the scanned bytes reports kRanOut, and the scan ends there.

enum class Got { kAttribute, kNone, kRanOut };

// The first position at or after `pos` holding a whitespace byte or `stop`, or npos.
std::size_t FindSpaceOr(std::string_view bytes, std::size_t pos, char stop) {
  while (pos < bytes.size() && !IsHtmlSpace(bytes[pos]) && bytes[pos] != stop) ++pos;
  return pos < bytes.size() ? pos : npos;
}

// An attribute's value from the position behind its "=": quoted, or up to
// whitespace or ">". `value` is the raw bytes: the browser lowercases A-Z, but
// only case-insensitive matching ever reads the value.
Got ReadValue(std::string_view bytes, std::size_t& pos, std::string_view& value) {
  while (pos < bytes.size() && IsHtmlSpace(bytes[pos])) ++pos;
  if (pos >= bytes.size()) return Got::kRanOut;
  char first = bytes[pos];
  if (first == '"' || first == '\'') {
    std::size_t close = FindByte(bytes, first, pos + 1);
    if (close == npos) return Got::kRanOut;
    value = bytes.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    return Got::kAttribute;
  }
  if (first == '>') return Got::kAttribute;  // an empty value; the ">" ends the tag
  std::size_t end = FindSpaceOr(bytes, pos + 1, '>');
  if (end == npos) return Got::kRanOut;
  value = bytes.substr(pos, end - pos);
  pos = end;
  return Got::kAttribute;
}

// The next attribute of a tag from `pos`, or kNone at the tag's ">" (where `pos`
// then stays). Slashes between attributes are skipped like whitespace; a name
// runs up to "=" (not as its first byte), whitespace, "/" or ">".
Got GetAttribute(std::string_view bytes, std::size_t& pos, std::string_view& name,
                 std::string_view& value) {
  while (pos < bytes.size() && (IsHtmlSpace(bytes[pos]) || bytes[pos] == '/')) ++pos;
  if (pos >= bytes.size()) return Got::kRanOut;
  if (bytes[pos] == '>') return Got::kNone;
  const std::size_t start = pos;
  value = {};
  for (;; ++pos) {
    if (pos >= bytes.size()) return Got::kRanOut;
    char c = bytes[pos];
    if (c == '=' && pos > start) {
      name = bytes.substr(start, pos - start);
      ++pos;
      return ReadValue(bytes, pos, value);
    }
    if (IsHtmlSpace(c) || c == '/' || c == '>') break;
  }
  name = bytes.substr(start, pos - start);
  if (bytes[pos] == '/' || bytes[pos] == '>') return Got::kAttribute;
  // Whitespace after the name: a value only when "=" comes next.
  while (pos < bytes.size() && IsHtmlSpace(bytes[pos])) ++pos;
  if (pos >= bytes.size()) return Got::kRanOut;
  if (bytes[pos] != '=') return Got::kAttribute;
  ++pos;
  return ReadValue(bytes, pos, value);
}

// The encoding a meta element's content attribute declares: the label behind
// the first "charset" (any case) that whitespace and "=" follow, quoted or up
// to whitespace or ";". Empty for none, for an unmatched quote and for a label
// the table does not hold.
std::string_view EncodingFromContent(std::string_view s) {
  constexpr std::string_view kCharset = "charset";
  std::size_t pos = 0;
  for (;;) {
    while (pos < s.size() && !MatchesAt(s, pos, kCharset)) ++pos;
    if (pos >= s.size()) return {};
    pos += kCharset.size();
    while (pos < s.size() && IsHtmlSpace(s[pos])) ++pos;
    if (pos < s.size() && s[pos] == '=') break;
    // Otherwise look again from the byte that was not "=".
  }
  ++pos;
  while (pos < s.size() && IsHtmlSpace(s[pos])) ++pos;
  if (pos >= s.size()) return {};
  char first = s[pos];
  if (first == '"' || first == '\'') {
    std::size_t close = s.find(first, pos + 1);
    if (close == npos) return {};
    return EncodingForLabel(s.substr(pos + 1, close - pos - 1));
  }
  std::size_t end = pos;
  while (end < s.size() && !IsHtmlSpace(s[end]) && s[end] != ';') ++end;
  return EncodingForLabel(s.substr(pos, end - pos));
}

// Reads the attributes of a meta element from `pos` (behind "<meta") up to its
// ">", where `pos` stays. `found` is the encoding the element declares, or empty.
bool ReadMeta(std::string_view bytes, std::size_t& pos, std::string_view& found) {
  // Only three names matter, so the names seen are three bits.
  constexpr unsigned kHttpEquiv = 1, kContent = 2, kCharset = 4;
  unsigned seen = 0;
  bool got_pragma = false;
  enum class Need { kUnset, kPragma, kNoPragma } need = Need::kUnset;
  bool charset_set = false;  // set, though perhaps to a label the table lacks
  std::string_view charset;

  std::string_view name, value;
  for (;;) {
    Got got = GetAttribute(bytes, pos, name, value);
    if (got == Got::kRanOut) return false;
    if (got == Got::kNone) break;
    unsigned bit = EqualsIgnoringCase(name, "http-equiv") ? kHttpEquiv
                   : EqualsIgnoringCase(name, "content")  ? kContent
                   : EqualsIgnoringCase(name, "charset")  ? kCharset
                                                          : 0;
    if ((seen & bit) != 0) continue;  // a repeated name counts once, the first
    seen |= bit;
    if (bit == kHttpEquiv) {
      got_pragma = got_pragma || EqualsIgnoringCase(value, "content-type");
    } else if (bit == kContent) {
      std::string_view declared = EncodingFromContent(value);
      if (!declared.empty() && !charset_set) {
        charset = declared;
        charset_set = true;
        need = Need::kPragma;
      }
    } else if (bit == kCharset) {
      charset = EncodingForLabel(value);
      charset_set = true;
      need = Need::kNoPragma;
    }
  }
  found = {};
  if (need == Need::kUnset || (need == Need::kPragma && !got_pragma)) return true;
  found = MetaFixUp(charset);  // stays empty for an unknown label
  return true;
}

// The meta elements' scan. Empty when the bytes ran out without a declaration
// (which is the only way it ends without one).
std::string_view ScanForMeta(std::string_view bytes) {
  std::size_t pos = 0;
  for (;;) {
    pos = FindByte(bytes, '<', pos);  // every other byte is passed over
    if (pos == npos) return {};
    if (bytes.compare(pos, 4, "<!--") == 0) {
      std::size_t end = bytes.find("-->", pos + 2);
      if (end == npos) return {};
      pos = end + 3;
      continue;
    }
    if (MatchesAt(bytes, pos, "<meta") && pos + 5 < bytes.size() &&
        (IsHtmlSpace(bytes[pos + 5]) || bytes[pos + 5] == '/')) {
      pos += 5;
      std::string_view found;
      if (!ReadMeta(bytes, pos, found)) return {};
      if (!found.empty()) return found;
      ++pos;  // behind the ">"
      continue;
    }
    std::size_t after = pos + 1;
    if (after < bytes.size() && bytes[after] == '/') ++after;
    if (after < bytes.size() && IsAsciiAlpha(bytes[after])) {
      // Another tag: its attributes are read only to be skipped whole.
      pos = FindSpaceOr(bytes, pos + 1, '>');
      if (pos == npos) return {};
      std::string_view name, value;
      Got got = Got::kAttribute;
      while (got == Got::kAttribute) got = GetAttribute(bytes, pos, name, value);
      if (got == Got::kRanOut) return {};
      ++pos;
      continue;
    }
    if (pos + 1 < bytes.size() &&
        (bytes[pos + 1] == '!' || bytes[pos + 1] == '/' || bytes[pos + 1] == '?')) {
      pos = FindByte(bytes, '>', pos + 1);
      if (pos == npos) return {};
    }
    ++pos;
  }
}

// The encoding an XML declaration at the very start declares, read when the
// meta elements' scan ran out: "<?xml", then the word "encoding" before the
// first ">", control bytes or spaces, "=", more of them, and a quoted label.
std::string_view XmlDeclarationEncoding(std::string_view bytes) {
  auto is_space_or_control = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  if (!bytes.starts_with("<?xml")) return {};
  std::size_t gt = FindByte(bytes, '>', 0);
  if (gt == npos) return {};
  // Browsers look for "encoding" only inside the declaration itself.
  std::string_view declaration = bytes.substr(0, gt);
  std::size_t pos = declaration.find("encoding");
  if (pos == npos) return {};
  pos += 8;
  while (pos < declaration.size() && is_space_or_control(declaration[pos])) ++pos;
  if (pos >= declaration.size() || declaration[pos] != '=') return {};
  ++pos;
  while (pos < declaration.size() && is_space_or_control(declaration[pos])) ++pos;
  if (pos >= declaration.size()) return {};
  char quote = declaration[pos];
  if (quote != '"' && quote != '\'') return {};
  std::size_t close = declaration.find(quote, pos + 1);
  if (close == npos) return {};
  std::string_view label = declaration.substr(pos + 1, close - pos - 1);
  if (std::any_of(label.begin(), label.end(), is_space_or_control)) return {};
  std::string_view encoding = EncodingForLabel(label);
  return encoding == "UTF-16BE" || encoding == "UTF-16LE" ? kUtf8 : encoding;
}

}  // namespace

std::string_view EncodingForLabel(std::string_view label) {
  label = TrimSpace(label);
  if (label.empty()) return {};
  for (const Encoding& encoding : kEncodings) {
    if (HasLabel(encoding.labels, label)) return encoding.name;
  }
  return {};
}

std::string_view BomEncoding(std::string_view page) {
  if (page.starts_with("\xEF\xBB\xBF")) return kUtf8;
  if (page.starts_with("\xFE\xFF")) return "UTF-16BE";
  if (page.starts_with("\xFF\xFE")) return "UTF-16LE";
  return {};
}

std::string_view PrescanEncoding(std::string_view page) {
  const std::string_view bytes = page.substr(0, std::min(page.size(), kPrescanBytes));
  // An XML declaration in UTF-16 without a byte order mark: "<?x" either way round.
  if (bytes.starts_with(std::string_view("<\0?\0x\0", 6))) return "UTF-16LE";
  if (bytes.starts_with(std::string_view("\0<\0?\0x", 6))) return "UTF-16BE";
  std::string_view found = ScanForMeta(bytes);
  return found.empty() ? XmlDeclarationEncoding(bytes) : found;
}

std::string_view IconvName(std::string_view encoding) {
  for (const Encoding& row : kEncodings) {
    if (row.name == encoding) return row.iconv;
  }
  return {};
}

}  // namespace vantoro::internal
