#include "mark/sentence_marks.h"

#include <string.h>

#include <array>
#include <utility>
#include <vector>

#include "html/protected_regions.h"
#include "html/tree_builder.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace vantoro::internal {
namespace {

bool IsSpaceByte(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsDigitCodePoint(long cp) { return (cp >= '0' && cp <= '9') || (cp >= 0xFF10 && cp <= 0xFF19); }

bool IsSelectorAt(std::string_view text, std::size_t i) {
  const long cp = DecodeCharAt(text, i).code_point;
  return (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xE0100 && cp <= 0xE01EF);
}

// Bytes that may be or start a sentence end.
enum : unsigned char { kPlain = 0, kAsciiEnd = 2, kLead = 3 };
constexpr auto kByteKinds = [] {
  std::array<unsigned char, 256> kinds{};
  kinds['.'] = kinds['!'] = kinds['?'] = kAsciiEnd;
  kinds[0xE3] = kinds[0xEF] = kLead;
  return kinds;
}();

}  // namespace

SentenceMarker::SentenceMarker(std::string_view text, const MarkSettings& settings)
    : text_(text), settings_(settings), utf8_(settings.encoder == nullptr || !*settings.encoder) {}

void SentenceMarker::Visit(std::size_t lt, const TreeBuilder& tree, const ScannedTag&) {
  const std::size_t from = previous_;
  previous_ = lt + 1;
  if (lt <= from) return;
  // The text in front of this tag starts behind the last ">" (the previous
  // tag's end, or a comment's).
  const void* gt = memrchr(text_.data() + from, '>', lt - from);
  const std::size_t start =
      gt == nullptr ? from : static_cast<std::size_t>(static_cast<const char*>(gt) - text_.data()) + 1;
  std::size_t first_end = lt;
  for (std::size_t i = start; i < lt; ++i) {
    const unsigned char kind = kByteKinds[static_cast<unsigned char>(text_[i])];
    if (kind == kAsciiEnd || (kind == kLead && utf8_)) {
      first_end = i;
      break;
    }
  }
  // Raw text, code, a table's structure: no prose.
  if (first_end >= lt || !tree.InProse()) return;
  const std::string_view segment = text_.substr(start, lt - start);
  const bool ends_before_break = MatchesAt(text_, lt, "</") || MatchesAt(text_, lt, "<br");
  for (std::size_t i = first_end - start; i < segment.size(); ++i) {
    if (kByteKinds[static_cast<unsigned char>(segment[i])] == kPlain) continue;
    const std::size_t length = SentenceEndAt(segment, i, utf8_);
    if (length == 0) continue;
    MarkAfter(segment, start, i, length, ends_before_break);
    i += length - 1;
  }
}

void SentenceMarker::MarkAfter(std::string_view segment, std::size_t offset, std::size_t base,
                               std::size_t length, bool ends_before_break) {
  const bool cjk = length > 1;
  const std::size_t after = base + length;
  if (after < segment.size()) {
    if (IsSelectorAt(segment, after) || SentenceEndAt(segment, after, utf8_) != 0) return;
    if (!cjk && !IsSpaceByte(segment[after])) return;
  } else if (!cjk && !ends_before_break) {
    return;  // a word may go on in the next tag
  }
  if (base == 0) return;
  std::size_t before = 0;
  for (std::size_t back = 1; back <= 4 && back <= base; ++back) {
    if ((static_cast<unsigned char>(segment[base - back]) & 0xC0) != 0x80) {
      before = base - back;
      break;
    }
  }
  const DecodedChar previous = DecodeCharAt(segment, before);
  if (previous.code_point < 0 || before + previous.length != base) return;
  if (IsDigitCodePoint(previous.code_point) || previous.code_point == '#' ||
      previous.code_point == '*') {
    return;
  }
  std::size_t span = 0;
  const std::string context = MarkContext(segment, base, &span);
  if (context.empty()) return;
  // The words must read the same in a copy: no entity or markup among them,
  // none in front of them, and in a page not in UTF-8 only ASCII around them.
  const std::string_view words = segment.substr(span, base - span);
  if (words.find_first_of("&<") != std::string_view::npos) return;
  // (A first word that starts the segment is a character that is a word of
  // its own: whole, whatever stands before it.)
  const char terminator = span > 0 ? segment[span - 1] : ' ';
  if (terminator == '&' || terminator == '#' || terminator == ';') return;
  if (!utf8_ && (!IsAscii(words) || static_cast<unsigned char>(terminator) >= 0x80)) return;
  std::string mark = SentenceMark(*settings_.key, *settings_.codeword, context, cjk);
  if (mark.empty()) return;
  if (!utf8_) mark = Encoded(*settings_.encoder, mark);
  marks.emplace_back(offset + after, std::move(mark));
}

std::string MarkSentences(std::string_view article, const MarkSettings& settings) {
  SentenceMarker marker(article, settings);
  ScanMarkup(article, RegionSet::kContent, false, marker);
  std::size_t added = 0;
  for (const auto& mark : marker.marks) added += mark.second.size();
  std::string out;
  out.reserve(article.size() + added);
  std::size_t pos = 0;
  for (const auto& [at, mark] : marker.marks) {
    out.append(article, pos, at - pos);
    out += mark;
    pos = at;
  }
  out.append(article, pos);
  return out;
}

}  // namespace vantoro::internal
