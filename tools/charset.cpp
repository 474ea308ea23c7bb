#include "charset.h"

#include <cerrno>
#include <stdexcept>

#include "random/utf8.h"

namespace vantoro::cli {

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
    auto [length, code_point] = internal::DecodeCharAt(utf8, i);
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
