#include "random/draws.h"

#include <algorithm>
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

namespace {

// Draws are taken in batches of this many: one look-up of the source each.
constexpr std::size_t kBatch = 64;

// floor(n * r), as DrawIndex takes it from one draw.
std::size_t IndexOf(double r, std::size_t n) {
  auto index = static_cast<std::size_t>(static_cast<double>(n) * r);
  return index < n ? index : n - 1;  // guards a scripted value that rounds up
}

// Calls each(k, index) for `count` draws of an index below n, in order.
template <class Each>
void DrawIndices(std::size_t count, std::size_t n, Each&& each) {
  double values[kBatch];
  for (std::size_t done = 0; done < count;) {
    const std::size_t batch = std::min(kBatch, count - done);
    FreshDraws(values, batch);
    for (std::size_t k = 0; k < batch; ++k) each(done + k, IndexOf(values[k], n));
    done += batch;
  }
}

}  // namespace

void AppendRandomChars(std::string& out, std::int64_t count, std::string_view charset) {
  if (count < 1) return;
  const auto n = static_cast<std::size_t>(count);
  if (IsAscii(charset)) {
    const std::size_t start = out.size();
    out.resize(start + n);
    char* chars = out.data() + start;
    DrawIndices(n, charset.size(), [&](std::size_t k, std::size_t index) { chars[k] = charset[index]; });
    return;
  }
  std::vector<std::string_view> chars = SplitChars(charset);
  DrawIndices(n, chars.size(), [&](std::size_t, std::size_t index) { out += chars[index]; });
}

std::string RandomChars(std::int64_t count, std::string_view charset) {
  std::string result;
  AppendRandomChars(result, count, charset);
  return result;
}

std::string RandomChars(const Range& range, std::string_view charset) {
  return RandomChars(DrawCount(range), charset);
}

void AppendRandomChars(std::string& out, const Range& range, std::string_view charset) {
  AppendRandomChars(out, DrawCount(range), charset);
}

void AppendRecased(std::string& out, std::string_view text, CaseMode mode) {
  const std::size_t start = out.size();
  out += text;
  if (mode == CaseMode::kRandom && IsAscii(text)) {
    // One draw per character, letters or not, in order.
    char* chars = out.data() + start;
    DrawIndices(text.size(), 2, [&](std::size_t k, std::size_t upper) {
      chars[k] = upper == 1 ? AsciiUpper(chars[k]) : AsciiLower(chars[k]);
    });
    return;
  }
  out.resize(start);
  out += Recase(text, mode);
}

std::string Recase(std::string_view text, CaseMode mode) {
  std::string result(text);
  if (mode == CaseMode::kRandom) {
    // One draw per character, letters or not, in order.
    std::vector<std::size_t> starts;
    const bool ascii = IsAscii(text);
    if (!ascii) {
      for (std::size_t i = 0; i < result.size(); i += CharLengthAt(result, i)) starts.push_back(i);
    }
    const std::size_t count = ascii ? result.size() : starts.size();
    DrawIndices(count, 2, [&](std::size_t k, std::size_t upper) {
      char& c = result[ascii ? k : starts[k]];
      if (ascii || CharLengthAt(result, starts[k]) == 1) c = upper == 1 ? AsciiUpper(c) : AsciiLower(c);
    });
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
