#include "html/protected_regions.h"

#include <algorithm>
#include <array>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/ascii.h"
#include "text/byte_scanner.h"
#include "text/huge_pages.h"
#include "text/whitespace.h"
#include "html/tree_builder.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;
using State = TagReader::State;


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
// `stop`; a quoted value is read whole. Calls on_lt(p) for every "<",
// on_quote(open, close) for every quoted value, and on_space(p) where reading
// stands behind whitespace between attributes (where a name may begin). Returns
// behind the tag's ">", or npos when the text ends first or `stop` was reached.
template <class OnLt, class OnQuote, class OnSpace>
std::size_t ReadAttributes(std::string_view text, bool gaps, std::size_t& pos, State& state,
                           std::size_t stop, OnLt&& on_lt, OnQuote&& on_quote,
                           OnSpace&& on_space) {
  const std::size_t size = text.size();
  stop = std::min(stop, size);
  // A quoted value, read whole from its opening quote; false when the text
  // ends inside it.
  auto read_quoted = [&](std::size_t open) {
    const std::size_t close = FindByte(text, text[open], open + 1);
    on_quote(open, close == npos ? size - 1 : close);
    if (close == npos) {
      pos = size;
      return false;
    }
    pos = close + 1;
    state = State::kBeforeName;
    return true;
  };
  while (pos < stop) {
    // The usual attribute in one step: whitespace, a name, "=" and a quoted
    // value, read as the steps below would read them.
    if ((state == State::kBeforeName || state == State::kAfterName) && IsSpace(text[pos])) {
      std::size_t equals = pos + 1;
      while (equals < stop && (ClassOf(text[equals]) & kSpecialBit) == 0) ++equals;
      if (equals != pos + 1 && equals + 1 < stop && text[equals] == '=' &&
          (text[equals + 1] == '"' || text[equals + 1] == '\'')) {
        on_space(pos + 1);
        if (!read_quoted(equals + 1)) return npos;
        continue;
      }
    }
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
      if (!read_quoted(pos)) return npos;
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
    if (space && state != State::kBeforeValue) on_space(pos);
  }
  return npos;
}

// Behind a tag's name: at whitespace, "/" or ">" (or a gap). Calls on_lt(p) for a
// "<" inside the name.
template <class OnLt>
std::size_t NameEnd(std::string_view text, bool gaps, std::size_t i, OnLt&& on_lt) {
#if defined(__SSE2__)
  // Most names end within 16 bytes, at whitespace, "/" or ">": found at once,
  // where the byte-wise loop's end would be guessed wrong. A "<" or NUL first
  // leaves it to the loop.
  if (text.size() - i >= 16) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    auto eq = [&](char b) { return _mm_cmpeq_epi8(c, _mm_set1_epi8(b)); };
    const __m128i ends = _mm_or_si128(HtmlSpaces16(c), _mm_or_si128(eq('/'), eq('>')));
    const __m128i others = _mm_or_si128(eq('<'), eq('\0'));
    const auto end_bits = static_cast<std::uint32_t>(_mm_movemask_epi8(ends));
    const auto other_bits = static_cast<std::uint32_t>(_mm_movemask_epi8(others));
    // The first end, when nothing the loop must look at comes before it.
    if (end_bits != 0 && (other_bits & (end_bits ^ (end_bits - 1))) == 0) {
      return i + static_cast<std::size_t>(__builtin_ctz(end_bits));
    }
  }
#endif
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
  void TakeBack(std::size_t lt, std::size_t mark) {
    index_.in_tag.resize(mark);
    while (!index_.unprotected.empty() && index_.unprotected.back() >= lt) {
      index_.unprotected.pop_back();
    }
  }
  void BeginTag() {}
  void BehindSpace(std::size_t) {}
  void Named(std::uint16_t) {}
  void Read(std::size_t, const TreeBuilder&) {}

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
  void TakeBack(std::size_t, std::size_t) {}
  void BeginTag() {
    count_ = 0;
    id_ = 0;
  }
  void BehindSpace(std::size_t p) {
    if (count_ < behind_spaces_.size()) behind_spaces_[count_] = p;
    ++count_;
  }
  void Named(std::uint16_t id) { id_ = id; }
  void Read(std::size_t lt, const TreeBuilder& tree) {
    const std::size_t kept = std::min(count_, behind_spaces_.size());
    visitor_.Visit(lt, tree,
                   ScannedTag{id_, {behind_spaces_.data(), kept}, kept == count_});
    count_ = 0;
    id_ = 0;
  }

 private:
  MarkupVisitor& visitor_;
  // Of the tag being read.
  std::uint16_t id_ = 0;
  std::array<std::size_t, ScannedTag::kMostBehindSpaces> behind_spaces_;
  std::size_t count_ = 0;  // found so far, kept or not
};

bool IsSpaceOrEnd(std::string_view text, std::size_t i) {
  return i < text.size() && (IsSpace(text[i]) || text[i] == '/' || text[i] == '>');
}

// Behind "</NAME" followed by whitespace, "/" or ">", NAME in any case: the
// end tag that ends raw text of that element.
bool AppropriateEndTag(std::string_view text, std::size_t lt, std::string_view name) {
  return text.size() - lt > name.size() + 2 && text[lt + 1] == '/' &&
         MatchesAt(text, lt + 2, name) && IsSpaceOrEnd(text, lt + 2 + name.size());
}

template <class Sink>
class Scanner {
 public:
  Scanner(std::string_view text, bool gaps, Sink sink, std::vector<std::size_t>* quotes)
      : text_(text), gaps_(gaps), index_(sink), quotes_(quotes) {}

  void Run() {
    ByteScanner less_than(text_, '<');
    // A byte order mark is no text for the tree builder: the decoder took it.
    std::size_t pos = text_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (std::size_t lt; pos < text_.size() && (lt = less_than.Next(pos)) != npos;) {
      Characters(pos, lt);
      pos = Markup(lt);
    }
    Characters(pos, text_.size());
  }

 private:
  void Characters(std::size_t from, std::size_t to) {
    if (to > from) tree_.Characters(text_.substr(from, to - from));
  }

  // What starts at a "<" between tags; returns where the scan goes on.
  std::size_t Markup(std::size_t lt) {
    const std::size_t size = text_.size();
    const std::size_t next = lt + 1;
    const char c = next < size ? text_[next] : '\0';
    if (c == '!') return Declaration(lt);
    if (c == '?') return BogusComment(lt);
    if (c == '/') {
      const char d = next + 1 < size ? text_[next + 1] : '\0';
      if (IsAsciiLetter(d)) return Tag<false>(lt);
      if (d == '>') return lt + 3;  // "</>" is dropped
      if (next + 1 >= size) {       // "</" at the end is text
        Text(lt);
        return size;
      }
      return BogusComment(lt);
    }
    if (next < size && IsAsciiLetter(c)) return Tag<true>(lt);
    Text(lt);
    return next;
  }

  // Template contents are inert, and parsers that know no templates read them
  // otherwise: what stands in them is left as it is, as if protected.
  bool Hidden() const { return tree_.InTemplateContents(); }

  // A "<" that is text.
  void Text(std::size_t lt) {
    if (!Hidden()) {
      index_.Between(lt);
      index_.Read(lt, tree_);
    }
    tree_.Characters(text_.substr(lt, 1));
  }

  // To the first ">" (or the end): "<?...", "<!x...", "</ ...".
  std::size_t BogusComment(std::size_t lt) const {
    std::size_t gt = FindByte(text_, '>', lt + 2);
    return gt == npos ? text_.size() : gt + 1;
  }

  std::size_t Declaration(std::size_t lt) {
    const std::size_t size = text_.size();
    if (text_.compare(lt, 4, "<!--") == 0) {
      // Ends behind the first "-->" (whose dashes may be the opening's, so
      // "<!-->" and "<!--->" are whole) or "--!>" after the opening.
      std::size_t end = text_.find("-->", lt + 2);
      // "--!>" counts only before the "-->": looked for that far, not further.
      std::string_view before = text_.substr(0, end == npos ? size : end + 3);
      std::size_t bang = lt + 4 <= before.size() ? before.find("--!>", lt + 4) : npos;
      if (bang != npos) return bang + 4;
      return end == npos ? size : end + 3;
    }
    if (MatchesAt(text_, lt + 2, "doctype")) return Doctype(lt);
    if (text_.compare(lt + 2, 7, "[CDATA[") == 0 && tree_.InForeignContent()) {
      std::size_t end = text_.find("]]>", lt + 9);
      std::size_t stop = end == npos ? size : end;
      Characters(lt + 9, stop);
      return end == npos ? size : end + 3;
    }
    return BogusComment(lt);
  }

  // A DOCTYPE token ends at its first ">" whatever it holds; its name and
  // identifiers decide the document's mode.
  std::size_t Doctype(std::size_t lt) {
    const std::size_t size = text_.size();
    std::size_t gt = FindByte(text_, '>', lt + 9);
    const std::size_t end = gt == npos ? size : gt;
    std::string_view body = text_.substr(lt + 9, end - (lt + 9));
    DoctypeToken token;
    token.force_quirks = gt == npos;
    std::size_t i = 0;
    auto skip_space = [&] {
      while (i < body.size() && IsSpace(body[i])) ++i;
    };
    skip_space();
    if (i == body.size()) {
      token.force_quirks = true;
    } else {
      std::size_t name = i;
      while (i < body.size() && !IsSpace(body[i])) ++i;
      token.name = body.substr(name, i - name);
      skip_space();
      auto identifier = [&](std::string_view& id) {
        skip_space();
        if (i == body.size() || (body[i] != '"' && body[i] != '\'')) return false;
        char quote = body[i++];
        std::size_t close = body.find(quote, i);
        if (close == npos) {  // the ">" ends it early
          id = body.substr(i);
          token.force_quirks = true;
          i = body.size();
          return true;
        }
        id = body.substr(i, close - i);
        i = close + 1;
        return true;
      };
      if (i < body.size()) {
        if (MatchesAt(body, i, "public")) {
          i += 6;
          token.has_public = identifier(token.public_id);
          if (!token.has_public) {
            token.force_quirks = true;
          } else if (!token.force_quirks) {
            skip_space();
            if (i < body.size()) {
              token.has_system = identifier(token.system_id);
              if (!token.has_system) token.force_quirks = true;
            }
          }
        } else if (MatchesAt(body, i, "system")) {
          i += 6;
          token.has_system = identifier(token.system_id);
          if (!token.has_system) token.force_quirks = true;
        } else {
          token.force_quirks = true;
        }
      }
    }
    if (!Hidden()) {
      index_.Between(lt);
      index_.Read(lt, tree_);
    }
    tree_.Doctype(token);
    return gt == npos ? size : gt + 1;
  }

  // One copy for start tags and one for end tags: what differs is known when
  // the tag begins, and is not guessed again.
  template <bool start_tag>
  std::size_t Tag(std::size_t lt) {
    const std::size_t size = text_.size();
    const std::size_t name = lt + (start_tag ? 1 : 2);
    const bool hidden = Hidden();
    if (!hidden) index_.Between(lt);
    const std::size_t in_tag_before = index_.Mark();
    auto on_lt = [this, hidden](std::size_t p) {
      if (!hidden) index_.Inside(p);
    };
    const std::size_t name_end = NameEnd(text_, gaps_, name, on_lt);
    std::size_t pos = name_end;
    State state = State::kBeforeName;
    index_.BeginTag();
    const std::size_t tag_end = ReadAttributes(
        text_, gaps_, pos, state, npos, on_lt,
        [this](std::size_t open, std::size_t close) {
          if (quotes_ == nullptr) return;
          quotes_->push_back(open);
          quotes_->push_back(close);
        },
        [this, hidden](std::size_t p) {
          if (!hidden) index_.BehindSpace(p);
        });
    const std::string_view tag_name = text_.substr(name, name_end - name);
    const std::uint16_t tag = TreeBuilder::Lookup(tag_name, size - name);
    if (!hidden) index_.Named(tag);
    if (tag_end == npos) {
      // The page ends inside the tag, which a browser then drops. A start tag
      // of a raw-text element protects itself and all behind its name: the
      // rules would put a gap there.
      if constexpr (start_tag) {
        StartTagToken token{tag_name, tag, {}, false};
        TreeBuilder probe = tree_;
        if (probe.StartTag(token) != TextState::kData) {
          if (!hidden) index_.TakeBack(lt, in_tag_before);
          return size;
        }
      }
      if (!hidden) index_.Read(lt, tree_);
      return size;
    }
    if (!hidden) index_.Read(lt, tree_);
    if constexpr (start_tag) {
      return AfterStartTag(tag_name, tag, name_end, tag_end);
    } else {
      tree_.EndTag(tag_name, tag);
      return tag_end;
    }
  }

  // Behind a whole start tag: where the scan goes on once the tree builder has
  // taken the tag (behind raw text, or at its end).
  std::size_t AfterStartTag(std::string_view tag_name, std::uint16_t tag, std::size_t name_end,
                            std::size_t tag_end) {
    const std::size_t size = text_.size();
    const std::size_t gt = tag_end - 1;
    const bool self_closing = gt > name_end && text_[gt - 1] == '/';
    StartTagToken token{tag_name, tag, text_.substr(name_end, gt - name_end), self_closing};
    switch (tree_.StartTag(token)) {
      case TextState::kData:
        return tag_end;
      case TextState::kPlaintext:
        return size;
      case TextState::kScriptData:
        return ScriptEnd(tag_end);
      case TextState::kRcdata:
      case TextState::kRawtext:
        for (std::size_t p = FindByte(text_, '<', tag_end); p != npos;
             p = FindByte(text_, '<', p + 1)) {
          if (AppropriateEndTag(text_, p, tag_name)) return p;
        }
        return size;
    }
    return tag_end;
  }

  // Where script data ends: at "</script" followed by whitespace, "/" or ">",
  // outside a double-escaped "<!--<script>...</script>" part. Script text is
  // long: the scan jumps from "<" to "<", and to the next "-->" once escaped.
  std::size_t ScriptEnd(std::size_t from) const {
    enum { kData, kEscaped, kDoubleEscaped } state = kData;
    const std::size_t size = text_.size();
    std::size_t dashes = npos;  // the next "-->" at or after `dashes_from`
    std::size_t dashes_from = npos;
    std::size_t i = from;
    while (i < size) {
      const std::size_t lt = FindByte(text_, '<', i);
      if (state != kData) {
        if (dashes_from == npos || (dashes != npos && dashes < i) || dashes_from > i) {
          dashes = text_.find("-->", i);
          dashes_from = i;
        }
        if (dashes != npos && (lt == npos || dashes < lt)) {
          state = kData;  // "-->" ends either escape
          i = dashes + 3;
          continue;
        }
      }
      if (lt == npos) return size;
      i = lt;
      if (state != kDoubleEscaped && AppropriateEndTag(text_, i, "script")) return i;
      if (state == kData && text_.compare(i, 4, "<!--") == 0) {
        state = kEscaped;
        // "<!--" then "-": the dashes may end it at once ("<!-->").
        i += 2;
        continue;
      }
      if (state == kEscaped && MatchesAt(text_, i + 1, "script") && IsSpaceOrEnd(text_, i + 7)) {
        state = kDoubleEscaped;
      } else if (state == kDoubleEscaped && text_.compare(i + 1, 1, "/") == 0 &&
                 MatchesAt(text_, i + 2, "script") && IsSpaceOrEnd(text_, i + 8)) {
        state = kEscaped;
      }
      ++i;
    }
    return size;
  }

  std::string_view text_;
  bool gaps_;
  Sink index_;
  std::vector<std::size_t>* quotes_;
  TreeBuilder tree_;
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
  (void)set;  // both sets read the same: the content pass asks the tree
  Scanner<IndexSink>(text, gaps, IndexSink(index), quotes).Run();
}

void ScanMarkup(std::string_view text, RegionSet set, bool gaps, MarkupVisitor& visitor) {
  (void)set;
  Scanner<VisitorSink>(text, gaps, VisitorSink(visitor), nullptr).Run();
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

bool TagReader::StartsName(std::size_t pos) {
  if (pos == 0 || Quoted(pos - 1)) return false;
  // Read through pos - 1 unless a quoted value or the tag's end came first.
  return !ended_ && pos_ == pos && (state_ == State::kBeforeName || state_ == State::kAfterName);
}

bool TagReader::Quoted(std::size_t pos) {
  if (!ended_ && pos_ <= pos) {
    std::size_t end = ReadAttributes(text_, gaps_, pos_, state_, pos + 1, [](std::size_t) {},
                                     [this](std::size_t open, std::size_t close) {
                                       open_ = open;
                                       close_ = close;
                                       any_ = true;
                                     },
                                     [](std::size_t) {});
    ended_ = end != npos;
  }
  return any_ && open_ <= pos && pos <= close_;
}

}  // namespace vantoro::internal
