#include "html/protected_regions.h"

#include <algorithm>
#include <array>
#include <string>

#include "text/ascii.h"
#include "text/byte_scanner.h"
#include "text/huge_pages.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;
using State = TagReader::State;

constexpr std::array<std::string_view, 5> kRawTextNames = {"script", "style", "textarea",
                                                          "title", "xmp"};
constexpr std::array<std::string_view, 2> kForeignNames = {"svg", "math"};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Byte classes, looked up rather than compared: the scan reads every byte of
// every tag outside quoted values.
enum : unsigned char { kSpaceBit = 1, kNameEndBit = 2, kSpecialBit = 4 };
constexpr std::array<unsigned char, 256> kClasses = [] {
  std::array<unsigned char, 256> classes{};
  auto set = [&](std::string_view bytes, unsigned char bit) {
    for (char c : bytes) classes[static_cast<unsigned char>(c)] |= bit;
  };
  set("\t\n\f\r ", kSpaceBit);
  // What ends a tag's name (or, in the working text, may: a gap begins with NUL),
  // and what can change the reading of a tag: names and unquoted values are runs
  // of the other bytes, skipped in a tight loop.
  set(std::string_view("\t\n\f\r />\0<", 10), kNameEndBit);
  set(std::string_view("\t\n\f\r /<>='\"\0", 12), kSpecialBit);
  return classes;
}();

unsigned char ClassOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }
bool IsSpace(char c) { return (ClassOf(c) & kSpaceBit) != 0; }

// Reads a tag's attributes from `pos` (behind its name, in `state`) while pos <
// `stop`; a quoted value is read whole. Calls on_lt(p) for every "<" and
// on_quote(open, close) for every quoted value. Returns behind the tag's ">", or
// npos when the text ends first or `stop` was reached.
template <class OnLt, class OnQuote>
std::size_t ReadAttributes(std::string_view text, bool gaps, std::size_t& pos, State& state,
                           std::size_t stop, OnLt&& on_lt, OnQuote&& on_quote) {
  const std::size_t size = text.size();
  stop = std::min(stop, size);
  while (pos < stop) {
    std::size_t run = pos;
    while (run < stop && (ClassOf(text[run]) & kSpecialBit) == 0) ++run;
    if (run != pos) {
      state = state == State::kBeforeValue || state == State::kUnquoted ? State::kUnquoted
                                                                      : State::kName;
      pos = run;
      if (pos == stop) break;
    }
    char c = text[pos];
    bool space = IsSpace(c);
    std::size_t length = 1;
    if (c == '\0' && gaps && pos + 1 < size) {
      space = text[pos + 1] == '\1';  // an opened gap, or a doubled NUL
      length = 2;
    }
    if (c == '>') return pos + 1;
    if (c == '<') on_lt(pos);
    if (state == State::kBeforeValue && (c == '"' || c == '\'')) {
      std::size_t close = FindByte(text, c, pos + 1);
      on_quote(pos, close == npos ? size - 1 : close);
      if (close == npos) {
        pos = size;
        return npos;
      }
      pos = close + 1;
      state = State::kBeforeName;
      continue;
    }
    switch (state) {
      case State::kBeforeName:
        if (!space && c != '/') state = State::kName;  // "=" may begin a name
        break;
      case State::kName:
      case State::kAfterName:
        if (c == '=') state = State::kBeforeValue;
        else if (c == '/') state = State::kBeforeName;
        else if (space) state = State::kAfterName;
        else state = State::kName;
        break;
      case State::kBeforeValue:
        if (!space) state = State::kUnquoted;
        break;
      case State::kUnquoted:
        if (space) state = State::kBeforeName;
        break;
    }
    pos += length;
  }
  return npos;
}

// Behind a tag's name: at whitespace, "/" or ">" (or a gap). Calls on_lt(p) for a
// "<" inside the name.
template <class OnLt>
std::size_t NameEnd(std::string_view text, bool gaps, std::size_t i, OnLt&& on_lt) {
  for (; i < text.size(); ++i) {
    char c = text[i];
    if ((ClassOf(c) & kNameEndBit) == 0) continue;
    if (c == '<') {
      on_lt(i);
    } else if (c == '\0') {
      if (!gaps || i + 1 == text.size()) continue;
      if (text[i + 1] == '\1') break;
      ++i;  // a doubled NUL
    } else {
      break;
    }
  }
  return std::min(i, text.size());
}

// The raw-text element a start tag's name opens, or "".
std::string_view RawTextName(std::string_view name) {
  if (name.size() < 3 || name.size() > 8) return {};
  switch (name[0]) {
    case 's': case 'S': case 't': case 'T': case 'x': case 'X': break;
    default: return {};
  }
  for (std::string_view raw : kRawTextNames) {
    if (EqualsIgnoringCase(name, raw)) return raw;
  }
  return {};
}

// Where the scan reports: into a MarkupIndex, every "<" as it is met (a tag
// that turns out to be raw text without its ">" takes its own back).
class IndexSink {
 public:
  explicit IndexSink(MarkupIndex& index) : index_(index) {}
  void Between(std::size_t lt) { index_.unprotected.push_back(lt); }
  void Inside(std::size_t p) {
    index_.unprotected.push_back(p);
    index_.in_tag.push_back(p);
  }
  std::size_t Mark() const { return index_.in_tag.size(); }
  void DropLast() { index_.unprotected.pop_back(); }
  void TakeBack(std::size_t lt, std::size_t mark) {
    index_.in_tag.resize(mark);
    while (!index_.unprotected.empty() && index_.unprotected.back() >= lt) {
      index_.unprotected.pop_back();
    }
  }
  void Read(std::size_t) {}

 private:
  MarkupIndex& index_;
};

// Into a visitor, each "<" between tags once its tag has been read, so a tag
// taken back is never reported.
class VisitorSink {
 public:
  explicit VisitorSink(MarkupVisitor& visitor) : visitor_(visitor) {}
  void Between(std::size_t) {}
  void Inside(std::size_t) {}
  std::size_t Mark() const { return 0; }
  void DropLast() {}
  void TakeBack(std::size_t, std::size_t) {}
  void Read(std::size_t lt) { visitor_.Visit(lt); }

 private:
  MarkupVisitor& visitor_;
};

template <class Sink>
class Scanner {
 public:
  Scanner(std::string_view text, RegionSet set, bool gaps, Sink sink,
          std::vector<std::size_t>* quotes)
      : text_(text), set_(set), gaps_(gaps), index_(sink), quotes_(quotes) {}

  void Run() {
    ByteScanner less_than(text_, '<');
    std::size_t pos = 0;
    for (std::size_t lt; pos < text_.size() && (lt = less_than.Next(pos)) != npos;) {
      pos = Markup(lt);
    }
  }

 private:
  // What starts at a "<" between tags; returns where the scan goes on.
  std::size_t Markup(std::size_t lt) {
    const std::size_t size = text_.size();
    std::size_t name = lt + 1;
    if (name < size && text_[name] == '!' && text_.compare(lt, 4, "<!--") == 0) {
      std::size_t end = text_.find("-->", lt + 2);  // "<!-->" is complete
      return end == npos ? size : end + 3;
    }
    if (name < size && text_[name] == '/') ++name;
    index_.Between(lt);
    if (name >= size || !IsAsciiLetter(text_[name])) {  // text, as tags go
      index_.Read(lt);
      return lt + 1;
    }

    bool start_tag = name == lt + 1;
    std::size_t in_tag_before = index_.Mark();
    auto on_lt = [this](std::size_t p) { index_.Inside(p); };
    std::size_t name_end = NameEnd(text_, gaps_, name, on_lt);
    std::string_view tag_name = text_.substr(name, name_end - name);
    if (start_tag && set_ == RegionSet::kContent && tag_name.size() <= 4) {
      for (std::string_view foreign : kForeignNames) {
        if (EqualsIgnoringCase(tag_name, foreign)) {
          index_.DropLast();  // the element is protected whole
          return SkipForeignElement(lt, foreign);
        }
      }
    }
    std::string_view raw_name = start_tag ? RawTextName(tag_name) : std::string_view();
    std::size_t pos = name_end;
    State state = State::kBeforeName;
    std::size_t tag_end = ReadAttributes(text_, gaps_, pos, state, npos, on_lt,
                                         [this](std::size_t open, std::size_t close) {
                                           if (quotes_ == nullptr) return;
                                           quotes_->push_back(open);
                                           quotes_->push_back(close);
                                         });
    if (raw_name.empty()) {
      index_.Read(lt);
      return tag_end == npos ? size : tag_end;
    }
    if (tag_end == npos) {
      // No ">": everything behind the name is raw text, and the tag is left
      // alone with it (a gap behind its name would land in the raw text).
      index_.TakeBack(lt, in_tag_before);
      return size;
    }
    index_.Read(lt);
    std::string closing = "</";
    closing += raw_name;
    std::size_t end = FindIgnoringCase(text_, closing, tag_end);
    return end == npos ? size : end;
  }

  std::size_t SkipForeignElement(std::size_t lt, std::string_view name) const {
    std::size_t depth = 1;
    std::size_t pos = lt + 1;
    while ((pos = FindByte(text_, '<', pos)) != npos) {
      std::size_t after = pos + 1 + name.size();
      if (after < text_.size() && MatchesAt(text_, pos + 1, name) && EndsTagName(text_[after])) {
        ++depth;
      } else if (text_.size() - pos > 1 && text_[pos + 1] == '/' &&
                 MatchesAt(text_, pos + 2, name)) {
        // Only "</NAME", optional whitespace, ">" ends it: not "</svgx" or "</svg-icon>".
        std::size_t gt = after + 1;
        while (gt < text_.size() && IsSpace(text_[gt])) ++gt;
        if (gt < text_.size() && text_[gt] == '>' && --depth == 0) return gt + 1;
      }
      ++pos;
    }
    return text_.size();
  }

  std::string_view text_;
  RegionSet set_;
  bool gaps_;
  Sink index_;
  std::vector<std::size_t>* quotes_;
};

}  // namespace

void ScanMarkup(std::string_view text, RegionSet set, bool gaps, MarkupIndex& index,
                std::vector<std::size_t>* quotes) {
  index.clear();
  if (quotes != nullptr) quotes->clear();
  // On a large page, room for every "<" at once: growing by doubling would hold
  // up to twice that, and copy it on the way.
  constexpr std::size_t kLargePage = 1 << 20;
  if (text.size() > kLargePage) {
    std::size_t count = 0;
    for (std::size_t pos = FindByte(text, '<', 0); pos != std::string_view::npos;
         pos = FindByte(text, '<', pos + 1)) {
      ++count;
    }
    if (index.unprotected.capacity() < count) {
      index.unprotected = std::vector<std::size_t>();
      index.unprotected.reserve(count);
      AdviseHugePages(index.unprotected.data(), count * sizeof(std::size_t));
    }
  }
  Scanner<IndexSink>(text, set, gaps, IndexSink(index), quotes).Run();
}

void ScanMarkup(std::string_view text, RegionSet set, bool gaps, MarkupVisitor& visitor) {
  Scanner<VisitorSink>(text, set, gaps, VisitorSink(visitor), nullptr).Run();
}

std::vector<std::size_t> UnprotectedTags(std::string_view text, RegionSet set) {
  MarkupIndex index;
  ScanMarkup(text, set, false, index);
  return std::move(index.unprotected);
}

TagReader::TagReader(std::string_view text, std::size_t lt, bool gaps)
    : text_(text), gaps_(gaps) {
  std::size_t name = lt + 1;
  if (name < text.size() && text[name] == '/') ++name;
  pos_ = NameEnd(text, gaps, name, [](std::size_t) {});
}

bool TagReader::Quoted(std::size_t pos) {
  if (!ended_ && pos_ <= pos) {
    std::size_t end = ReadAttributes(text_, gaps_, pos_, state_, pos + 1, [](std::size_t) {},
                                     [this](std::size_t open, std::size_t close) {
                                       open_ = open;
                                       close_ = close;
                                       any_ = true;
                                     });
    ended_ = end != npos;
  }
  return any_ && open_ <= pos && pos <= close_;
}

}  // namespace vantoro::internal
