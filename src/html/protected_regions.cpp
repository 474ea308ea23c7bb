#include "html/protected_regions.h"

#include <array>
#include <string>

#include "text/ascii.h"

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

bool InsideRawTextStartTag(std::string_view text, std::size_t pos) {
  // Back to the previous ">": a raw-text start tag there has not ended yet.
  while (pos > 0 && text[pos - 1] != '>') {
    --pos;
    if (text[pos] != '<') continue;
    for (std::string_view name : kRawTextNames) {
      if (StartTagAt(text, pos, name)) return true;
    }
  }
  return false;
}

std::size_t UnprotectedTags::Next() {
  while (pos_ < text_.size()) {
    std::size_t lt = less_than_.Next(pos_);
    if (lt == std::string_view::npos) break;
    if (lt >= raw_begin_) {
      raw_begin_ = std::string_view::npos;
      if (lt < raw_end_) {
        pos_ = raw_end_;
        continue;
      }
    }
    pos_ = lt + 1;
    if (lt + 1 == text_.size()) return lt;
    // Most tags start no region: decide on the byte after "<" before comparing names.
    switch (text_[lt + 1]) {
      case '!':
        if (text_.compare(lt, 4, "<!--") == 0) {
          pos_ = SkipComment(lt);
          continue;
        }
        return lt;
      case 's': case 'S': case 'm': case 'M':
        if (set_ == RegionSet::kContent) {
          std::string_view name = kForeignNames[text_[lt + 1] == 's' || text_[lt + 1] == 'S' ? 0 : 1];
          if (StartTagAt(text_, lt, name)) {
            pos_ = SkipForeignElement(lt, name);
            continue;
          }
        }
        break;
      case 't': case 'T': case 'x': case 'X':
        break;
      default:
        return lt;
    }
    for (std::string_view name : kRawTextNames) {
      if (!StartTagAt(text_, lt, name)) continue;
      // The region runs from behind the start tag's ">" to the end tag's "</";
      // without a ">", from behind the name to the end.
      std::size_t gt = FindByte(text_, '>', lt + 1 + name.size());
      if (gt == std::string_view::npos) {
        raw_begin_ = lt + 1 + name.size();
        raw_end_ = text_.size();
      } else {
        std::string closing = "</";
        closing += name;
        std::size_t end = FindIgnoringCase(text_, closing, gt + 1);
        raw_begin_ = gt + 1;
        raw_end_ = end == std::string_view::npos ? text_.size() : end;
      }
      break;
    }
    return lt;
  }
  pos_ = text_.size();
  return std::string_view::npos;
}

}  // namespace vantoro::internal
