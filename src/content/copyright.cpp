#include "content/copyright.h"

#include "text/ascii.h"

namespace vantoro::internal {

std::vector<CopyrightEntry> ParseCopyright(std::string_view text) {
  std::vector<CopyrightEntry> entries;
  if (text.empty()) return entries;
  for (std::string_view entry : Split(text, ',')) {
    CopyrightEntry& parts = entries.emplace_back();
    for (std::string_view part : Split(entry, ':')) parts.emplace_back(part);
  }
  return entries;
}

}  // namespace vantoro::internal
