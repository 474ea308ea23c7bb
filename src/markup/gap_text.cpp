#include "markup/gap_text.h"

#include "component/ascii.h"

namespace vantoro::internal {

std::string EscapeNul(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    out += c;
    if (c == '\0') out += '\0';
  }
  return out;
}

std::string FillGaps(std::string_view text, const std::function<std::string()>& fill) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t pos = 0;
  for (std::size_t nul; (nul = FindByte(text, '\0', pos)) != std::string_view::npos;) {
    out.append(text, pos, nul - pos);
    if (IsGapAt(text, nul)) {
      pos = nul;
      while (IsGapAt(text, pos)) pos += 2;
      out += ' ';
      out += fill();
      out += ' ';
    } else {
      out += '\0';
      pos = nul + 2;
    }
  }
  out.append(text, pos);
  return out;
}

}  // namespace vantoro::internal
