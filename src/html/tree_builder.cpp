#include "html/tree_builder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "text/ascii.h"
#include "text/whitespace.h"

namespace vantoro::internal {
namespace {

// The names the rules tell apart.
#define VANTORO_TAGS(X)                                                                      \
  X(kA, "a") X(kAddress, "address") X(kAnnotationXml, "annotation-xml") X(kApplet, "applet")   \
  X(kArea, "area") X(kArticle, "article") X(kAside, "aside") X(kB, "b") X(kBase, "base")       \
  X(kBasefont, "basefont") X(kBgsound, "bgsound") X(kBig, "big")                               \
  X(kBlockquote, "blockquote") X(kBody, "body") X(kBr, "br") X(kButton, "button")              \
  X(kCaption, "caption") X(kCenter, "center") X(kCode, "code") X(kCol, "col")                  \
  X(kColgroup, "colgroup") X(kDatalist, "datalist") X(kDd, "dd") X(kDesc, "desc")              \
  X(kDetails, "details") X(kDialog, "dialog") X(kDir, "dir") X(kDiv, "div") X(kDl, "dl")       \
  X(kDt, "dt") X(kEm, "em") X(kEmbed, "embed") X(kFieldset, "fieldset")                        \
  X(kFigcaption, "figcaption") X(kFigure, "figure") X(kFont, "font") X(kFooter, "footer")      \
  X(kForeignObject, "foreignobject") X(kForm, "form") X(kFrame, "frame")                       \
  X(kFrameset, "frameset") X(kH1, "h1") X(kH2, "h2") X(kH3, "h3") X(kH4, "h4") X(kH5, "h5")    \
  X(kH6, "h6") X(kHead, "head") X(kHeader, "header") X(kHgroup, "hgroup") X(kHr, "hr")         \
  X(kHtml, "html") X(kI, "i") X(kIframe, "iframe") X(kImage, "image") X(kImg, "img")           \
  X(kInput, "input") X(kKbd, "kbd") X(kKeygen, "keygen") X(kLi, "li") X(kLink, "link") X(kListing, "listing") \
  X(kMain, "main") X(kMalignmark, "malignmark") X(kMarquee, "marquee") X(kMath, "math")        \
  X(kMenu, "menu") X(kMeta, "meta") X(kMglyph, "mglyph") X(kMi, "mi") X(kMn, "mn")             \
  X(kMo, "mo") X(kMs, "ms") X(kMtext, "mtext") X(kNav, "nav") X(kNobr, "nobr")                 \
  X(kNoembed, "noembed") X(kNoframes, "noframes") X(kNoscript, "noscript")                     \
  X(kObject, "object") X(kOl, "ol") X(kOptgroup, "optgroup") X(kOption, "option") X(kP, "p")   \
  X(kParam, "param") X(kPlaintext, "plaintext") X(kPre, "pre") X(kRb, "rb") X(kRp, "rp")       \
  X(kRt, "rt") X(kRtc, "rtc") X(kRuby, "ruby") X(kS, "s") X(kSamp, "samp") X(kScript, "script")                 \
  X(kSearch, "search") X(kSection, "section") X(kSelect, "select") X(kSmall, "small")          \
  X(kSource, "source") X(kSpan, "span") X(kStrike, "strike") X(kStrong, "strong")              \
  X(kStyle, "style") X(kSub, "sub") X(kSummary, "summary") X(kSup, "sup") X(kSvg, "svg")       \
  X(kTable, "table") X(kTbody, "tbody") X(kTd, "td") X(kTemplate, "template")                  \
  X(kTextarea, "textarea") X(kTfoot, "tfoot") X(kTh, "th") X(kThead, "thead")                  \
  X(kTitle, "title") X(kTr, "tr") X(kTrack, "track") X(kTt, "tt") X(kU, "u") X(kUl, "ul")      \
  X(kVar, "var") X(kWbr, "wbr") X(kXmp, "xmp")

enum Tag : std::uint16_t {
  kOther = 0,
#define VANTORO_TAG_ENUM(id, name) id,
  VANTORO_TAGS(VANTORO_TAG_ENUM)
#undef VANTORO_TAG_ENUM
  kTagCount
};

constexpr std::array<std::string_view, kTagCount> kTagNames = {
    "",
#define VANTORO_TAG_NAME(id, name) name,
    VANTORO_TAGS(VANTORO_TAG_NAME)
#undef VANTORO_TAG_NAME
};


// The tag a name (any case) stands for: one probe or two in a table made
// by the compiler, as every tag of every page is looked up. Names are
// compared as two 8-byte words, zero-padded, and by length: a name may hold
// NUL bytes ("script\0" is not script), which the padding alone would hide.
constexpr std::size_t kLongestName = 14;  // "annotation-xml"
constexpr std::size_t kSlots = 512;

struct Slot {
  std::uint64_t first = 0, second = 0;
  std::uint16_t tag = 0;
  std::uint8_t length = 0;
};

struct Words {
  std::uint64_t first, second;
};

// ASCII upper-case letters of eight bytes to lower case, other bytes as they are.
constexpr std::uint64_t LowerWord(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t heptets = x & (0x7F * kOnes);
  const std::uint64_t above_z = heptets + (0x7F - 'Z') * kOnes;
  const std::uint64_t from_a = heptets + (0x80 - 'A') * kOnes;
  const std::uint64_t upper = ~x & (from_a ^ above_z) & (0x80 * kOnes);
  return x | (upper >> 2);
}

// The lower-case name as two words, or false for a name too long to be known.
constexpr bool ToWords(std::string_view name, Words& words) {
  const std::size_t n = name.size();
  if (n == 0 || n > kLongestName) return false;
  std::uint64_t first = 0, second = 0;
  auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(name[i])}; };
  for (std::size_t i = 0; i < n && i < 8; ++i) first |= byte(i) << (8 * i);
  for (std::size_t i = 8; i < n; ++i) second |= byte(i) << (8 * (i - 8));
  words.first = LowerWord(first);
  words.second = LowerWord(second);
  return true;
}

constexpr std::size_t SlotOf(const Words& w) {
  std::uint64_t h = (w.first * 0x9E3779B97F4A7C15ull) ^ (w.second * 0xC2B2AE3D27D4EB4Full);
  return static_cast<std::size_t>(h >> 55);  // 9 bits
}

constexpr std::array<Slot, kSlots> kTagTable = [] {
  std::array<Slot, kSlots> t{};
  for (std::uint16_t tag = 1; tag < kTagCount; ++tag) {
    Words w{};
    ToWords(kTagNames[tag], w);
    std::size_t slot = SlotOf(w);
    while (t[slot].tag != 0) slot = (slot + 1) % kSlots;
    t[slot] = {w.first, w.second, tag, static_cast<std::uint8_t>(kTagNames[tag].size())};
  }
  return t;
}();

// The tag of a name of `length` bytes, given as words.
std::uint16_t FindTag(const Words& w, std::size_t length) {
  const std::array<Slot, kSlots>& table = kTagTable;
  for (std::size_t slot = SlotOf(w);; slot = (slot + 1) % kSlots) {
    const Slot& entry = table[slot];
    if (entry.tag == 0) return kOther;
    if (entry.first == w.first && entry.second == w.second && entry.length == length) {
      return entry.tag;
    }
  }
}

std::uint16_t TagOf(std::string_view name) {
  Words w{};
  if (!ToWords(name, w)) return kOther;
  return FindTag(w, name.size());
}

bool IsOneOf(std::uint16_t tag, std::initializer_list<std::uint16_t> tags) {
  return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// The HTML elements of the "special" category.
bool IsSpecialHtml(std::uint16_t tag) {
  switch (tag) {
    case kAddress: case kApplet: case kArea: case kArticle: case kAside: case kBase:
    case kBasefont: case kBgsound: case kBlockquote: case kBody: case kBr: case kButton:
    case kCaption: case kCenter: case kCol: case kColgroup: case kDd: case kDetails: case kDir:
    case kDiv: case kDl: case kDt: case kEmbed: case kFieldset: case kFigcaption: case kFigure:
    case kFooter: case kForm: case kFrame: case kFrameset: case kH1: case kH2: case kH3: case kH4:
    case kH5: case kH6: case kHead: case kHeader: case kHgroup: case kHr: case kHtml:
    case kIframe: case kImg: case kInput: case kKeygen: case kLi: case kLink: case kListing:
    case kMain: case kMarquee: case kMenu: case kMeta: case kNav: case kNoembed: case kNoframes:
    case kNoscript: case kObject: case kOl: case kP: case kParam: case kPlaintext: case kPre:
    case kScript: case kSearch: case kSection: case kSelect: case kSource: case kStyle:
    case kSummary: case kTable: case kTbody: case kTd: case kTemplate: case kTextarea:
    case kTfoot: case kTh: case kThead: case kTitle: case kTr: case kTrack: case kUl: case kWbr:
    case kXmp:
      return true;
    default:
      return false;
  }
}

// What the rules ask most often of an HTML element, looked up.
enum TagFlags : std::uint8_t {
  kScopeBoundary = 1,  // ends "has an element in scope" (HTML ones)
  kImpliedEnd = 2,     // closed by "generate implied end tags"
};

constexpr std::array<std::uint8_t, kTagCount> kTagFlags = [] {
  std::array<std::uint8_t, kTagCount> flags{};
  for (std::uint16_t tag : {kApplet, kCaption, kHtml, kTable, kTd, kTh, kMarquee, kObject,
                            kTemplate}) {
    flags[tag] |= kScopeBoundary;
  }
  for (std::uint16_t tag : {kDd, kDt, kLi, kOptgroup, kOption, kP, kRb, kRp, kRt, kRtc}) {
    flags[tag] |= kImpliedEnd;
  }
  return flags;
}();

// An attribute's value in a start tag's attribute bytes, read as the tokenizer
// reads attributes (the first of a name counts); `found` says whether there
// was one.
std::string_view AttributeValue(std::string_view attributes, std::string_view wanted,
                                bool* found = nullptr) {
  std::size_t i = 0;
  const std::size_t n = attributes.size();
  std::vector<std::string_view> seen;
  while (i < n) {
    while (i < n && (IsHtmlSpace(attributes[i]) || attributes[i] == '/')) ++i;
    if (i >= n) break;
    std::size_t name_start = i;
    ++i;  // the first byte belongs to the name, "=" included
    while (i < n && !IsHtmlSpace(attributes[i]) && attributes[i] != '/' && attributes[i] != '=') ++i;
    std::string_view name = attributes.substr(name_start, i - name_start);
    while (i < n && IsHtmlSpace(attributes[i])) ++i;
    std::string_view value;
    if (i < n && attributes[i] == '=') {
      ++i;
      while (i < n && IsHtmlSpace(attributes[i])) ++i;
      if (i < n && (attributes[i] == '"' || attributes[i] == '\'')) {
        char quote = attributes[i++];
        std::size_t close = attributes.find(quote, i);
        if (close == std::string_view::npos) close = n;
        value = attributes.substr(i, close - i);
        i = close + 1;
      } else {
        std::size_t start = i;
        while (i < n && !IsHtmlSpace(attributes[i])) ++i;
        value = attributes.substr(start, i - start);
      }
    }
    bool duplicate = false;
    for (std::string_view s : seen) duplicate |= EqualsIgnoringCase(s, name);
    if (duplicate) continue;
    seen.push_back(name);
    if (EqualsIgnoringCase(name, wanted)) {
      if (found != nullptr) *found = true;
      return value;
    }
  }
  if (found != nullptr) *found = false;
  return {};
}

// A digest of a start tag's attributes (names in lower case, values), in any
// order: elements that agree on it count as the same for the list of active
// formatting elements.
std::uint64_t AttributeDigest(std::string_view attributes) {
  std::uint64_t digest = 0;
  std::size_t i = 0;
  const std::size_t n = attributes.size();
  while (i < n) {
    while (i < n && (IsHtmlSpace(attributes[i]) || attributes[i] == '/')) ++i;
    if (i >= n) break;
    std::uint64_t h = 1469598103934665603ull;
    std::size_t name_start = i++;
    while (i < n && !IsHtmlSpace(attributes[i]) && attributes[i] != '/' && attributes[i] != '=') ++i;
    for (std::size_t k = name_start; k < i; ++k) {
      h = (h ^ static_cast<unsigned char>(AsciiLower(attributes[k]))) * 1099511628211ull;
    }
    h = (h ^ 0x3D) * 1099511628211ull;
    while (i < n && IsHtmlSpace(attributes[i])) ++i;
    if (i < n && attributes[i] == '=') {
      ++i;
      while (i < n && IsHtmlSpace(attributes[i])) ++i;
      std::size_t start, end;
      if (i < n && (attributes[i] == '"' || attributes[i] == '\'')) {
        char quote = attributes[i++];
        std::size_t close = attributes.find(quote, i);
        if (close == std::string_view::npos) close = n;
        start = i, end = close, i = close + 1;
      } else {
        start = i;
        while (i < n && !IsHtmlSpace(attributes[i])) ++i;
        end = i;
      }
      for (std::size_t k = start; k < end; ++k) {
        h = (h ^ static_cast<unsigned char>(attributes[k])) * 1099511628211ull;
      }
    }
    digest += h * 0x9E3779B97F4A7C15ull + (h >> 29);  // order does not matter
  }
  return digest;
}

}  // namespace

struct TreeBuilder::Token {
  enum Kind : std::uint8_t { kStart, kEnd, kCharacters, kDoctype };
  explicit Token(Kind k) : kind(k) {}

  Kind kind;
  std::uint16_t tag = kOther;
  std::string_view name;        // tags: as written
  std::string_view attributes;  // start tags
  bool self_closing = false;
  std::string_view text;        // characters (what is left to process)
  const DoctypeToken* doctype = nullptr;

  bool Start(std::uint16_t t) const { return kind == kStart && tag == t; }
  bool End(std::uint16_t t) const { return kind == kEnd && tag == t; }
  bool StartOneOf(std::initializer_list<std::uint16_t> tags) const {
    return kind == kStart && IsOneOf(tag, tags);
  }
  bool EndOneOf(std::initializer_list<std::uint16_t> tags) const {
    return kind == kEnd && IsOneOf(tag, tags);
  }
  bool Whitespace() const { return kind == kCharacters && AllHtmlSpace(text); }
};

TreeBuilder::TreeBuilder() {
  static_assert(kTagCount <= Stack::kTags, "the stack counts every tag");
  stack_.reserve(64);
}

void TreeBuilder::Doctype(const DoctypeToken& doctype) {
  Token t(Token::kDoctype);
  t.doctype = &doctype;
  Process(t);
}

std::uint16_t TreeBuilder::Lookup(std::string_view name) { return TagOf(name); }

std::uint16_t TreeBuilder::Lookup(std::string_view name, std::size_t readable) {
  const std::size_t n = name.size();
  if (readable < 16 || n == 0 || n > kLongestName) return TagOf(name);
  // Two loads of the page as it stands, the bytes past the name cleared.
  Words w;
  std::memcpy(&w.first, name.data(), 8);
  std::memcpy(&w.second, name.data() + 8, 8);
  if (n < 8) {
    w.first &= (std::uint64_t{1} << (8 * n)) - 1;
    w.second = 0;
  } else if (n < 16) {
    w.second &= (std::uint64_t{1} << (8 * (n - 8))) - 1;
  }
  w.first = LowerWord(w.first);
  w.second = LowerWord(w.second);
  return FindTag(w, n);
}

TextState TreeBuilder::StartTag(const StartTagToken& token) {
  Token t(Token::kStart);
  t.name = token.name;
  t.tag = token.tag;
  t.attributes = token.attributes;
  t.self_closing = token.self_closing;
  text_state_ = TextState::kData;
  // Most tags stand in the body under an HTML element: the rules of "in body"
  // at once, as the first round of Process would apply them.
  if (InBodyUnderHtml() && InBodyStart(t)) return text_state_;
  Process(t);
  return text_state_;
}

void TreeBuilder::EndTag(std::string_view name, std::uint16_t tag) {
  Token t(Token::kEnd);
  t.name = name;
  t.tag = tag;
  if (InBodyUnderHtml() && InBodyEnd(t)) return;
  Process(t);
}

bool TreeBuilder::InBodyUnderHtml() const {
  return mode_ == Mode::kInBody && !stack_.empty() && stack_.back().ns == Ns::kHtml;
}

void TreeBuilder::Characters(std::string_view text) {
  if (text.empty()) return;
  // Most text stands in the body (or a cell) once nothing is left for it to
  // change, or in a select or frameset, where it changes nothing; or it is
  // whitespace between a table's rows and cells, which stays where it is.
  switch (mode_) {
    case Mode::kInBody: case Mode::kInCell: case Mode::kInCaption:
      if (!frameset_ok_ && !stack_.empty() && stack_.back().ns == Ns::kHtml &&
          !ReconstructionPending()) {
        return;
      }
      break;
    case Mode::kInSelect: case Mode::kInSelectInTable: case Mode::kInFrameset:
    case Mode::kAfterFrameset: case Mode::kAfterAfterFrameset:
      if (!stack_.empty() && stack_.back().ns == Ns::kHtml) return;
      break;
    default:
      break;
  }
  if ((mode_ == Mode::kInTable || mode_ == Mode::kInTableBody || mode_ == Mode::kInRow) &&
      CurrentIsOneOf({kTable, kTbody, kTfoot, kThead, kTr}) && AllHtmlSpace(text)) {
    return;
  }
  Token t(Token::kCharacters);
  t.text = text;
  Process(t);
}

bool TreeBuilder::UseForeignRules(const Token& t) const {
  const Element* adjusted = AdjustedCurrent();
  if (adjusted == nullptr || adjusted->ns == Ns::kHtml || t.kind == Token::kDoctype) {
    return false;
  }
  const bool text_ip = adjusted->ns == Ns::kMathMl &&
                       IsOneOf(adjusted->tag, {kMi, kMo, kMn, kMs, kMtext});
  if (text_ip && ((t.kind == Token::kStart && !IsOneOf(t.tag, {kMglyph, kMalignmark})) ||
                  t.kind == Token::kCharacters)) {
    return false;
  }
  if (adjusted->ns == Ns::kMathMl && adjusted->tag == kAnnotationXml && t.Start(kSvg)) {
    return false;
  }
  if (adjusted->html_integration_point &&
      (t.kind == Token::kStart || t.kind == Token::kCharacters)) {
    return false;
  }
  return true;
}

bool TreeBuilder::ProcessInMode(Mode mode, Token& t) {
  switch (mode) {
    case Mode::kInitial: return InitialMode(t);
    case Mode::kBeforeHtml: return BeforeHtml(t);
    case Mode::kBeforeHead: return BeforeHead(t);
    case Mode::kInHead: return InHead(t);
    case Mode::kInHeadNoscript: return InHeadNoscript(t);
    case Mode::kAfterHead: return AfterHead(t);
    case Mode::kInBody: return InBody(t);
    case Mode::kText: return TextMode(t);
    case Mode::kInTable: return InTable(t);
    case Mode::kInTableText: return InTableText(t);
    case Mode::kInCaption: return InCaption(t);
    case Mode::kInColumnGroup: return InColumnGroup(t);
    case Mode::kInTableBody: return InTableBody(t);
    case Mode::kInRow: return InRow(t);
    case Mode::kInCell: return InCell(t);
    case Mode::kInSelect: return InSelect(t);
    case Mode::kInSelectInTable: return InSelectInTable(t);
    case Mode::kInTemplate: return InTemplate(t);
    case Mode::kAfterBody: return AfterBody(t);
    case Mode::kInFrameset: return InFrameset(t);
    case Mode::kAfterFrameset: return AfterFrameset(t);
    case Mode::kAfterAfterBody: return AfterAfterBody(t);
    case Mode::kAfterAfterFrameset: return AfterAfterFrameset(t);
  }
  return true;
}

// ---- the stack --------------------------------------------------------------

bool TreeBuilder::Special(const Element& e) {
  switch (e.ns) {
    case Ns::kHtml: return IsSpecialHtml(e.tag);
    case Ns::kMathMl: return IsOneOf(e.tag, {kMi, kMo, kMn, kMs, kMtext, kAnnotationXml});
    case Ns::kSvg: return IsOneOf(e.tag, {kForeignObject, kDesc, kTitle});
  }
  return false;
}

void TreeBuilder::Push(std::uint16_t tag, Ns ns, std::string_view name, bool html_ip) {
  stack_.push_back({tag, ns, html_ip, next_id_++, name});
}

void TreeBuilder::Insert(const Token& t) { Push(t.tag, Ns::kHtml, t.name); }

void TreeBuilder::InsertForeign(const Token& t, Ns ns) {
  bool html_ip = false;
  std::uint16_t tag = t.tag;
  if (ns == Ns::kSvg) {
    html_ip = IsOneOf(tag, {kForeignObject, kDesc, kTitle});
  } else if (ns == Ns::kMathMl && tag == kAnnotationXml) {
    std::string_view encoding = AttributeValue(t.attributes, "encoding");
    html_ip = EqualsIgnoringCase(encoding, "text/html") ||
              EqualsIgnoringCase(encoding, "application/xhtml+xml");
  }
  Push(tag, ns, t.name, html_ip);
}

bool TreeBuilder::CurrentIs(std::uint16_t tag) const {
  return !stack_.empty() && stack_.back().ns == Ns::kHtml && stack_.back().tag == tag;
}

bool TreeBuilder::CurrentIsOneOf(std::initializer_list<std::uint16_t> tags) const {
  return !stack_.empty() && stack_.back().ns == Ns::kHtml && IsOneOf(stack_.back().tag, tags);
}

bool TreeBuilder::OnStack(std::uint16_t tag) const { return stack_.html_count(tag) != 0; }

bool TreeBuilder::IdOnStack(std::uint32_t id) const {
  // From the top: the elements asked for are formatting ones, near it.
  for (std::size_t i = stack_.size(); i-- > 0;) {
    if (stack_[i].id == id) return true;
  }
  return false;
}

void TreeBuilder::PopUntil(std::uint16_t tag) {
  while (!stack_.empty()) {
    bool done = stack_.back().ns == Ns::kHtml && stack_.back().tag == tag;
    stack_.pop_back();
    if (done) return;
  }
}

void TreeBuilder::PopUntilOneOf(std::initializer_list<std::uint16_t> tags) {
  while (!stack_.empty()) {
    bool done = stack_.back().ns == Ns::kHtml && IsOneOf(stack_.back().tag, tags);
    stack_.pop_back();
    if (done) return;
  }
}

void TreeBuilder::RemoveFromStack(std::uint32_t id) {
  for (std::size_t i = stack_.size(); i-- > 0;) {
    if (stack_[i].id == id) {
      stack_.erase(i);
      return;
    }
  }
}

// No fragment parsing: the adjusted current node is the current node.
const TreeBuilder::Element* TreeBuilder::AdjustedCurrent() const {
  return stack_.empty() ? nullptr : &stack_.back();
}

bool TreeBuilder::InScope(std::uint16_t tag, Scope scope) const {
  if (stack_.html_count(tag) == 0) return false;
  for (std::size_t i = stack_.size(); i-- > 0;) {
    const Element& e = stack_[i];
    if (e.ns == Ns::kHtml && e.tag == tag) return true;
    if (e.ns == Ns::kHtml) {
      switch (scope) {
        case Scope::kSelect:
          if (!IsOneOf(e.tag, {kOptgroup, kOption})) return false;
          continue;
        case Scope::kTable:
          if (IsOneOf(e.tag, {kHtml, kTable, kTemplate})) return false;
          continue;
        case Scope::kListItem:
          if (IsOneOf(e.tag, {kOl, kUl})) return false;
          break;
        case Scope::kButton:
          if (e.tag == kButton) return false;
          break;
        case Scope::kDefault:
          break;
      }
      if ((kTagFlags[e.tag] & kScopeBoundary) != 0) return false;
    } else if (scope == Scope::kSelect) {
      return false;
    } else if (scope != Scope::kTable) {
      if (e.ns == Ns::kMathMl && IsOneOf(e.tag, {kMi, kMo, kMn, kMs, kMtext, kAnnotationXml})) {
        return false;
      }
      if (e.ns == Ns::kSvg && IsOneOf(e.tag, {kForeignObject, kDesc, kTitle})) return false;
    }
  }
  return false;
}

bool TreeBuilder::IdInScope(std::uint32_t id) const {
  for (std::size_t i = stack_.size(); i-- > 0;) {
    const Element& e = stack_[i];
    if (e.id == id) return true;
    if (e.ns == Ns::kHtml && (kTagFlags[e.tag] & kScopeBoundary) != 0) return false;
    if (e.ns == Ns::kMathMl && IsOneOf(e.tag, {kMi, kMo, kMn, kMs, kMtext, kAnnotationXml})) {
      return false;
    }
    if (e.ns == Ns::kSvg && IsOneOf(e.tag, {kForeignObject, kDesc, kTitle})) return false;
  }
  return false;
}

bool TreeBuilder::AnyHeadingInScope() const {
  for (std::uint16_t h : {kH1, kH2, kH3, kH4, kH5, kH6}) {
    if (InScope(h)) return true;
  }
  return false;
}

void TreeBuilder::GenerateImpliedEndTags(std::uint16_t except) {
  while (!stack_.empty() && stack_.back().ns == Ns::kHtml &&
         (kTagFlags[stack_.back().tag] & kImpliedEnd) != 0 && stack_.back().tag != except) {
    Pop();
  }
}

void TreeBuilder::GenerateAllImpliedEndTagsThoroughly() {
  while (CurrentIsOneOf({kCaption, kColgroup, kDd, kDt, kLi, kOptgroup, kOption, kP, kRb, kRp,
                         kRt, kRtc, kTbody, kTd, kTfoot, kTh, kThead, kTr})) {
    Pop();
  }
}

void TreeBuilder::CloseP() {
  GenerateImpliedEndTags(kP);
  PopUntil(kP);
}

void TreeBuilder::ClearStackBackTo(std::initializer_list<std::uint16_t> tags) {
  while (!stack_.empty() && !CurrentIsOneOf(tags)) Pop();
}

void TreeBuilder::CloseCell() {
  GenerateImpliedEndTags();
  PopUntilOneOf({kTd, kTh});
  ClearFormattingToMarker();
  mode_ = Mode::kInRow;
}

void TreeBuilder::ResetInsertionMode() {
  for (std::size_t i = stack_.size(); i-- > 0;) {
    const Element& node = stack_[i];
    const bool last = i == 0;
    if (node.ns != Ns::kHtml) continue;
    switch (node.tag) {
      case kSelect:
        if (!last) {
          for (std::size_t j = i; j-- > 0;) {
            const Element& ancestor = stack_[j];
            if (ancestor.ns != Ns::kHtml) continue;
            if (ancestor.tag == kTemplate) break;
            if (ancestor.tag == kTable) {
              mode_ = Mode::kInSelectInTable;
              return;
            }
          }
        }
        mode_ = Mode::kInSelect;
        return;
      case kTd: case kTh:
        if (!last) {
          mode_ = Mode::kInCell;
          return;
        }
        break;
      case kTr: mode_ = Mode::kInRow; return;
      case kTbody: case kThead: case kTfoot: mode_ = Mode::kInTableBody; return;
      case kCaption: mode_ = Mode::kInCaption; return;
      case kColgroup: mode_ = Mode::kInColumnGroup; return;
      case kTable: mode_ = Mode::kInTable; return;
      case kTemplate:
        mode_ = template_modes_.empty() ? Mode::kInBody : template_modes_.back();
        return;
      case kHead:
        if (!last) {
          mode_ = Mode::kInHead;
          return;
        }
        break;
      case kBody: mode_ = Mode::kInBody; return;
      case kFrameset: mode_ = Mode::kInFrameset; return;
      case kHtml: mode_ = head_id_ == 0 ? Mode::kBeforeHead : Mode::kAfterHead; return;
      default: break;
    }
    if (last) {
      mode_ = Mode::kInBody;
      return;
    }
  }
  mode_ = Mode::kInBody;
}

// ---- the list of active formatting elements ----------------------------------

void TreeBuilder::PushFormatting(const Token& t) {
  Insert(t);
  // No more than three of the same element after the last marker: the
  // earliest goes. The attributes are compared only when three share the tag.
  std::size_t count = 0;
  for (std::size_t i = formatting_.size(); i-- > 0 && count < 3;) {
    if (formatting_[i].id == 0) break;
    if (formatting_[i].tag == t.tag) ++count;
  }
  if (count == 3) {
    const std::uint64_t digest = AttributeDigest(t.attributes);
    std::size_t matching = 0, earliest = 0;
    for (std::size_t i = formatting_.size(); i-- > 0;) {
      const Formatting& f = formatting_[i];
      if (f.id == 0) break;
      if (f.tag == t.tag && AttributeDigest(f.attributes) == digest) {
        ++matching;
        earliest = i;
      }
    }
    if (matching >= 3) {
      formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(earliest));
    }
  }
  formatting_.push_back({stack_.back().id, t.tag, t.attributes});
}

bool TreeBuilder::ReconstructionPending() const {
  if (formatting_.empty()) return false;
  const Formatting& last = formatting_.back();
  return last.id != 0 && !IdOnStack(last.id);
}

void TreeBuilder::ReconstructFormatting() {
  if (!ReconstructionPending()) return;
  std::size_t i = formatting_.size() - 1;
  while (i > 0) {
    const Formatting& before = formatting_[i - 1];
    if (before.id == 0 || IdOnStack(before.id)) break;
    --i;
  }
  for (; i < formatting_.size(); ++i) {
    Formatting& f = formatting_[i];
    Push(f.tag, Ns::kHtml, kTagNames[f.tag]);
    f.id = stack_.back().id;
  }
}

void TreeBuilder::ClearFormattingToMarker() {
  while (!formatting_.empty()) {
    bool marker = formatting_.back().id == 0;
    formatting_.pop_back();
    if (marker) return;
  }
}

void TreeBuilder::RemoveFormatting(std::uint32_t id) {
  for (std::size_t i = formatting_.size(); i-- > 0;) {
    if (formatting_[i].id == id) {
      formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

int TreeBuilder::FormattingIndexAfterMarker(std::uint16_t tag) const {
  for (std::size_t i = formatting_.size(); i-- > 0;) {
    if (formatting_[i].id == 0) return -1;
    if (formatting_[i].tag == tag) return static_cast<int>(i);
  }
  return -1;
}

// The adoption agency algorithm, on the stack and the list alone.
bool TreeBuilder::AdoptionAgency(const Token& t) {
  if (CurrentIs(t.tag)) {
    bool listed = false;
    for (const Formatting& f : formatting_) listed |= f.id == Current().id;
    if (!listed) {
      Pop();
      return true;
    }
  }
  for (int outer = 0; outer < 8; ++outer) {
    const int found = FormattingIndexAfterMarker(t.tag);
    if (found < 0) return false;
    const std::uint32_t formatting_id = formatting_[static_cast<std::size_t>(found)].id;
    std::size_t fs = stack_.size();
    for (std::size_t i = stack_.size(); i-- > 0;) {
      if (stack_[i].id == formatting_id) {
        fs = i;
        break;
      }
    }
    if (fs == stack_.size()) {
      formatting_.erase(formatting_.begin() + found);
      return true;
    }
    if (!IdInScope(formatting_id)) return true;
    std::size_t furthest = stack_.size();
    for (std::size_t i = fs + 1; i < stack_.size(); ++i) {
      if (Special(stack_[i])) {
        furthest = i;
        break;
      }
    }
    if (furthest == stack_.size()) {
      stack_.resize(fs);
      formatting_.erase(formatting_.begin() + found);
      return true;
    }
    // The bookmark: where the formatting element's new element goes in the list.
    std::size_t bookmark = static_cast<std::size_t>(found);
    std::size_t node = furthest;
    std::size_t last_node = furthest;
    for (int inner = 1;; ++inner) {
      --node;
      if (stack_[node].id == formatting_id) break;
      int listed = -1;
      for (std::size_t k = 0; k < formatting_.size(); ++k) {
        if (formatting_[k].id == stack_[node].id) listed = static_cast<int>(k);
      }
      if (inner > 3 && listed >= 0) {
        formatting_.erase(formatting_.begin() + listed);
        if (static_cast<std::size_t>(listed) < bookmark) --bookmark;
        listed = -1;
      }
      if (listed < 0) {
        stack_.erase(node);
        --furthest;
        --last_node;
        continue;
      }
      // A new element for the node, in the list and on the stack.
      const std::uint32_t id = next_id_++;
      formatting_[static_cast<std::size_t>(listed)].id = id;
      stack_.set_id(node, id);
      if (last_node == furthest) bookmark = static_cast<std::size_t>(listed) + 1;
      last_node = node;
    }
    // The furthest block gets a new formatting element, which takes the old
    // one's place in the list at the bookmark, and goes on the stack right
    // after the furthest block.
    std::size_t fi = 0;
    while (formatting_[fi].id != formatting_id) ++fi;
    Formatting clone = formatting_[fi];
    clone.id = next_id_++;
    formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(fi));
    if (bookmark > fi) --bookmark;
    formatting_.insert(formatting_.begin() + static_cast<std::ptrdiff_t>(bookmark), clone);
    Element element{clone.tag, Ns::kHtml, false, clone.id, kTagNames[clone.tag]};
    stack_.erase(fs);
    --furthest;
    stack_.insert(furthest + 1, element);
  }
  return true;
}

// "Any other end tag" in body.
void TreeBuilder::AnyOtherEndTag(const Token& t) {
  for (std::size_t i = stack_.size(); i-- > 0;) {
    const Element& node = stack_[i];
    const bool same = node.ns == Ns::kHtml &&
                      (t.tag != kOther ? node.tag == t.tag
                                       : node.tag == kOther && EqualsIgnoringCase(node.name, t.name));
    if (same) {
      // Implied end tags above it go, then it and all above it.
      stack_.resize(i + 1);
      Pop();
      return;
    }
    if (Special(node)) return;
  }
}

void TreeBuilder::RawText(const Token& t, TextState state) {
  Insert(t);
  text_state_ = state;
  original_mode_ = mode_;
  mode_ = Mode::kText;
}

// ---- the insertion modes ----------------------------------------------------
//
// Each returns true when the token is done, false to process it again in the
// (new) current mode. Only what changes the stack, the list, the mode or the
// flags is kept of the rules; where a rule only builds the tree it is left out.

namespace {

// The public identifiers whose prefix puts a document in quirks mode.
constexpr std::string_view kQuirkyPublicPrefixes[] = {
    "+//silmaril//dtd html pro v0r11 19970101//",
    "-//advasoft ltd//dtd html 3.0 aswedit + extensions//",
    "-//as//dtd html 3.0 aswedit + extensions//",
    "-//ietf//dtd html 2.0 level 1//",
    "-//ietf//dtd html 2.0 level 2//",
    "-//ietf//dtd html 2.0 strict level 1//",
    "-//ietf//dtd html 2.0 strict level 2//",
    "-//ietf//dtd html 2.0 strict//",
    "-//ietf//dtd html 2.0//",
    "-//ietf//dtd html 2.1e//",
    "-//ietf//dtd html 3.0//",
    "-//ietf//dtd html 3.2 final//",
    "-//ietf//dtd html 3.2//",
    "-//ietf//dtd html 3//",
    "-//ietf//dtd html level 0//",
    "-//ietf//dtd html level 1//",
    "-//ietf//dtd html level 2//",
    "-//ietf//dtd html level 3//",
    "-//ietf//dtd html strict level 0//",
    "-//ietf//dtd html strict level 1//",
    "-//ietf//dtd html strict level 2//",
    "-//ietf//dtd html strict level 3//",
    "-//ietf//dtd html strict//",
    "-//ietf//dtd html//",
    "-//metrius//dtd metrius presentational//",
    "-//microsoft//dtd internet explorer 2.0 html strict//",
    "-//microsoft//dtd internet explorer 2.0 html//",
    "-//microsoft//dtd internet explorer 2.0 tables//",
    "-//microsoft//dtd internet explorer 3.0 html strict//",
    "-//microsoft//dtd internet explorer 3.0 html//",
    "-//microsoft//dtd internet explorer 3.0 tables//",
    "-//netscape comm. corp.//dtd html//",
    "-//netscape comm. corp.//dtd strict html//",
    "-//o'reilly and associates//dtd html 2.0//",
    "-//o'reilly and associates//dtd html extended 1.0//",
    "-//o'reilly and associates//dtd html extended relaxed 1.0//",
    "-//softquad software//dtd hotmetal pro 6.0::19990601::extensions to html 4.0//",
    "-//softquad//dtd hotmetal pro 4.0::19971010::extensions to html 4.0//",
    "-//spyglass//dtd html 2.0 extended//",
    "-//sq//dtd html 2.0 hotmetal + extensions//",
    "-//sun microsystems corp.//dtd hotjava html//",
    "-//sun microsystems corp.//dtd hotjava strict html//",
    "-//w3c//dtd html 3 1995-03-24//",
    "-//w3c//dtd html 3.2 draft//",
    "-//w3c//dtd html 3.2 final//",
    "-//w3c//dtd html 3.2//",
    "-//w3c//dtd html 3.2s draft//",
    "-//w3c//dtd html 4.0 frameset//",
    "-//w3c//dtd html 4.0 transitional//",
    "-//w3c//dtd html experimental 19960712//",
    "-//w3c//dtd html experimental 970421//",
    "-//w3c//dtd w3 html//",
    "-//w3o//dtd w3 html 3.0//",
    "-//webtechs//dtd mozilla html 2.0//",
    "-//webtechs//dtd mozilla html//",
};

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool QuirkyDoctype(const DoctypeToken& d) {
  if (d.force_quirks || !EqualsIgnoringCase(d.name, "html")) return true;
  if (d.has_public) {
    if (EqualsIgnoringCase(d.public_id, "-//W3O//DTD W3 HTML Strict 3.0//EN//") ||
        EqualsIgnoringCase(d.public_id, "-/W3C/DTD HTML 4.0 Transitional/EN") ||
        EqualsIgnoringCase(d.public_id, "HTML")) {
      return true;
    }
    for (std::string_view prefix : kQuirkyPublicPrefixes) {
      if (StartsWithIgnoringCase(d.public_id, prefix)) return true;
    }
    if (!d.has_system && (StartsWithIgnoringCase(d.public_id, "-//W3C//DTD HTML 4.01 Frameset//") ||
                          StartsWithIgnoringCase(d.public_id,
                                                 "-//W3C//DTD HTML 4.01 Transitional//"))) {
      return true;
    }
  }
  return d.has_system &&
         EqualsIgnoringCase(d.system_id, "http://www.ibm.com/data/dtd/v11/ibmxhtml1-transitional.dtd");
}

// Leading whitespace of a character token, and what follows it.
std::size_t LeadingSpace(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsHtmlSpace(text[i])) ++i;
  return i;
}

}  // namespace

bool TreeBuilder::InitialMode(Token& t) {
  if (t.kind == Token::kCharacters) {
    t.text.remove_prefix(LeadingSpace(t.text));
    if (t.text.empty()) return true;
  } else if (t.kind == Token::kDoctype) {
    quirks_ = QuirkyDoctype(*t.doctype);
    mode_ = Mode::kBeforeHtml;
    return true;
  }
  quirks_ = true;  // no declaration
  mode_ = Mode::kBeforeHtml;
  return false;
}

bool TreeBuilder::BeforeHtml(Token& t) {
  if (t.kind == Token::kDoctype) return true;
  if (t.kind == Token::kCharacters) {
    t.text.remove_prefix(LeadingSpace(t.text));
    if (t.text.empty()) return true;
  }
  if (t.Start(kHtml)) {
    Insert(t);
    mode_ = Mode::kBeforeHead;
    return true;
  }
  if (t.kind == Token::kEnd && !t.EndOneOf({kHead, kBody, kHtml, kBr})) return true;
  Push(kHtml, Ns::kHtml, "html");
  mode_ = Mode::kBeforeHead;
  return false;
}

bool TreeBuilder::BeforeHead(Token& t) {
  if (t.kind == Token::kCharacters) {
    t.text.remove_prefix(LeadingSpace(t.text));
    if (t.text.empty()) return true;
  }
  if (t.kind == Token::kDoctype) return true;
  if (t.Start(kHtml)) return InBody(t);
  if (t.Start(kHead)) {
    Insert(t);
    head_id_ = stack_.back().id;
    mode_ = Mode::kInHead;
    return true;
  }
  if (t.kind == Token::kEnd && !t.EndOneOf({kHead, kBody, kHtml, kBr})) return true;
  Push(kHead, Ns::kHtml, "head");
  head_id_ = stack_.back().id;
  mode_ = Mode::kInHead;
  return false;
}

bool TreeBuilder::InHead(Token& t) {
  if (t.kind == Token::kCharacters) {
    t.text.remove_prefix(LeadingSpace(t.text));
    if (t.text.empty()) return true;
  } else if (t.kind == Token::kDoctype) {
    return true;
  } else if (t.Start(kHtml)) {
    return InBody(t);
  } else if (t.StartOneOf({kBase, kBasefont, kBgsound, kLink, kMeta})) {
    Insert(t);
    Pop();
    return true;
  } else if (t.Start(kTitle)) {
    RawText(t, TextState::kRcdata);
    return true;
  } else if (t.StartOneOf({kNoframes, kStyle}) || t.Start(kNoscript)) {
    // Scripting is on: noscript is raw text.
    RawText(t, TextState::kRawtext);
    return true;
  } else if (t.Start(kScript)) {
    RawText(t, TextState::kScriptData);
    return true;
  } else if (t.End(kHead)) {
    Pop();
    mode_ = Mode::kAfterHead;
    return true;
  } else if (t.Start(kTemplate)) {
    Insert(t);
    formatting_.push_back({0, 0, {}});
    frameset_ok_ = false;
    mode_ = Mode::kInTemplate;
    template_modes_.push_back(Mode::kInTemplate);
    return true;
  } else if (t.End(kTemplate)) {
    if (!OnStack(kTemplate)) return true;
    GenerateAllImpliedEndTagsThoroughly();
    PopUntil(kTemplate);
    ClearFormattingToMarker();
    if (!template_modes_.empty()) template_modes_.pop_back();
    ResetInsertionMode();
    return true;
  } else if (t.Start(kHead) || (t.kind == Token::kEnd && !t.EndOneOf({kBody, kHtml, kBr}))) {
    return true;
  }
  Pop();  // the head
  mode_ = Mode::kAfterHead;
  return false;
}

bool TreeBuilder::InHeadNoscript(Token& t) {
  // Only without scripting; kept for the reset of the mode.
  if (t.End(kNoscript)) {
    Pop();
    mode_ = Mode::kInHead;
    return true;
  }
  Pop();
  mode_ = Mode::kInHead;
  return false;
}

bool TreeBuilder::AfterHead(Token& t) {
  if (t.kind == Token::kCharacters) {
    t.text.remove_prefix(LeadingSpace(t.text));
    if (t.text.empty()) return true;
  } else if (t.kind == Token::kDoctype) {
    return true;
  } else if (t.Start(kHtml)) {
    return InBody(t);
  } else if (t.Start(kBody)) {
    Insert(t);
    frameset_ok_ = false;
    mode_ = Mode::kInBody;
    return true;
  } else if (t.Start(kFrameset)) {
    Insert(t);
    mode_ = Mode::kInFrameset;
    return true;
  } else if (t.StartOneOf({kBase, kBasefont, kBgsound, kLink, kMeta, kNoframes, kScript, kStyle,
                           kTemplate, kTitle})) {
    // In the head again for the token; the head goes off the stack after.
    std::size_t at = stack_.size();
    stack_.push_back({kHead, Ns::kHtml, false, head_id_, "head"});
    Mode before = mode_;
    InHead(t);
    // A raw-text element stays open above the head until its end tag.
    for (std::size_t i = stack_.size(); i-- > 0;) {
      if (stack_[i].id == head_id_ && i >= at) {
        stack_.erase(i);
        break;
      }
    }
    if (mode_ == Mode::kText) original_mode_ = before;
    return true;
  } else if (t.End(kTemplate)) {
    return InHead(t);
  } else if (t.Start(kHead) || (t.kind == Token::kEnd && !t.EndOneOf({kBody, kHtml, kBr}))) {
    return true;
  }
  Push(kBody, Ns::kHtml, "body");
  mode_ = Mode::kInBody;
  return false;
}

bool TreeBuilder::TextMode(Token& t) {
  // Only the end tag of the raw text ends it (or the end of the page).
  if (t.kind == Token::kEnd) {
    Pop();
    mode_ = original_mode_;
  }
  return true;
}

bool TreeBuilder::InBody(Token& t) {
  switch (t.kind) {
    case Token::kCharacters: {
      // NULs are ignored; anything else rebuilds the formatting elements, and
      // anything but whitespace ends the frameset's chance.
      const std::size_t n = t.text.size();
      std::size_t i = 0;
      while (i < n && t.text[i] == '\0') ++i;
      if (i == n) return true;
      ReconstructFormatting();
      for (; frameset_ok_ && i < n; ++i) {
        if (t.text[i] != '\0' && !IsHtmlSpace(t.text[i])) frameset_ok_ = false;
      }
      return true;
    }
    case Token::kDoctype:
      return true;
    case Token::kStart:
      return InBodyStart(t);
    case Token::kEnd:
      return InBodyEnd(t);
  }
  return true;
}

bool TreeBuilder::InBodyStart(Token& t) {
  switch (t.tag) {
    case kHtml:
      return true;  // its attributes join the root's
    case kBase: case kBasefont: case kBgsound: case kLink: case kMeta: case kNoframes:
    case kScript: case kStyle: case kTemplate: case kTitle:
      return InHead(t);
    case kBody:
      if (stack_.size() >= 2 && stack_[1].tag == kBody && !OnStack(kTemplate)) frameset_ok_ = false;
      return true;
    case kFrameset:
      if (stack_.size() < 2 || stack_[1].tag != kBody || !frameset_ok_) return true;
      stack_.resize(1);
      Insert(t);
      mode_ = Mode::kInFrameset;
      return true;
    case kAddress: case kArticle: case kAside: case kBlockquote: case kCenter: case kDetails:
    case kDialog: case kDir: case kDiv: case kDl: case kFieldset: case kFigcaption: case kFigure:
    case kFooter: case kHeader: case kHgroup: case kMain: case kMenu: case kNav: case kOl: case kP:
    case kSearch: case kSection: case kSummary: case kUl:
      if (InScope(kP, Scope::kButton)) CloseP();
      Insert(t);
      return true;
    case kH1: case kH2: case kH3: case kH4: case kH5: case kH6:
      if (InScope(kP, Scope::kButton)) CloseP();
      if (CurrentIsOneOf({kH1, kH2, kH3, kH4, kH5, kH6})) Pop();
      Insert(t);
      return true;
    case kPre: case kListing:
      if (InScope(kP, Scope::kButton)) CloseP();
      Insert(t);
      frameset_ok_ = false;
      return true;
    case kForm:
      if (form_id_ != 0 && !OnStack(kTemplate)) return true;
      if (InScope(kP, Scope::kButton)) CloseP();
      Insert(t);
      if (!OnStack(kTemplate)) form_id_ = stack_.back().id;
      return true;
    case kLi: case kDd: case kDt: {
      frameset_ok_ = false;
      for (std::size_t i = stack_.size(); i-- > 0;) {
        const Element& node = stack_[i];
        const bool html = node.ns == Ns::kHtml;
        if (html && (t.tag == kLi ? node.tag == kLi : IsOneOf(node.tag, {kDd, kDt}))) {
          const std::uint16_t tag = node.tag;
          GenerateImpliedEndTags(tag);
          PopUntil(tag);
          break;
        }
        if (Special(node) && !(html && IsOneOf(node.tag, {kAddress, kDiv, kP}))) break;
      }
      if (InScope(kP, Scope::kButton)) CloseP();
      Insert(t);
      return true;
    }
    case kPlaintext:
      if (InScope(kP, Scope::kButton)) CloseP();
      Insert(t);
      text_state_ = TextState::kPlaintext;
      return true;
    case kButton:
      if (InScope(kButton)) {
        GenerateImpliedEndTags();
        PopUntil(kButton);
      }
      ReconstructFormatting();
      Insert(t);
      frameset_ok_ = false;
      return true;
    case kA: {
      int at = FormattingIndexAfterMarker(kA);
      if (at >= 0) {
        const std::uint32_t id = formatting_[static_cast<std::size_t>(at)].id;
        Token end(Token::kEnd);
        end.tag = kA;
        end.name = "a";
        if (!AdoptionAgency(end)) AnyOtherEndTag(end);
        RemoveFormatting(id);
        RemoveFromStack(id);
      }
      ReconstructFormatting();
      PushFormatting(t);
      return true;
    }
    case kB: case kBig: case kCode: case kEm: case kFont: case kI: case kS: case kSmall:
    case kStrike: case kStrong: case kTt: case kU:
      ReconstructFormatting();
      PushFormatting(t);
      return true;
    case kNobr:
      ReconstructFormatting();
      if (InScope(kNobr)) {
        Token end(Token::kEnd);
        end.tag = kNobr;
        end.name = "nobr";
        if (!AdoptionAgency(end)) AnyOtherEndTag(end);
        ReconstructFormatting();
      }
      PushFormatting(t);
      return true;
    case kApplet: case kMarquee: case kObject:
      ReconstructFormatting();
      Insert(t);
      formatting_.push_back({0, 0, {}});
      frameset_ok_ = false;
      return true;
    case kTable:
      if (!quirks_ && InScope(kP, Scope::kButton)) CloseP();
      Insert(t);
      frameset_ok_ = false;
      mode_ = Mode::kInTable;
      return true;
    case kArea: case kBr: case kEmbed: case kImg: case kKeygen: case kWbr: case kImage:
      ReconstructFormatting();
      Insert(t);
      Pop();
      frameset_ok_ = false;
      return true;
    case kInput:
      ReconstructFormatting();
      Insert(t);
      Pop();
      if (!EqualsIgnoringCase(AttributeValue(t.attributes, "type"), "hidden")) frameset_ok_ = false;
      return true;
    case kParam: case kSource: case kTrack:
      Insert(t);
      Pop();
      return true;
    case kHr:
      if (InScope(kP, Scope::kButton)) CloseP();
      Insert(t);
      Pop();
      frameset_ok_ = false;
      return true;
    case kTextarea:
      frameset_ok_ = false;
      RawText(t, TextState::kRcdata);
      return true;
    case kXmp:
      if (InScope(kP, Scope::kButton)) CloseP();
      ReconstructFormatting();
      frameset_ok_ = false;
      RawText(t, TextState::kRawtext);
      return true;
    case kIframe:
      frameset_ok_ = false;
      RawText(t, TextState::kRawtext);
      return true;
    case kNoembed: case kNoscript:
      RawText(t, TextState::kRawtext);
      return true;
    case kSelect:
      ReconstructFormatting();
      Insert(t);
      frameset_ok_ = false;
      mode_ = (mode_ == Mode::kInTable || mode_ == Mode::kInCaption ||
               mode_ == Mode::kInTableBody || mode_ == Mode::kInRow || mode_ == Mode::kInCell)
                  ? Mode::kInSelectInTable
                  : Mode::kInSelect;
      return true;
    case kOptgroup: case kOption:
      if (CurrentIs(kOption)) Pop();
      ReconstructFormatting();
      Insert(t);
      return true;
    case kRb: case kRtc:
      if (InScope(kRuby)) GenerateImpliedEndTags();
      Insert(t);
      return true;
    case kRp: case kRt:
      if (InScope(kRuby)) GenerateImpliedEndTags(kRtc);
      Insert(t);
      return true;
    case kMath: case kSvg:
      ReconstructFormatting();
      InsertForeign(t, t.tag == kMath ? Ns::kMathMl : Ns::kSvg);
      if (t.self_closing) Pop();
      return true;
    case kCaption: case kCol: case kColgroup: case kFrame: case kHead: case kTbody: case kTd:
    case kTfoot: case kTh: case kThead: case kTr:
      return true;
    default:
      ReconstructFormatting();
      Insert(t);
      return true;
  }
}

bool TreeBuilder::InBodyEnd(Token& t) {
  switch (t.tag) {
    case kTemplate:
      return InHead(t);
    case kBody:
      if (InScope(kBody)) mode_ = Mode::kAfterBody;
      return true;
    case kHtml:
      if (!InScope(kBody)) return true;
      mode_ = Mode::kAfterBody;
      return false;
    case kAddress: case kArticle: case kAside: case kBlockquote: case kButton: case kCenter:
    case kDetails: case kDialog: case kDir: case kDiv: case kDl: case kFieldset: case kFigcaption:
    case kFigure: case kFooter: case kHeader: case kHgroup: case kListing: case kMain: case kMenu:
    case kNav: case kOl: case kPre: case kSearch: case kSection: case kSummary: case kUl:
      if (!InScope(t.tag)) return true;
      GenerateImpliedEndTags();
      PopUntil(t.tag);
      return true;
    case kForm:
      if (!OnStack(kTemplate)) {
        const std::uint32_t node = form_id_;
        form_id_ = 0;
        if (node == 0 || !IdInScope(node)) return true;
        GenerateImpliedEndTags();
        RemoveFromStack(node);
      } else {
        if (!InScope(kForm)) return true;
        GenerateImpliedEndTags();
        PopUntil(kForm);
      }
      return true;
    case kP:
      if (!InScope(kP, Scope::kButton)) Push(kP, Ns::kHtml, "p");
      CloseP();
      return true;
    case kLi:
      if (!InScope(kLi, Scope::kListItem)) return true;
      GenerateImpliedEndTags(kLi);
      PopUntil(kLi);
      return true;
    case kDd: case kDt:
      if (!InScope(t.tag)) return true;
      GenerateImpliedEndTags(t.tag);
      PopUntil(t.tag);
      return true;
    case kH1: case kH2: case kH3: case kH4: case kH5: case kH6:
      if (!AnyHeadingInScope()) return true;
      GenerateImpliedEndTags();
      PopUntilOneOf({kH1, kH2, kH3, kH4, kH5, kH6});
      return true;
    case kA: case kB: case kBig: case kCode: case kEm: case kFont: case kI: case kNobr: case kS:
    case kSmall: case kStrike: case kStrong: case kTt: case kU:
      if (!AdoptionAgency(t)) AnyOtherEndTag(t);
      return true;
    case kApplet: case kMarquee: case kObject:
      if (!InScope(t.tag)) return true;
      GenerateImpliedEndTags();
      PopUntil(t.tag);
      ClearFormattingToMarker();
      return true;
    case kBr: {
      Token start(Token::kStart);
      start.tag = kBr;
      start.name = "br";
      return InBodyStart(start);
    }
    default:
      AnyOtherEndTag(t);
      return true;
  }
}

bool TreeBuilder::InTable(Token& t) {
  if (t.kind == Token::kCharacters) {
    if (CurrentIsOneOf({kTable, kTbody, kTemplate, kTfoot, kThead, kTr})) {
      table_text_return_ = mode_;
      table_text_other_ = false;
      mode_ = Mode::kInTableText;
      return false;
    }
  } else if (t.kind == Token::kDoctype) {
    return true;
  } else if (t.Start(kCaption)) {
    ClearStackBackTo({kTable, kTemplate, kHtml});
    formatting_.push_back({0, 0, {}});
    Insert(t);
    mode_ = Mode::kInCaption;
    return true;
  } else if (t.Start(kColgroup)) {
    ClearStackBackTo({kTable, kTemplate, kHtml});
    Insert(t);
    mode_ = Mode::kInColumnGroup;
    return true;
  } else if (t.Start(kCol)) {
    ClearStackBackTo({kTable, kTemplate, kHtml});
    Push(kColgroup, Ns::kHtml, "colgroup");
    mode_ = Mode::kInColumnGroup;
    return false;
  } else if (t.StartOneOf({kTbody, kTfoot, kThead})) {
    ClearStackBackTo({kTable, kTemplate, kHtml});
    Insert(t);
    mode_ = Mode::kInTableBody;
    return true;
  } else if (t.StartOneOf({kTd, kTh, kTr})) {
    ClearStackBackTo({kTable, kTemplate, kHtml});
    Push(kTbody, Ns::kHtml, "tbody");
    mode_ = Mode::kInTableBody;
    return false;
  } else if (t.Start(kTable)) {
    if (!InScope(kTable, Scope::kTable)) return true;
    PopUntil(kTable);
    ResetInsertionMode();
    return false;
  } else if (t.End(kTable)) {
    if (!InScope(kTable, Scope::kTable)) return true;
    PopUntil(kTable);
    ResetInsertionMode();
    return true;
  } else if (t.EndOneOf({kBody, kCaption, kCol, kColgroup, kHtml, kTbody, kTd, kTfoot, kTh,
                         kThead, kTr})) {
    return true;
  } else if (t.StartOneOf({kStyle, kScript, kTemplate}) || t.End(kTemplate)) {
    return InHead(t);
  } else if (t.Start(kInput) &&
             EqualsIgnoringCase(AttributeValue(t.attributes, "type"), "hidden")) {
    Insert(t);
    Pop();
    return true;
  } else if (t.Start(kForm)) {
    if (OnStack(kTemplate) || form_id_ != 0) return true;
    Insert(t);
    form_id_ = stack_.back().id;
    Pop();
    return true;
  }
  // Anything else: as in body, with foster parenting, which moves where
  // elements go in the tree but not how they stand on the stack.
  return InBody(t);
}

bool TreeBuilder::InTableText(Token& t) {
  if (t.kind == Token::kCharacters) {
    for (char c : t.text) table_text_other_ |= c != '\0' && !IsHtmlSpace(c);
    return true;
  }
  if (table_text_other_) {
    // Foster-parented text, by the rules of "in body".
    ReconstructFormatting();
    frameset_ok_ = false;
  }
  table_text_other_ = false;
  mode_ = table_text_return_;
  return false;
}

bool TreeBuilder::InCaption(Token& t) {
  if (t.End(kCaption) || t.StartOneOf({kCaption, kCol, kColgroup, kTbody, kTd, kTfoot, kTh,
                                       kThead, kTr}) ||
      t.End(kTable)) {
    if (!InScope(kCaption, Scope::kTable)) return true;
    GenerateImpliedEndTags();
    PopUntil(kCaption);
    ClearFormattingToMarker();
    mode_ = Mode::kInTable;
    return t.End(kCaption);
  }
  if (t.EndOneOf({kBody, kCol, kColgroup, kHtml, kTbody, kTd, kTfoot, kTh, kThead, kTr})) {
    return true;
  }
  return InBody(t);
}

bool TreeBuilder::InColumnGroup(Token& t) {
  if (t.kind == Token::kCharacters) {
    t.text.remove_prefix(LeadingSpace(t.text));
    if (t.text.empty()) return true;
  } else if (t.kind == Token::kDoctype) {
    return true;
  } else if (t.Start(kHtml)) {
    return InBody(t);
  } else if (t.Start(kCol)) {
    Insert(t);
    Pop();
    return true;
  } else if (t.End(kColgroup)) {
    if (CurrentIs(kColgroup)) {
      Pop();
      mode_ = Mode::kInTable;
    }
    return true;
  } else if (t.End(kCol)) {
    return true;
  } else if (t.StartOneOf({kTemplate}) || t.End(kTemplate)) {
    return InHead(t);
  }
  if (!CurrentIs(kColgroup)) return true;
  Pop();
  mode_ = Mode::kInTable;
  return false;
}

bool TreeBuilder::InTableBody(Token& t) {
  if (t.Start(kTr)) {
    ClearStackBackTo({kTbody, kTfoot, kThead, kTemplate, kHtml});
    Insert(t);
    mode_ = Mode::kInRow;
    return true;
  }
  if (t.StartOneOf({kTh, kTd})) {
    ClearStackBackTo({kTbody, kTfoot, kThead, kTemplate, kHtml});
    Push(kTr, Ns::kHtml, "tr");
    mode_ = Mode::kInRow;
    return false;
  }
  if (t.EndOneOf({kTbody, kTfoot, kThead})) {
    if (!InScope(t.tag, Scope::kTable)) return true;
    ClearStackBackTo({kTbody, kTfoot, kThead, kTemplate, kHtml});
    Pop();
    mode_ = Mode::kInTable;
    return true;
  }
  if (t.StartOneOf({kCaption, kCol, kColgroup, kTbody, kTfoot, kThead}) || t.End(kTable)) {
    if (!InScope(kTbody, Scope::kTable) && !InScope(kThead, Scope::kTable) &&
        !InScope(kTfoot, Scope::kTable)) {
      return true;
    }
    ClearStackBackTo({kTbody, kTfoot, kThead, kTemplate, kHtml});
    Pop();
    mode_ = Mode::kInTable;
    return false;
  }
  if (t.EndOneOf({kBody, kCaption, kCol, kColgroup, kHtml, kTd, kTh, kTr})) return true;
  return InTable(t);
}

bool TreeBuilder::InRow(Token& t) {
  if (t.StartOneOf({kTh, kTd})) {
    ClearStackBackTo({kTr, kTemplate, kHtml});
    Insert(t);
    mode_ = Mode::kInCell;
    formatting_.push_back({0, 0, {}});
    return true;
  }
  if (t.End(kTr)) {
    if (!InScope(kTr, Scope::kTable)) return true;
    ClearStackBackTo({kTr, kTemplate, kHtml});
    Pop();
    mode_ = Mode::kInTableBody;
    return true;
  }
  if (t.StartOneOf({kCaption, kCol, kColgroup, kTbody, kTfoot, kThead, kTr}) || t.End(kTable)) {
    if (!InScope(kTr, Scope::kTable)) return true;
    ClearStackBackTo({kTr, kTemplate, kHtml});
    Pop();
    mode_ = Mode::kInTableBody;
    return false;
  }
  if (t.EndOneOf({kTbody, kTfoot, kThead})) {
    if (!InScope(t.tag, Scope::kTable) || !InScope(kTr, Scope::kTable)) return true;
    ClearStackBackTo({kTr, kTemplate, kHtml});
    Pop();
    mode_ = Mode::kInTableBody;
    return false;
  }
  if (t.EndOneOf({kBody, kCaption, kCol, kColgroup, kHtml, kTd, kTh})) return true;
  return InTable(t);
}

bool TreeBuilder::InCell(Token& t) {
  if (t.EndOneOf({kTd, kTh})) {
    if (!InScope(t.tag, Scope::kTable)) return true;
    GenerateImpliedEndTags();
    PopUntil(t.tag);
    ClearFormattingToMarker();
    mode_ = Mode::kInRow;
    return true;
  }
  if (t.StartOneOf({kCaption, kCol, kColgroup, kTbody, kTd, kTfoot, kTh, kThead, kTr})) {
    if (!InScope(kTd, Scope::kTable) && !InScope(kTh, Scope::kTable)) return true;
    CloseCell();
    return false;
  }
  if (t.EndOneOf({kBody, kCaption, kCol, kColgroup, kHtml})) return true;
  if (t.EndOneOf({kTable, kTbody, kTfoot, kThead, kTr})) {
    if (!InScope(t.tag, Scope::kTable)) return true;
    CloseCell();
    return false;
  }
  return InBody(t);
}

bool TreeBuilder::InSelect(Token& t) {
  if (t.kind == Token::kCharacters || t.kind == Token::kDoctype) return true;
  if (t.Start(kHtml)) return InBody(t);
  if (t.Start(kOption)) {
    if (CurrentIs(kOption)) Pop();
    Insert(t);
    return true;
  }
  if (t.Start(kOptgroup)) {
    if (CurrentIs(kOption)) Pop();
    if (CurrentIs(kOptgroup)) Pop();
    Insert(t);
    return true;
  }
  if (t.Start(kHr)) {
    if (CurrentIs(kOption)) Pop();
    if (CurrentIs(kOptgroup)) Pop();
    Insert(t);
    Pop();
    return true;
  }
  if (t.End(kOptgroup)) {
    if (CurrentIs(kOption) && stack_.size() >= 2 && stack_[stack_.size() - 2].ns == Ns::kHtml &&
        stack_[stack_.size() - 2].tag == kOptgroup) {
      Pop();
    }
    if (CurrentIs(kOptgroup)) Pop();
    return true;
  }
  if (t.End(kOption)) {
    if (CurrentIs(kOption)) Pop();
    return true;
  }
  if (t.End(kSelect) || t.Start(kSelect)) {
    if (!InScope(kSelect, Scope::kSelect)) return true;
    PopUntil(kSelect);
    ResetInsertionMode();
    return true;
  }
  if (t.StartOneOf({kInput, kKeygen, kTextarea})) {
    if (!InScope(kSelect, Scope::kSelect)) return true;
    PopUntil(kSelect);
    ResetInsertionMode();
    return false;
  }
  if (t.StartOneOf({kScript, kTemplate}) || t.End(kTemplate)) return InHead(t);
  return true;  // ignored
}

bool TreeBuilder::InSelectInTable(Token& t) {
  const std::initializer_list<std::uint16_t> table_tags = {kCaption, kTable, kTbody, kTfoot,
                                                           kThead,   kTr,    kTd,    kTh};
  if (t.kind == Token::kStart && IsOneOf(t.tag, table_tags)) {
    PopUntil(kSelect);
    ResetInsertionMode();
    return false;
  }
  if (t.kind == Token::kEnd && IsOneOf(t.tag, table_tags)) {
    if (!InScope(t.tag, Scope::kTable)) return true;
    PopUntil(kSelect);
    ResetInsertionMode();
    return false;
  }
  return InSelect(t);
}

bool TreeBuilder::InTemplate(Token& t) {
  if (t.kind == Token::kCharacters || t.kind == Token::kDoctype) return InBody(t);
  if (t.StartOneOf({kBase, kBasefont, kBgsound, kLink, kMeta, kNoframes, kScript, kStyle,
                    kTemplate, kTitle}) ||
      t.End(kTemplate)) {
    return InHead(t);
  }
  if (t.kind == Token::kEnd) return true;
  Mode next = Mode::kInBody;
  if (t.StartOneOf({kCaption, kColgroup, kTbody, kTfoot, kThead})) next = Mode::kInTable;
  if (t.Start(kCol)) next = Mode::kInColumnGroup;
  if (t.Start(kTr)) next = Mode::kInTableBody;
  if (t.StartOneOf({kTd, kTh})) next = Mode::kInRow;
  if (!template_modes_.empty()) template_modes_.pop_back();
  template_modes_.push_back(next);
  mode_ = next;
  return false;
}

bool TreeBuilder::AfterBody(Token& t) {
  if (t.Whitespace() || t.Start(kHtml)) return InBody(t);
  if (t.kind == Token::kDoctype) return true;
  if (t.End(kHtml)) {
    mode_ = Mode::kAfterAfterBody;
    return true;
  }
  mode_ = Mode::kInBody;
  return false;
}

bool TreeBuilder::InFrameset(Token& t) {
  if (t.Start(kHtml)) return InBody(t);
  if (t.Start(kFrameset)) {
    Insert(t);
    return true;
  }
  if (t.End(kFrameset)) {
    if (CurrentIs(kHtml)) return true;
    Pop();
    if (!CurrentIs(kFrameset)) mode_ = Mode::kAfterFrameset;
    return true;
  }
  if (t.Start(kFrame)) {
    Insert(t);
    Pop();
    return true;
  }
  if (t.Start(kNoframes)) return InHead(t);
  return true;  // ignored
}

bool TreeBuilder::AfterFrameset(Token& t) {
  if (t.Start(kHtml)) return InBody(t);
  if (t.End(kHtml)) {
    mode_ = Mode::kAfterAfterFrameset;
    return true;
  }
  if (t.Start(kNoframes)) return InHead(t);
  return true;
}

bool TreeBuilder::AfterAfterBody(Token& t) {
  if (t.kind == Token::kDoctype || t.Whitespace() || t.Start(kHtml)) return InBody(t);
  mode_ = Mode::kInBody;
  return false;
}

bool TreeBuilder::AfterAfterFrameset(Token& t) {
  if (t.kind == Token::kDoctype || t.Whitespace() || t.Start(kHtml)) return InBody(t);
  if (t.Start(kNoframes)) return InHead(t);
  return true;
}

// The rules for foreign content. False: process with the HTML rules of the
// current mode.
bool TreeBuilder::ForeignContent(Token& t) {
  if (t.kind == Token::kCharacters) {
    for (char c : t.text) {
      if (c != '\0' && !IsHtmlSpace(c)) frameset_ok_ = false;
    }
    return true;
  }
  if (t.kind == Token::kStart) {
    const bool breakout =
        IsOneOf(t.tag, {kB, kBig, kBlockquote, kBody, kBr, kCenter, kCode, kDd, kDiv, kDl, kDt,
                        kEm, kEmbed, kH1, kH2, kH3, kH4, kH5, kH6, kHead, kHr, kI, kImg, kLi,
                        kListing, kMenu, kMeta, kNobr, kOl, kP, kPre, kRuby, kS, kSmall, kSpan,
                        kStrong, kStrike, kSub, kSup, kTable, kTt, kU, kUl, kVar}) ||
        (t.tag == kFont && [&] {
          bool color = false, face = false, size = false;
          AttributeValue(t.attributes, "color", &color);
          AttributeValue(t.attributes, "face", &face);
          AttributeValue(t.attributes, "size", &size);
          return color || face || size;
        }());
    if (breakout) {
      while (!stack_.empty()) {
        const Element& e = stack_.back();
        if (e.ns == Ns::kHtml || e.html_integration_point ||
            (e.ns == Ns::kMathMl && IsOneOf(e.tag, {kMi, kMo, kMn, kMs, kMtext}))) {
          break;
        }
        Pop();
      }
      return false;
    }
    InsertForeign(t, Current().ns);
    if (t.self_closing) Pop();
    return true;
  }
  if (t.EndOneOf({kBr, kP})) {
    // As a <p> start tag does: out to HTML content, then the HTML rules.
    // Parsers of older rules stay in the foreign content: no decoy can be
    // sure of its place on this page any more.
    foreign_left_by_end_tag_ = true;
    while (!stack_.empty()) {
      const Element& e = stack_.back();
      if (e.ns == Ns::kHtml || e.html_integration_point ||
          (e.ns == Ns::kMathMl && IsOneOf(e.tag, {kMi, kMo, kMn, kMs, kMtext}))) {
        break;
      }
      Pop();
    }
    return false;
  }
  if (t.kind == Token::kEnd) {
    for (std::size_t i = stack_.size(); i-- > 0;) {
      const Element& node = stack_[i];
      if (i == 0) return true;
      const bool same = t.tag != kOther ? node.tag == t.tag
                                        : node.tag == kOther && EqualsIgnoringCase(node.name, t.name);
      if (same) {
        stack_.resize(i);
        return true;
      }
      if (i > 0 && stack_[i - 1].ns == Ns::kHtml) {
        // The rest is the HTML rules' to judge.
        return false;
      }
    }
  }
  return true;
}

// ---- what the scanner asks ---------------------------------------------------

bool TreeBuilder::InForeignContent() const {
  const Element* adjusted = AdjustedCurrent();
  return adjusted != nullptr && adjusted->ns != Ns::kHtml;
}

bool TreeBuilder::InTemplateContents() const { return OnStack(kTemplate); }

bool TreeBuilder::DecoyFits(std::string_view tag, bool end_tag, bool frameset_follows) const {
  switch (mode_) {
    case Mode::kInBody: case Mode::kInCell: case Mode::kInCaption:
      break;
    case Mode::kInitial: case Mode::kBeforeHtml: case Mode::kBeforeHead: case Mode::kInHead:
    case Mode::kAfterHead:
      // Before the body, a start tag other than the head's own makes the body
      // and goes into it, as the decoy would: the same body either way. An end
      // tag there is ignored, or would land in the body the decoy made.
      if (end_tag || OnStack(kTemplate)) return false;
      return TagOf(tag) == kBr || !frameset_follows;
    default:
      // In a table's own structure (foster parenting), in a select (dropped,
      // its text shown), after the body, in a frameset, in raw text.
      return false;
  }
  if (stack_.empty() || Current().ns != Ns::kHtml || foreign_left_by_end_tag_) return false;
  // Foreign content, even behind an integration point.
  if (stack_.foreign_count() != 0) return false;
  for (std::uint16_t dropping : {kSelect, kOption, kOptgroup, kDatalist, kTemplate}) {
    if (OnStack(dropping)) return false;
  }
  // A formatting element that would be rebuilt around it would be a new
  // element of the page.
  if (ReconstructionPending()) return false;
  // Its text ends the chance of a later <frameset> to replace the body; a
  // <br> behind it ends it anyway.
  return !frameset_ok_ || !frameset_follows || (!end_tag && TagOf(tag) == kBr);
}

bool TreeBuilder::InProse() const {
  switch (mode_) {
    case Mode::kInBody: case Mode::kInCell: case Mode::kInCaption: break;
    default: return false;
  }
  // Text a formatting element is rebuilt around could be code.
  if (stack_.empty() || foreign_left_by_end_tag_ || ReconstructionPending()) return false;
  for (std::uint16_t tag : {kPre, kListing, kTextarea, kSelect, kOption, kOptgroup, kDatalist,
                            kTemplate, kCode, kKbd, kSamp, kXmp, kPlaintext, kTt}) {
    if (OnStack(tag)) return false;
  }
  return stack_.foreign_count() == 0;
}

void TreeBuilder::Process(Token& t) {
  // Each round changes the mode or the stack: a token is done in a few.
  for (int round = 0; round < 64; ++round) {
    if (UseForeignRules(t)) {
      if (ForeignContent(t)) return;
      // A breakout, or an end tag that reached HTML: the HTML rules of the
      // current mode, without asking again.
      if (ProcessInMode(mode_, t)) return;
      continue;
    }
    if (ProcessInMode(mode_, t)) return;
  }
}

}  // namespace vantoro::internal
