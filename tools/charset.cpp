#include "charset.h"

#include <cerrno>
#include <stdexcept>

namespace vantoro::cli {
namespace {

// Length of the UTF-8 sequence at s[0] and its code point; 1 and -1 when invalid.
std::size_t DecodeUtf8(std::string_view s, long& code_point) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char lead = byte(0);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 && lead <= 0xF4 ? 4
                                     : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
  code_point = -1;
  if (length == 0 || length > s.size()) return 1;
  long value = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 1;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  static const long kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kMinimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 1;
  code_point = value;
  return length;
}

}  // namespace

bool IsUtf8Name(std::string_view charset) {
  std::string folded;
  for (char c : charset) {
    if (c == '-' || c == '_') continue;
    folded += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return folded == "UTF8";
}

CharsetEncoder::CharsetEncoder(const std::string& charset) {
  if (IsUtf8Name(charset)) return;
  converter_ = iconv_open(charset.c_str(), "UTF-8");
  if (converter_ == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error("unknown character set '" + charset + "'");
  }
}

CharsetEncoder::~CharsetEncoder() {
  if (!is_utf8()) iconv_close(converter_);
}

std::string CharsetEncoder::Encode(std::string_view utf8) {
  if (is_utf8()) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size() * 2);
  for (std::size_t i = 0; i < utf8.size();) {
    long code_point;
    std::size_t length = DecodeUtf8(utf8.substr(i), code_point);
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

}  // namespace vantoro::cli
