// Converts the UTF-8 text the tool inserts into a page's character set. A
// character the set cannot hold becomes an HTML numeric character reference.
#ifndef VANTORO_TOOLS_CHARSET_H_
#define VANTORO_TOOLS_CHARSET_H_

#include <iconv.h>

#include <string>
#include <string_view>

namespace vantoro::cli {

class CharsetEncoder {
 public:
  // Throws std::runtime_error when the system does not know the character set.
  explicit CharsetEncoder(const std::string& charset);
  ~CharsetEncoder();
  CharsetEncoder(const CharsetEncoder&) = delete;
  CharsetEncoder& operator=(const CharsetEncoder&) = delete;

  bool is_utf8() const noexcept { return converter_ == reinterpret_cast<iconv_t>(-1); }

  // Not thread-safe: one encoder per thread.
  std::string Encode(std::string_view utf8);

 private:
  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
};

// Whether a name denotes UTF-8 ("UTF-8", "utf8", ...).
bool IsUtf8Name(std::string_view charset);

}  // namespace vantoro::cli

#endif  // VANTORO_TOOLS_CHARSET_H_
