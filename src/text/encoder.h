// Converts the UTF-8 text the passes insert into a page's character set. Unset:
// UTF-8 as it stands.
#ifndef VANTORO_TEXT_ENCODER_H_
#define VANTORO_TEXT_ENCODER_H_

#include <functional>
#include <string>
#include <string_view>

namespace vantoro::internal {

using TextEncoder = std::function<std::string(std::string_view utf8)>;

inline std::string Encoded(const TextEncoder& encoder, std::string_view utf8) {
  return encoder ? encoder(utf8) : std::string(utf8);
}

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_ENCODER_H_
