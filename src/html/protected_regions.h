// Protected regions: text that neither pass may touch, found in one left-to-right
// scan that reads the page as a browser's tokenizer does, with the tree
// builder's state (html/tree_builder.h) deciding what a start tag switches to.
//
// The regions: comments, bogus comments ("<!x ...>", "<?...>", "</ ...>", to
// their first ">"), document type declarations (to their first ">"), CDATA
// sections in foreign content; the text of RCDATA, RAWTEXT and script elements
// and everything behind <plaintext>; quoted attribute values.
//
// The reading, as the WHATWG tokenizer's states have it:
// - Between tags, "<!--" opens a comment that ends behind the first "-->" (its
//   dashes may be the opening's: "<!-->" and "<!--->" are whole) or "--!>", or
//   at the end. "<!DOCTYPE" (any case) opens a declaration, "<![CDATA[" a CDATA
//   section inside svg or math (elsewhere a bogus comment), any other "<!" or
//   "<?" a bogus comment. "<" and an ASCII letter start a start tag, "</" and a
//   letter an end tag; "</>" is dropped; "</" and anything else opens a bogus
//   comment. Any other "<" is text.
// - A tag's name runs to whitespace (TAB, LF, FF, CR, space), "/" or ">". Then
//   attributes: whitespace and "/" between them are skipped; a name begins with
//   any other character but ">" ("=" included) and runs to whitespace, "/", ">"
//   or "="; after it, optional whitespace, then "=" and optional whitespace lead
//   to the value (so "r= href=y" gives r the value "href=y"). A value that
//   opens with '"' or "'" is quoted and runs to the next same quote (or the end
//   of the text); any other value is unquoted and ends at whitespace or ">".
//   The tag ends at the first ">" outside quoted values, or at the end of the
//   text.
// - Behind a start tag the tree builder switched to RCDATA or RAWTEXT, the text
//   runs to "</NAME" (ASCII case ignored) followed by whitespace, "/" or ">";
//   script data runs the same way to "</script", but not inside a
//   double-escaped "<!--<script>...</script>" part; PLAINTEXT to the end. A
//   start tag of such an element without ">" protects itself and everything
//   behind it.
// - In the page pass's working text an opened gap counts as whitespace, and a
//   doubled NUL as one character.
//
// Every "<" outside the regions is reported, those inside a tag (an unquoted
// value "a<b", a tag without its ">") among them: they are listed apart.
//
// Linear in the text: every byte is looked at a bounded number of times (a raw
// text end is looked for once), and nothing recurses. Checked against a model
// in tests/regions_test.cpp, and against a real parser by tests/parse/.
#ifndef VANTORO_HTML_PROTECTED_REGIONS_H_
#define VANTORO_HTML_PROTECTED_REGIONS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vantoro::internal {

// Both passes read a page the same way; the content pass asks the tree builder
// where a decoy may go.
enum class RegionSet {
  kPage,
  kContent,
};

struct MarkupIndex {
  std::vector<std::size_t> unprotected;  // every "<" outside the regions, in order
  std::vector<std::size_t> in_tag;       // those of them that stand inside a tag

  void clear() {
    unprotected.clear();
    in_tag.clear();
  }
};

// Scans `text` into `index` (cleared first; its capacity is reused). `gaps`:
// the text is the page pass's working text (gaps and doubled NULs). `quotes`,
// when given, receives the quoted values as pairs of positions: the opening
// quote and the closing one (the last byte of the text for a value not closed).
void ScanMarkup(std::string_view text, RegionSet set, bool gaps, MarkupIndex& index,
                std::vector<std::size_t>* quotes = nullptr);

class TreeBuilder;

// What the scan read of a tag, for a visitor that looks at it again.
struct ScannedTag {
  // The tree builder's id of its name (TreeBuilder::Lookup): 0 for a name the
  // rules do not know, and for what is no tag.
  std::uint16_t id = 0;
  // Every position, in order, where the reading of its attributes stood right
  // behind whitespace between attributes (not in a value): where an
  // attribute's name may begin. A tag of more than kMostBehindSpaces lists the
  // first of them only, and says so: a visitor then reads the tag itself, and
  // a page of one long tag costs no memory in proportion.
  std::span<const std::size_t> behind_spaces;
  bool all_behind_spaces = true;
  static constexpr std::size_t kMostBehindSpaces = 128;
};

// Told of every unprotected "<" that stands between tags (not inside one), from
// left to right, right after the scan has read its tag: a caller that looks at
// the tag finds it still in the cache. `tree` holds the tree builder's state
// in front of the tag.
class MarkupVisitor {
 public:
  virtual void Visit(std::size_t lt, const TreeBuilder& tree, const ScannedTag& tag) = 0;

 protected:
  ~MarkupVisitor() = default;
};

// The same scan, reported to `visitor` instead of listed.
void ScanMarkup(std::string_view text, RegionSet set, bool gaps, MarkupVisitor& visitor);

// The unprotected "<" of `text`, from left to right.
std::vector<std::size_t> UnprotectedTags(std::string_view text, RegionSet set);

// Reads one tag from its "<" and tells which positions lie inside its quoted
// values (quotes included), as the scan above reads them. Asked positions must
// not go backwards; reading goes no further than asked.
class TagReader {
 public:
  TagReader(std::string_view text, std::size_t lt, bool gaps);
  // The same, for a caller that already knows where the tag's name ends.
  struct AfterName {
    std::size_t name_end;
  };
  TagReader(std::string_view text, AfterName after, bool gaps)
      : text_(text), gaps_(gaps), pos_(after.name_end) {}
  bool Quoted(std::size_t pos);
  // Whether an attribute's name begins at `pos`: it follows whitespace or "/"
  // between attributes, not inside a value ("r= href=y": "href=y" is r's).
  bool StartsName(std::size_t pos);

  // Internal: where reading stands.
  enum class State { kBeforeName, kName, kAfterName, kBeforeValue, kUnquoted };

 private:
  std::string_view text_;
  bool gaps_;
  std::size_t pos_;
  State state_ = State::kBeforeName;
  std::size_t open_ = 0, close_ = 0;  // the last quoted value read
  bool any_ = false;                  // whether one was read
  bool ended_ = false;                // the tag's ">" was read
};

// Whether the byte ends a tag name: TAB, LF, FF, CR, space, "/" or ">".
inline bool EndsTagName(char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ' || c == '/' || c == '>';
}

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_PROTECTED_REGIONS_H_
