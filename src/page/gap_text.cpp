#include "page/gap_text.h"

#include "text/ascii.h"
#include "text/splicer.h"

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

void FillGaps(std::string& text, std::string& scratch,
              std::initializer_list<std::vector<std::size_t>*> anchors,
              const std::function<std::string()>& fill) {
  std::size_t nul = FindByte(text, '\0', 0);
  if (nul == std::string::npos) return;
  Splicer out(text, scratch, anchors);
  for (; nul != std::string::npos; nul = FindByte(text, '\0', nul)) {
    out.CopyTo(nul);
    if (IsGapAt(text, nul)) {
      std::size_t end = nul;
      while (IsGapAt(text, end)) end += 2;
      out.Skip(end - nul);
      out.Emit(" ");
      out.Emit(fill());
      out.Emit(" ");
      nul = end;
    } else {
      out.Skip(1);  // the first of a doubled NUL
      out.CopyTo(nul + 2);
      nul += 2;
    }
  }
  out.Finish();
  text.swap(scratch);
}

}  // namespace vantoro::internal
