// The character encoding a browser reads a page in, found the way the browser
// finds it before it parses: a byte order mark, else a <meta> (or an XML
// declaration) among the first 1024 bytes. Inserted text has to be converted into
// that encoding, so this also names the converter iconv knows it by.
//
// Encodings are named as the WHATWG Encoding Standard names them ("UTF-8",
// "windows-1252", "Shift_JIS", ...). Every view returned points at static data;
// nothing allocates. Covered by tests/encoding_sniffer_test.cpp.
#ifndef VANTORO_HTML_ENCODING_SNIFFER_H_
#define VANTORO_HTML_ENCODING_SNIFFER_H_

#include <cstddef>
#include <string_view>

namespace vantoro::internal {

// How many bytes at the start of a page the prescan reads, as browsers do.
inline constexpr std::size_t kPrescanBytes = 1024;

// The encoding `label` names in the Encoding Standard's table of labels, ASCII
// case ignored and leading and trailing ASCII whitespace (TAB, LF, FF, CR, SPACE)
// stripped: "latin1" and " ISO-8859-1\n" give "windows-1252", "sjis" gives
// "Shift_JIS". Empty for a label the table does not hold.
std::string_view EncodingForLabel(std::string_view label);

// The encoding a byte order mark at the start of `page` gives: "UTF-8" (EF BB BF),
// "UTF-16BE" (FE FF), "UTF-16LE" (FF FE). Empty without one.
std::string_view BomEncoding(std::string_view page);

// The encoding the first kPrescanBytes of `page` declare, read the way a browser
// reads them before parsing:
//
//  - "<\0?\0x\0" or "\0<\0?\0x" at the very start (an XML declaration in UTF-16
//    without a byte order mark) gives "UTF-16LE" or "UTF-16BE";
//  - "<!--" is skipped to the first "-->" (whose dashes may be those of "<!--");
//  - "<meta" (any case) followed by whitespace or "/" has its attributes read:
//    an attribute name seen before is ignored; charset=LABEL sets the encoding
//    (even to an unknown label, which then declares nothing); content="...
//    charset=LABEL" sets it only when nothing set it yet, and then the element
//    must also hold http-equiv="content-type" (any case). An element that
//    declares nothing usable is passed over and the scan goes on;
//  - any other tag ("<" + letter, "</" + letter) has its attributes read and
//    skipped, so a "<meta" inside a quoted value is not one;
//  - "<!", "</" and "<?" otherwise are skipped to the next ">".
//
// A declared UTF-16BE or UTF-16LE gives "UTF-8" and x-user-defined gives
// "windows-1252", as browsers switch to those. When the bytes run out before a
// meta element declares anything (at the limit or the end of the page, even
// inside a tag, a comment or a quoted value), an XML declaration at the very
// start, "<?xml ... encoding='LABEL' ...>" with the word "encoding" (in lower
// case) before its first ">", gives LABEL's encoding, UTF-16 again read as
// "UTF-8" (x-user-defined, though, stays). Empty when nothing usable is declared.
//
// Linear in the bytes read, and never reads past kPrescanBytes.
std::string_view PrescanEncoding(std::string_view page);

// The name the system's iconv (glibc) knows `encoding` by, for converting
// inserted text into it: "windows-1252" -> "CP1252", "Shift_JIS" -> "CP932" (the
// standard's Shift_JIS is Windows-31J), "EUC-KR" -> "CP949", "Big5" ->
// "BIG5-HKSCS", "ISO-8859-8-I" -> "ISO-8859-8", and so on. Empty for
// "replacement", "x-user-defined", "UTF-16BE" and "UTF-16LE" (no converter takes
// them, and no page scanned as ASCII is in them), and for anything but an
// encoding's name as EncodingForLabel returns it.
std::string_view IconvName(std::string_view encoding);

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_ENCODING_SNIFFER_H_
