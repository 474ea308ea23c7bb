#include "api/charset_encoder.h"

#include <algorithm>
#include <cerrno>

#include "text/utf8.h"
#include "vantoro/error.h"

namespace vantoro::internal {

bool IsUtf8Name(std::string_view charset) {
  std::string folded;
  for (char c : charset) {
    if (c == '-' || c == '_') continue;
    folded += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return folded == "UTF8";
}

CharsetEncoder::CharsetEncoder(const std::string& charset) {
  if (charset.empty()) throw Error(ErrorCode::kInvalidArgument, "empty character set name");
  if (IsUtf8Name(charset)) return;
  converter_ = iconv_open(charset.c_str(), "UTF-8");
  if (converter_ == reinterpret_cast<iconv_t>(-1)) {
    throw Error(ErrorCode::kUnknownCharset, "unknown character set '" + charset + "'");
  }
  if (!KeepsAscii()) {
    iconv_close(converter_);
    throw Error(ErrorCode::kUnknownCharset,
                "character set '" + charset + "' does not keep ASCII as ASCII");
  }
}

bool CharsetEncoder::KeepsAscii() {
  // Pages are scanned for "<", names and markers as ASCII bytes; a set that
  // writes them otherwise (UTF-16, UTF-32, EBCDIC) cannot hold what we insert.
  char ascii[127];
  for (std::size_t i = 0; i < sizeof ascii; ++i) ascii[i] = static_cast<char>(i + 1);
  char out[sizeof ascii * 8];
  char* in = ascii;
  std::size_t in_left = sizeof ascii;
  char* dest = out;
  std::size_t dest_left = sizeof out;
  if (iconv(converter_, &in, &in_left, &dest, &dest_left) == static_cast<std::size_t>(-1)) {
    return false;
  }
  iconv(converter_, nullptr, nullptr, &dest, &dest_left);
  return static_cast<std::size_t>(dest - out) == sizeof ascii &&
         std::equal(ascii, ascii + sizeof ascii, out);
}

CharsetEncoder::~CharsetEncoder() {
  if (!is_utf8()) iconv_close(converter_);
}

std::string CharsetEncoder::Encode(std::string_view utf8) {
  if (is_utf8()) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size() * 2);
  for (std::size_t i = 0; i < utf8.size();) {
    auto [length, code_point] = DecodeCharAt(utf8, i);
    if (code_point < 0x80) {
      out.append(utf8, i, length);  // ASCII, and invalid bytes as they are
      i += length;
      continue;
    }
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);  // initial state
    char buffer[32];
    char* in = const_cast<char*>(utf8.data() + i);
    std::size_t in_left = length;
    char* dest = buffer;
    std::size_t dest_left = sizeof buffer;
    std::size_t done = iconv(converter_, &in, &in_left, &dest, &dest_left);
    if (done != static_cast<std::size_t>(-1)) {
      iconv(converter_, nullptr, nullptr, &dest, &dest_left);  // closing shift, if any
    }
    if (done == static_cast<std::size_t>(-1) || done > 0) {  // not held, or only approximated
      out += "&#" + std::to_string(code_point) + ";";
    } else {
      out.append(buffer, static_cast<std::size_t>(dest - buffer));
    }
    i += length;
  }
  return out;
}

}  // namespace vantoro::internal
