// Sentence marks put into an article's prose: behind each sentence-final
// punctuation mark of text in the body (not in attribute values, comments, raw
// text, svg or math, pre, code, kbd, samp, textarea, select or template), where
// the three words in front of it are whole plain text that a copy keeps as it
// stands, and the mark touches no word: a space, an end tag or a line break
// follows it.
#ifndef VANTORO_MARK_SENTENCE_MARKS_H_
#define VANTORO_MARK_SENTENCE_MARKS_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "html/protected_regions.h"

#include "mark/mark_code.h"
#include "text/encoder.h"

namespace vantoro::internal {

struct MarkSettings {
  const MarkKey* key = nullptr;
  const std::array<std::uint8_t, 255>* codeword = nullptr;
  // Converts the selectors into the page's set; none: UTF-8, where the CJK full
  // stops are sentence ends too.
  const TextEncoder* encoder = nullptr;
};

// Finds where the marks go while a scan of `text` runs (ScanMarkup with the
// content pass's reading), for a caller that scans the text anyway.
class SentenceMarker final : public MarkupVisitor {
 public:
  SentenceMarker(std::string_view text, const MarkSettings& settings);
  void Visit(std::size_t lt, const TreeBuilder& tree, const ScannedTag&) override;

  // (position in the text, the mark's bytes), in order of position.
  std::vector<std::pair<std::size_t, std::string>> marks;

 private:
  void MarkAfter(std::string_view segment, std::size_t offset, std::size_t base, std::size_t length,
                 bool ends_before_break);

  std::string_view text_;
  const MarkSettings& settings_;
  const bool utf8_;
  std::size_t previous_ = 0;
};

std::string MarkSentences(std::string_view article, const MarkSettings& settings);

}  // namespace vantoro::internal

#endif  // VANTORO_MARK_SENTENCE_MARKS_H_
