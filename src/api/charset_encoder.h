// Converts the UTF-8 text the passes insert into a page's character set. A
// character the set cannot hold becomes an HTML numeric character reference.
#ifndef VANTORO_API_CHARSET_ENCODER_H_
#define VANTORO_API_CHARSET_ENCODER_H_

#include <iconv.h>

#include <string>
#include <string_view>

namespace vantoro::internal {

class CharsetEncoder {
 public:
  // Throws Error kUnknownCharset when the system cannot convert to the set, or
  // when the set does not keep ASCII as ASCII (pages are scanned as ASCII);
  // kInvalidArgument for an empty name.
  explicit CharsetEncoder(const std::string& charset);
  ~CharsetEncoder();
  CharsetEncoder(const CharsetEncoder&) = delete;
  CharsetEncoder& operator=(const CharsetEncoder&) = delete;

  bool is_utf8() const noexcept { return converter_ == reinterpret_cast<iconv_t>(-1); }

  // Not thread-safe: the converter keeps state.
  std::string Encode(std::string_view utf8);

 private:
  bool KeepsAscii();

  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
};

// Whether a name denotes UTF-8 ("UTF-8", "utf8", ...).
bool IsUtf8Name(std::string_view charset);

}  // namespace vantoro::internal

#endif  // VANTORO_API_CHARSET_ENCODER_H_
