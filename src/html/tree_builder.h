// What a browser's tree builder knows while it reads a page, without the tree:
// the stack of open elements (names and namespaces), the list of active
// formatting elements, the insertion mode and the few flags that steer them.
// The scanner feeds it the tokens it reads and asks it two things:
//
// - how the tokenizer goes on behind a start tag (raw text, script data,
//   RCDATA, PLAINTEXT, or markup), which depends on where the tag stands (a
//   <title> inside <svg> is no RCDATA, a <style> inside <select> is ignored);
//   and whether "<![CDATA[" opens a section (only in foreign content);
// - whether a hidden phrasing element put in front of a "</p" or "<br" there
//   would stay where it is, with the document around it parsed as before.
//
// The rules are the tree-construction rules of the WHATWG HTML standard, for
// a document (not a fragment), with scripting on, as browsers run. Template
// contents are tracked as ordinary elements and no decoy goes inside them.
// Linear: every token costs a bounded amount of work but for the stack walks
// the rules themselves make. Checked against a real parser by tests/parse/.
#ifndef VANTORO_HTML_TREE_BUILDER_H_
#define VANTORO_HTML_TREE_BUILDER_H_

#include <cstddef>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vantoro::internal {

// How the tokenizer reads what follows a start tag.
enum class TextState : std::uint8_t {
  kData,        // markup
  kRcdata,      // text up to the element's end tag (title, textarea)
  kRawtext,     // the same, no character references (style, xmp, iframe, ...)
  kScriptData,  // script text, with its escaped states
  kPlaintext,   // everything to the end
};

// A DOCTYPE token, as the tokenizer reads it.
struct DoctypeToken {
  std::string_view name;
  std::string_view public_id, system_id;
  bool has_public = false, has_system = false;
  bool force_quirks = false;
};

// A start tag: its name as written, and its attributes' bytes (behind the
// name up to, not including, the ">") for the few rules that read one.
struct StartTagToken {
  std::string_view name;
  std::uint16_t tag;  // TreeBuilder::Lookup(name)
  std::string_view attributes;
  bool self_closing = false;
};

class TreeBuilder {
 public:
  TreeBuilder();

  // The id the rules know a tag name (any case) by, for the tokens below.
  static std::uint16_t Lookup(std::string_view name);
  // The same, where `readable` bytes from the name's start may be read (the
  // page goes on behind the name).
  static std::uint16_t Lookup(std::string_view name, std::size_t readable);

  void Doctype(const DoctypeToken& token);
  // Returns how the tokenizer reads on.
  TextState StartTag(const StartTagToken& token);
  void EndTag(std::string_view name, std::uint16_t tag);
  void Characters(std::string_view text);

  // Whether a <frameset> start tag could still replace the body.
  bool frameset_ok() const { return frameset_ok_; }

  // Whether "<![CDATA[" opens a CDATA section here.
  bool InForeignContent() const;
  // Whether a <template> is open: its contents are inert, and parsers that do
  // not know templates read them otherwise.
  bool InTemplateContents() const;

  // Whether a hidden phrasing element (a decoy: an element with text, which the
  // page does not hold) put in front of the next token, the start or end tag
  // `tag`, stays where it is and leaves the page around it building the same
  // tree: it goes into the body at this point (making the body, before one, as
  // the start tag would), rebuilds no formatting element, is neither moved
  // (foster parenting) nor dropped (select), and the tag behind it does what it
  // did without it. `frameset_follows`: a "<frameset" stands later in the page,
  // whose chance to replace the body the decoy's text must not end.
  bool DecoyFits(std::string_view tag, bool end_tag, bool frameset_follows) const;

  // Whether text here is prose of the body: not in a table's structure,
  // select, template, foreign content, nor in preformatted text or code (pre,
  // listing, textarea, code, kbd, samp, tt, xmp), where a character added
  // behind punctuation could change what a reader copies and runs.
  bool InProse() const;

  // Whether the page turned quirks mode on.
  bool quirks() const { return quirks_; }

 private:
  enum class Mode : std::uint8_t {
    kInitial, kBeforeHtml, kBeforeHead, kInHead, kInHeadNoscript, kAfterHead, kInBody, kText,
    kInTable, kInTableText, kInCaption, kInColumnGroup, kInTableBody, kInRow, kInCell,
    kInSelect, kInSelectInTable, kInTemplate, kAfterBody, kInFrameset, kAfterFrameset, kAfterAfterBody,
    kAfterAfterFrameset,
  };
  enum class Ns : std::uint8_t { kHtml, kMathMl, kSvg };

  struct Element {
    std::uint16_t tag;  // a name the rules know, or 0
    Ns ns;
    bool html_integration_point;
    std::uint32_t id;
    std::string_view name;  // as written, for names the rules do not know
  };
  struct Formatting {
    std::uint32_t id;  // 0: a marker
    std::uint16_t tag;
    std::string_view attributes;  // the start tag's, for "the same element" (at most three)
  };
  struct Token;

  // Modes.
  void Process(Token& token);
  bool ProcessInMode(Mode mode, Token& token);  // false: reprocess in the (new) mode
  bool InitialMode(Token& t);
  bool BeforeHtml(Token& t);
  bool BeforeHead(Token& t);
  bool InHead(Token& t);
  bool InHeadNoscript(Token& t);
  bool AfterHead(Token& t);
  bool InBody(Token& t);
  bool InBodyStart(Token& t);
  bool InBodyEnd(Token& t);
  bool TextMode(Token& t);
  bool InTable(Token& t);
  bool InTableText(Token& t);
  bool InCaption(Token& t);
  bool InColumnGroup(Token& t);
  bool InTableBody(Token& t);
  bool InRow(Token& t);
  bool InCell(Token& t);
  bool InSelect(Token& t);
  bool InSelectInTable(Token& t);
  bool InTemplate(Token& t);
  bool AfterBody(Token& t);
  bool InFrameset(Token& t);
  bool AfterFrameset(Token& t);
  bool AfterAfterBody(Token& t);
  bool AfterAfterFrameset(Token& t);
  bool ForeignContent(Token& t);
  bool UseForeignRules(const Token& t) const;
  bool InBodyUnderHtml() const;  // "in body", foreign rules not in use
  static bool Special(const Element& e);

  // The stack.
  void Push(std::uint16_t tag, Ns ns, std::string_view name, bool html_ip = false);
  void Insert(const Token& t);  // an HTML element for the token
  void InsertForeign(const Token& t, Ns ns);
  void Pop() { stack_.pop_back(); }
  void PopUntil(std::uint16_t tag);  // HTML elements of that tag
  void PopUntilOneOf(std::initializer_list<std::uint16_t> tags);
  void RemoveFromStack(std::uint32_t id);
  const Element& Current() const { return stack_.back(); }
  bool CurrentIs(std::uint16_t tag) const;
  bool CurrentIsOneOf(std::initializer_list<std::uint16_t> tags) const;
  bool OnStack(std::uint16_t tag) const;
  bool IdOnStack(std::uint32_t id) const;
  const Element* AdjustedCurrent() const;

  enum class Scope : std::uint8_t { kDefault, kListItem, kButton, kTable, kSelect };
  bool InScope(std::uint16_t tag, Scope scope = Scope::kDefault) const;
  bool InScopeByName(std::string_view name) const;
  bool IdInScope(std::uint32_t id) const;
  bool AnyHeadingInScope() const;

  void GenerateImpliedEndTags(std::uint16_t except = 0);
  void GenerateAllImpliedEndTagsThoroughly();
  void CloseP();
  void ResetInsertionMode();
  void ClearStackBackTo(std::initializer_list<std::uint16_t> tags);
  void CloseCell();

  // The list of active formatting elements.
  void PushFormatting(const Token& t);
  void ReconstructFormatting();
  bool ReconstructionPending() const;
  void ClearFormattingToMarker();
  void RemoveFormatting(std::uint32_t id);
  int FormattingIndexAfterMarker(std::uint16_t tag) const;
  bool AdoptionAgency(const Token& t);  // false: treat as "any other end tag"
  void AnyOtherEndTag(const Token& t);

  void RawText(const Token& t, TextState state);

  // The stack of open elements, which counts its HTML elements by tag and its
  // foreign ones: most scope checks look for an element that is not there at
  // all.
  class Stack {
   public:
    static constexpr std::size_t kTags = 192;
    void push_back(const Element& e) {
      elements_.push_back(e);
      Count(e, 1);
    }
    void pop_back() {
      Count(elements_.back(), -1);
      elements_.pop_back();
    }
    void resize(std::size_t n) {
      while (elements_.size() > n) pop_back();
    }
    void erase(std::size_t i) {
      Count(elements_[i], -1);
      elements_.erase(elements_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    void insert(std::size_t i, const Element& e) {
      elements_.insert(elements_.begin() + static_cast<std::ptrdiff_t>(i), e);
      Count(e, 1);
    }
    void reserve(std::size_t n) { elements_.reserve(n); }
    std::size_t size() const { return elements_.size(); }
    bool empty() const { return elements_.empty(); }
    const Element& back() const { return elements_.back(); }
    const Element& operator[](std::size_t i) const { return elements_[i]; }
    void set_id(std::size_t i, std::uint32_t id) { elements_[i].id = id; }
    std::vector<Element>::const_iterator begin() const { return elements_.begin(); }
    std::vector<Element>::const_iterator end() const { return elements_.end(); }
    std::uint32_t html_count(std::uint16_t tag) const { return counts_[tag]; }
    std::uint32_t foreign_count() const { return foreign_; }

   private:
    void Count(const Element& e, int delta) {
      if (e.ns != Ns::kHtml) {
        foreign_ += static_cast<std::uint32_t>(delta);
        return;
      }
      if (delta > 0) {
        ++counts_[e.tag];
      } else {
        --counts_[e.tag];
      }
    }
    std::vector<Element> elements_;
    std::array<std::uint32_t, kTags> counts_{};
    std::uint32_t foreign_ = 0;  // SVG and MathML elements
  };

  Stack stack_;
  std::vector<Formatting> formatting_;
  std::vector<Mode> template_modes_;  // the stack of template insertion modes
  Mode mode_ = Mode::kInitial;
  Mode original_mode_ = Mode::kInitial;
  Mode table_text_return_ = Mode::kInTable;
  bool table_text_other_ = false;  // the pending table text holds non-whitespace
  std::uint32_t head_id_ = 0;       // the head element, once made
  std::uint32_t form_id_ = 0;       // the form element pointer
  std::uint32_t next_id_ = 1;
  bool frameset_ok_ = true;
  bool foreign_left_by_end_tag_ = false;  // a </p> or </br> ended foreign content
  bool quirks_ = false;
  TextState text_state_ = TextState::kData;
};

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_TREE_BUILDER_H_
