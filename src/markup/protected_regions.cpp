#include "markup/protected_regions.h"

#include <array>
#include <string>

#include "component/ascii.h"

namespace vantoro::internal {
namespace {

constexpr std::array<std::string_view, 5> kRawTextNames = {"script", "style", "textarea",
                                                          "title", "xmp"};
constexpr std::array<std::string_view, 2> kForeignNames = {"svg", "math"};

// Whether text[lt] starts "<" + name followed by a character that ends the name.
bool StartTagAt(std::string_view text, std::size_t lt, std::string_view name) {
  std::size_t after = lt + 1 + name.size();
  return after < text.size() && MatchesAt(text, lt + 1, name) && EndsTagName(text[after]);
}

}  // namespace

std::size_t UnprotectedTags::SkipComment(std::size_t lt) const {
  // "<!-->" and "<!--->" are complete comments: the end may begin at lt + 2.
  std::size_t end = text_.find("-->", lt + 2);
  return end == std::string_view::npos ? text_.size() : end + 3;
}

std::size_t UnprotectedTags::SkipForeignElement(std::size_t lt, std::string_view name) const {
  std::size_t depth = 1;
  std::size_t pos = lt + 1;
  while ((pos = FindByte(text_, '<', pos)) != std::string_view::npos) {
    if (StartTagAt(text_, pos, name)) {
      ++depth;
    } else if (text_.size() - pos > 1 && text_[pos + 1] == '/' && MatchesAt(text_, pos + 2, name) &&
               (pos + 2 + name.size() == text_.size() || EndsTagName(text_[pos + 2 + name.size()]))) {
      if (--depth == 0) {
        std::size_t gt = FindByte(text_, '>', pos);
        return gt == std::string_view::npos ? text_.size() : gt + 1;
      }
    }
    ++pos;
  }
  return text_.size();
}

std::size_t UnprotectedTags::Next() {
  while (pos_ < text_.size()) {
    std::size_t lt = FindByte(text_, '<', pos_);
    if (lt == std::string_view::npos) break;
    if (text_.compare(lt, 4, "<!--") == 0) {
      pos_ = SkipComment(lt);
      continue;
    }
    if (set_ == RegionSet::kContent) {
      bool skipped = false;
      for (std::string_view name : kForeignNames) {
        if (StartTagAt(text_, lt, name)) {
          pos_ = SkipForeignElement(lt, name);
          skipped = true;
          break;
        }
      }
      if (skipped) continue;
    }
    pos_ = lt + 1;
    for (std::string_view name : kRawTextNames) {
      if (!StartTagAt(text_, lt, name)) continue;
      // The region runs from behind the start tag's ">" to the end tag's "</".
      std::size_t gt = FindByte(text_, '>', lt + 1 + name.size());
      if (gt == std::string_view::npos) {
        pos_ = text_.size();
      } else {
        std::string closing = "</";
        closing += name;
        std::size_t end = FindIgnoringCase(text_, closing, gt + 1);
        pos_ = end == std::string_view::npos ? text_.size() : end;
      }
      break;
    }
    return lt;
  }
  pos_ = text_.size();
  return std::string_view::npos;
}

}  // namespace vantoro::internal
