#include "random/draws.h"

#include <vector>

#include "text/ascii.h"
#include "text/utf8.h"

namespace vantoro::internal {
namespace {

constexpr std::string_view kNoteFirstLetters = "gjrwxyz";
constexpr std::string_view kNoteBodyChars =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Only ranges whose top exceeds this can drop the comment.
constexpr std::int64_t kDropThreshold = 2;

}  // namespace

char RandomChar(std::string_view charset) {
  return charset[static_cast<std::size_t>(DrawIndex(static_cast<std::int64_t>(charset.size())))];
}

std::string RandomChars(std::int64_t count, std::string_view charset) {
  std::string result;
  if (count < 1) return result;
  if (IsAscii(charset)) {
    result.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) result += RandomChar(charset);
    return result;
  }
  std::vector<std::string_view> chars = SplitChars(charset);
  for (std::int64_t i = 0; i < count; ++i) {
    result += chars[static_cast<std::size_t>(DrawIndex(static_cast<std::int64_t>(chars.size())))];
  }
  return result;
}

std::string RandomChars(const Range& range, std::string_view charset) {
  return RandomChars(DrawCount(range), charset);
}

std::string Recase(std::string_view text, CaseMode mode) {
  std::string result(text);
  if (mode == CaseMode::kRandom) {
    for (std::size_t i = 0; i < result.size();) {
      std::size_t length = CharLengthAt(result, i);
      bool upper = DrawIndex(2) == 1;
      if (length == 1) result[i] = upper ? AsciiUpper(result[i]) : AsciiLower(result[i]);
      i += length;
    }
  } else {
    for (char& c : result) c = mode == CaseMode::kUpper ? AsciiUpper(c) : AsciiLower(c);
  }
  return result;
}

std::string RandomNote(const Range& range) {
  std::int64_t top = range.ranged ? range.hi : range.lo;
  if (top > kDropThreshold && DrawIndex(top) == 0) return {};
  std::string note = "<!--";
  note += RandomChars(1, kNoteFirstLetters);
  note += RandomChars(range, kNoteBodyChars);
  note += "-->";
  return note;
}

}  // namespace vantoro::internal
