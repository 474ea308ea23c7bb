// A model of how a browser's tokenizer reads a page, written from the WHATWG
// tokenizer's state descriptions, one state and one character at a time, with
// nothing of the library: the tests check the scanner against it, and check
// with it that the passes leave attribute values, comments and raw text as they
// were.
//
// The tree builder is left out: a start tag switches the tokenizer by its name
// alone (title and textarea to RCDATA; style, xmp, iframe, noembed, noframes
// and noscript to RAWTEXT, scripting being on; script to script data; plaintext
// to PLAINTEXT), and "<![CDATA[" is a bogus comment. That is how a browser
// reads a page whose elements all stay plain HTML: no svg, math, select,
// frameset, template or table parts. Pages that hold those are the scanner's
// own examples in tests/regions_test.cpp.
#ifndef VANTORO_TESTS_HTML_MODEL_H_
#define VANTORO_TESTS_HTML_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantoro::testing {

// What the model reads, in the terms of src/html/protected_regions.h.
struct Markup {
  std::vector<std::size_t> unprotected;  // every "<" outside the regions
  std::vector<std::size_t> in_tag;       // those of them inside a tag
  std::vector<std::size_t> quotes;       // opening and closing quote of each quoted value
  std::vector<std::string> quoted_values;    // in order, without their quotes
  std::vector<std::string> unquoted_values;
  std::vector<std::size_t> unquoted;     // first and last byte of each unquoted value
  std::vector<std::string> comments;  // comment and bogus comment texts
  std::vector<std::string> doctypes;  // whole declarations, "<!" to ">"
  std::vector<std::string> raw_texts;  // RCDATA, RAWTEXT, script data, PLAINTEXT
  std::uint64_t states_seen = 0;       // bit k: the tokenizer was in state k
};

namespace model {

inline bool Space(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
inline bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline char LowerChar(char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); }
inline std::string Lower(std::string s) {
  for (char& c : s) c = LowerChar(c);
  return s;
}

enum class State {
  kData, kTagOpen, kEndTagOpen, kTagName,
  kBeforeAttributeName, kAttributeName, kAfterAttributeName, kBeforeAttributeValue,
  kDoubleQuoted, kSingleQuoted, kUnquoted, kAfterQuotedValue, kSelfClosingStartTag,
  kMarkupDeclarationOpen, kBogusComment, kDoctype,
  kCommentStart, kCommentStartDash, kComment, kCommentEndDash, kCommentEnd, kCommentEndBang,
  // RCDATA and RAWTEXT read alike here (character references change no position).
  kRawText, kRawTextLessThan, kRawTextEndTagOpen, kRawTextEndTagName,
  kScriptData, kScriptLessThan, kScriptEndTagOpen, kScriptEndTagName,
  kScriptEscapeStart, kScriptEscapeStartDash,
  kScriptEscaped, kScriptEscapedDash, kScriptEscapedDashDash, kScriptEscapedLessThan,
  kScriptEscapedEndTagOpen, kScriptEscapedEndTagName, kScriptDoubleEscapeStart,
  kScriptDoubleEscaped, kScriptDoubleEscapedDash, kScriptDoubleEscapedDashDash,
  kScriptDoubleEscapedLessThan, kScriptDoubleEscapeEnd,
  kPlaintext,
  kStates,  // how many there are
};
static_assert(static_cast<int>(State::kStates) <= 64, "one bit each in Markup::states_seen");

// What a start tag switches the tokenizer to, by its name.
inline State TextStateFor(const std::string& name) {
  if (name == "title" || name == "textarea" ||  // RCDATA
      name == "style" || name == "xmp" || name == "iframe" || name == "noembed" ||
      name == "noframes" || name == "noscript") {  // RAWTEXT
    return State::kRawText;
  }
  if (name == "script") return State::kScriptData;
  if (name == "plaintext") return State::kPlaintext;
  return State::kData;
}

class Tokenizer {
 public:
  explicit Tokenizer(const std::string& t) : t_(t) {}

  Markup Run() {
    // Each turn consumes t_[i_] in state s_, or, at the end, meets the end of
    // input there; "reconsume" turns leave i_ where it is.
    for (;;) {
      const bool eof = i_ >= t_.size();
      const char c = eof ? '\0' : t_[i_];
      m_.states_seen |= std::uint64_t{1} << static_cast<int>(s_);
      if (!Step(eof, c)) break;
    }
    return std::move(m_);
  }

 private:
  // One turn; false when the end of input has been handled.
  bool Step(bool eof, char c) {
    using S = State;
    switch (s_) {
      case S::kData:
        if (eof) return false;
        if (c == '<') {
          lt_ = i_;
          s_ = S::kTagOpen;
        }
        ++i_;
        return true;

      case S::kTagOpen:
        if (eof) {  // a lone "<" at the end is text
          m_.unprotected.push_back(lt_);
          return false;
        }
        if (c == '!') {
          s_ = S::kMarkupDeclarationOpen;
          ++i_;
        } else if (c == '/') {
          s_ = S::kEndTagOpen;
          ++i_;
        } else if (Letter(c)) {
          NewTag(false);
          s_ = S::kTagName;  // reconsume
        } else if (c == '?') {
          BeginBogusComment(i_);  // reconsume: the "?" is the comment's
        } else {  // "<" is text
          m_.unprotected.push_back(lt_);
          s_ = S::kData;  // reconsume
        }
        return true;

      case S::kEndTagOpen:
        if (eof) {  // "</" at the end is text
          m_.unprotected.push_back(lt_);
          return false;
        }
        if (Letter(c)) {
          NewTag(true);
          s_ = S::kTagName;  // reconsume
        } else if (c == '>') {  // "</>" is dropped: neither tag nor text
          s_ = S::kData;
          ++i_;
        } else {
          BeginBogusComment(i_);  // reconsume
        }
        return true;

      case S::kTagName:
        if (eof) {
          name_end_ = i_;
          return EndOfInputInTag();
        }
        if (Space(c)) {
          name_end_ = i_;
          s_ = S::kBeforeAttributeName;
        } else if (c == '/') {
          name_end_ = i_;
          s_ = S::kSelfClosingStartTag;
        } else if (c == '>') {
          name_end_ = i_;
          EmitTag();
        } else {
          InsideTag(c);
          name_ += LowerChar(c);
        }
        ++i_;
        return true;

      case S::kBeforeAttributeName:
        if (eof || c == '/' || c == '>') {
          s_ = S::kAfterAttributeName;  // reconsume
          return true;
        }
        if (Space(c)) {
          ++i_;
        } else if (c == '=') {  // "=" begins a name
          s_ = S::kAttributeName;
          ++i_;
        } else {
          s_ = S::kAttributeName;  // reconsume
        }
        return true;

      case S::kAttributeName:
        if (eof || Space(c) || c == '/' || c == '>') {
          s_ = S::kAfterAttributeName;  // reconsume
          return true;
        }
        if (c == '=') {
          s_ = S::kBeforeAttributeValue;
        } else {
          InsideTag(c);
        }
        ++i_;
        return true;

      case S::kAfterAttributeName:
        if (eof) return EndOfInputInTag();
        if (Space(c)) {
          ++i_;
        } else if (c == '/') {
          s_ = S::kSelfClosingStartTag;
          ++i_;
        } else if (c == '=') {
          s_ = S::kBeforeAttributeValue;
          ++i_;
        } else if (c == '>') {
          EmitTag();
          ++i_;
        } else {
          s_ = S::kAttributeName;  // a new attribute; reconsume
        }
        return true;

      case S::kBeforeAttributeValue:
        if (eof) return EndOfInputInTag();  // the value stays empty
        if (Space(c)) {
          ++i_;
        } else if (c == '"' || c == '\'') {
          s_ = c == '"' ? S::kDoubleQuoted : S::kSingleQuoted;
          value_start_ = i_;
          ++i_;
        } else if (c == '>') {  // a missing value
          EmitTag();
          ++i_;
        } else {
          s_ = S::kUnquoted;  // reconsume
          value_start_ = i_;
        }
        return true;

      case S::kDoubleQuoted:
      case S::kSingleQuoted:
        if (eof) {  // open to the end: the last byte stands for its closing quote
          quotes_.push_back(value_start_);
          quotes_.push_back(t_.size() - 1);
          quoted_.push_back(t_.substr(value_start_ + 1));
          return EndOfInputInTag();
        }
        if (c == (s_ == S::kDoubleQuoted ? '"' : '\'')) {
          quotes_.push_back(value_start_);
          quotes_.push_back(i_);
          quoted_.push_back(t_.substr(value_start_ + 1, i_ - value_start_ - 1));
          s_ = S::kAfterQuotedValue;
        }
        ++i_;
        return true;

      case S::kUnquoted:
        if (eof) {
          EndUnquoted();
          return EndOfInputInTag();
        }
        if (Space(c)) {
          EndUnquoted();
          s_ = S::kBeforeAttributeName;
        } else if (c == '>') {
          EndUnquoted();
          EmitTag();
        } else {
          InsideTag(c);
        }
        ++i_;
        return true;

      case S::kAfterQuotedValue:
        if (eof) return EndOfInputInTag();
        if (Space(c)) {
          s_ = S::kBeforeAttributeName;
          ++i_;
        } else if (c == '/') {
          s_ = S::kSelfClosingStartTag;
          ++i_;
        } else if (c == '>') {
          EmitTag();
          ++i_;
        } else {
          s_ = S::kBeforeAttributeName;  // no whitespace between: reconsume
        }
        return true;

      case S::kSelfClosingStartTag:
        if (eof) return EndOfInputInTag();
        if (c == '>') {
          EmitTag();
          ++i_;
        } else {
          s_ = S::kBeforeAttributeName;  // reconsume
        }
        return true;

      case S::kMarkupDeclarationOpen:
        // i_ stands behind "<!".
        if (t_.compare(i_, 2, "--") == 0) {
          i_ += 2;
          data_start_ = i_;
          s_ = S::kCommentStart;
        } else if (t_.size() - i_ >= 7 && Lower(t_.substr(i_, 7)) == "doctype") {
          // Every DOCTYPE state ends the token at ">" (inside quoted
          // identifiers too) or at the end: one state stands for them here.
          m_.unprotected.push_back(lt_);
          i_ += 7;
          s_ = S::kDoctype;
        } else if (t_.compare(i_, 7, "[CDATA[") == 0) {
          BeginBogusComment(i_);  // no foreign content: a comment "[CDATA[..."
          i_ += 7;
        } else {
          BeginBogusComment(i_);  // nothing consumed
        }
        return true;

      case S::kDoctype:
        if (eof) {
          m_.doctypes.push_back(t_.substr(lt_));
          return false;
        }
        if (c == '>') {
          m_.doctypes.push_back(t_.substr(lt_, i_ + 1 - lt_));
          s_ = S::kData;
        }
        ++i_;
        return true;

      case S::kBogusComment:
        if (eof) {
          EmitComment(t_.size());
          return false;
        }
        if (c == '>') {
          EmitComment(i_);
          s_ = S::kData;
        }
        ++i_;
        return true;

      // Comments. The "<!" nesting states of the comment state change only
      // which errors are told, not where a comment ends: they are left out.
      case S::kCommentStart:
        if (c == '-' && !eof) {
          s_ = S::kCommentStartDash;
          ++i_;
        } else if (c == '>' && !eof) {  // "<!-->"
          EmitComment(data_start_);
          s_ = S::kData;
          ++i_;
        } else {
          s_ = S::kComment;  // reconsume
        }
        return true;

      case S::kCommentStartDash:
        if (eof) return EndOfInputInComment();
        if (c == '-') {
          s_ = S::kCommentEnd;
        } else if (c == '>') {  // "<!--->"
          EmitComment(data_start_);
          s_ = S::kData;
        } else {
          s_ = S::kComment;
          return true;  // reconsume
        }
        ++i_;
        return true;

      case S::kComment:
        if (eof) return EndOfInputInComment();
        if (c == '-') s_ = S::kCommentEndDash;
        ++i_;
        return true;

      case S::kCommentEndDash:
        if (eof) return EndOfInputInComment();
        if (c == '-') {
          s_ = S::kCommentEnd;
          ++i_;
        } else {
          s_ = S::kComment;  // reconsume
        }
        return true;

      case S::kCommentEnd:
        if (eof) return EndOfInputInComment();
        if (c == '>') {  // "-->"
          EmitComment(i_ >= data_start_ + 2 ? i_ - 2 : data_start_);
          s_ = S::kData;
        } else if (c == '!') {
          s_ = S::kCommentEndBang;
        } else if (c != '-') {
          s_ = S::kComment;
          return true;  // reconsume
        }
        ++i_;
        return true;

      case S::kCommentEndBang:
        if (eof) return EndOfInputInComment();
        if (c == '-') {
          s_ = S::kCommentEndDash;
        } else if (c == '>') {  // "--!>"
          EmitComment(i_ >= data_start_ + 3 ? i_ - 3 : data_start_);
          s_ = S::kData;
        } else {
          s_ = S::kComment;
          return true;  // reconsume
        }
        ++i_;
        return true;

      // RCDATA and RAWTEXT: text up to an appropriate end tag.
      case S::kRawText:
        if (eof) return EndOfInputInRawText();
        if (c == '<') {
          end_lt_ = i_;
          s_ = S::kRawTextLessThan;
        }
        ++i_;
        return true;

      case S::kRawTextLessThan:
        if (c == '/' && !eof) {
          s_ = S::kRawTextEndTagOpen;
          ++i_;
        } else {
          s_ = S::kRawText;  // reconsume
        }
        return true;

      case S::kRawTextEndTagOpen:
        if (!eof && Letter(c)) {
          buffer_.clear();
          s_ = S::kRawTextEndTagName;  // reconsume
        } else {
          s_ = S::kRawText;  // reconsume
        }
        return true;

      case S::kRawTextEndTagName:
        return EndTagName(eof, c, State::kRawText);

      // Script data.
      case S::kScriptData:
        if (eof) return EndOfInputInRawText();
        if (c == '<') {
          end_lt_ = i_;
          s_ = S::kScriptLessThan;
        }
        ++i_;
        return true;

      case S::kScriptLessThan:
        if (!eof && c == '/') {
          s_ = S::kScriptEndTagOpen;
          ++i_;
        } else if (!eof && c == '!') {
          s_ = S::kScriptEscapeStart;
          ++i_;
        } else {
          s_ = S::kScriptData;  // reconsume
        }
        return true;

      case S::kScriptEndTagOpen:
        if (!eof && Letter(c)) {
          buffer_.clear();
          s_ = S::kScriptEndTagName;  // reconsume
        } else {
          s_ = S::kScriptData;  // reconsume
        }
        return true;

      case S::kScriptEndTagName:
        return EndTagName(eof, c, State::kScriptData);

      case S::kScriptEscapeStart:
        if (!eof && c == '-') {
          s_ = S::kScriptEscapeStartDash;
          ++i_;
        } else {
          s_ = S::kScriptData;  // reconsume
        }
        return true;

      case S::kScriptEscapeStartDash:
        if (!eof && c == '-') {
          s_ = S::kScriptEscapedDashDash;
          ++i_;
        } else {
          s_ = S::kScriptData;  // reconsume
        }
        return true;

      case S::kScriptEscaped:
        if (eof) return EndOfInputInRawText();
        if (c == '-') {
          s_ = S::kScriptEscapedDash;
        } else if (c == '<') {
          end_lt_ = i_;
          s_ = S::kScriptEscapedLessThan;
        }
        ++i_;
        return true;

      case S::kScriptEscapedDash:
        if (eof) return EndOfInputInRawText();
        if (c == '-') {
          s_ = S::kScriptEscapedDashDash;
        } else if (c == '<') {
          end_lt_ = i_;
          s_ = S::kScriptEscapedLessThan;
        } else {
          s_ = S::kScriptEscaped;
        }
        ++i_;
        return true;

      case S::kScriptEscapedDashDash:
        if (eof) return EndOfInputInRawText();
        if (c == '<') {
          end_lt_ = i_;
          s_ = S::kScriptEscapedLessThan;
        } else if (c == '>') {
          s_ = S::kScriptData;
        } else if (c != '-') {
          s_ = S::kScriptEscaped;
        }
        ++i_;
        return true;

      case S::kScriptEscapedLessThan:
        if (!eof && c == '/') {
          s_ = S::kScriptEscapedEndTagOpen;
          ++i_;
        } else if (!eof && Letter(c)) {
          buffer_.clear();
          s_ = S::kScriptDoubleEscapeStart;  // reconsume
        } else {
          s_ = S::kScriptEscaped;  // reconsume
        }
        return true;

      case S::kScriptEscapedEndTagOpen:
        if (!eof && Letter(c)) {
          buffer_.clear();
          s_ = S::kScriptEscapedEndTagName;  // reconsume
        } else {
          s_ = S::kScriptEscaped;  // reconsume
        }
        return true;

      case S::kScriptEscapedEndTagName:
        return EndTagName(eof, c, State::kScriptEscaped);

      case S::kScriptDoubleEscapeStart:
        if (!eof && (Space(c) || c == '/' || c == '>')) {
          s_ = buffer_ == "script" ? S::kScriptDoubleEscaped : S::kScriptEscaped;
          ++i_;
        } else if (!eof && Letter(c)) {
          buffer_ += LowerChar(c);
          ++i_;
        } else {
          s_ = S::kScriptEscaped;  // reconsume
        }
        return true;

      case S::kScriptDoubleEscaped:
        if (eof) return EndOfInputInRawText();
        if (c == '-') {
          s_ = S::kScriptDoubleEscapedDash;
        } else if (c == '<') {
          s_ = S::kScriptDoubleEscapedLessThan;
        }
        ++i_;
        return true;

      case S::kScriptDoubleEscapedDash:
        if (eof) return EndOfInputInRawText();
        if (c == '-') {
          s_ = S::kScriptDoubleEscapedDashDash;
        } else if (c == '<') {
          s_ = S::kScriptDoubleEscapedLessThan;
        } else {
          s_ = S::kScriptDoubleEscaped;
        }
        ++i_;
        return true;

      case S::kScriptDoubleEscapedDashDash:
        if (eof) return EndOfInputInRawText();
        if (c == '<') {
          s_ = S::kScriptDoubleEscapedLessThan;
        } else if (c == '>') {
          s_ = S::kScriptData;
        } else if (c != '-') {
          s_ = S::kScriptDoubleEscaped;
        }
        ++i_;
        return true;

      case S::kScriptDoubleEscapedLessThan:
        if (!eof && c == '/') {
          buffer_.clear();
          s_ = S::kScriptDoubleEscapeEnd;
          ++i_;
        } else {
          s_ = S::kScriptDoubleEscaped;  // reconsume
        }
        return true;

      case S::kScriptDoubleEscapeEnd:
        if (!eof && (Space(c) || c == '/' || c == '>')) {
          s_ = buffer_ == "script" ? S::kScriptEscaped : S::kScriptDoubleEscaped;
          ++i_;
        } else if (!eof && Letter(c)) {
          buffer_ += LowerChar(c);
          ++i_;
        } else {
          s_ = S::kScriptDoubleEscaped;  // reconsume
        }
        return true;

      case S::kPlaintext:
        return EndOfInputInRawText();  // nothing ends it

      case S::kStates:
        break;
    }
    return false;
  }

  // The end tag name states of RCDATA, RAWTEXT and script data (escaped or
  // not): letters gather; whitespace, "/" or ">" behind the last start tag's
  // name make it an end tag; anything else is text, read again in `back`.
  bool EndTagName(bool eof, char c, State back) {
    if (!eof && Letter(c)) {
      buffer_ += LowerChar(c);
      ++i_;
      return true;
    }
    if (!eof && (Space(c) || c == '/' || c == '>') && buffer_ == last_start_) {
      m_.raw_texts.push_back(t_.substr(raw_start_, end_lt_ - raw_start_));
      lt_ = end_lt_;
      NewTag(true);
      name_ = buffer_;
      s_ = State::kTagName;  // reconsume: it ends the name there
      return true;
    }
    s_ = back;  // reconsume
    return true;
  }

  void NewTag(bool end_tag) {
    end_tag_ = end_tag;
    name_.clear();
    inside_.clear();
    quotes_.clear();
    quoted_.clear();
    unquoted_.clear();
    unquoted_at_.clear();
  }

  void InsideTag(char c) {
    if (c == '<') inside_.push_back(i_);
  }

  void EndUnquoted() {
    unquoted_.push_back(t_.substr(value_start_, i_ - value_start_));
    unquoted_at_.push_back(value_start_);
    unquoted_at_.push_back(i_ - 1);
  }

  // The tag and all it holds are reported.
  void ReportTag() {
    m_.unprotected.push_back(lt_);
    for (std::size_t lt : inside_) {
      m_.unprotected.push_back(lt);
      m_.in_tag.push_back(lt);
    }
    m_.quotes.insert(m_.quotes.end(), quotes_.begin(), quotes_.end());
    m_.quoted_values.insert(m_.quoted_values.end(), quoted_.begin(), quoted_.end());
    m_.unquoted_values.insert(m_.unquoted_values.end(), unquoted_.begin(), unquoted_.end());
    m_.unquoted.insert(m_.unquoted.end(), unquoted_at_.begin(), unquoted_at_.end());
  }

  // The tag's ">" (i_ stands on it): the tree builder switches by name.
  void EmitTag() {
    ReportTag();
    s_ = State::kData;
    if (end_tag_) return;
    State next = TextStateFor(name_);
    if (next == State::kData) return;
    s_ = next;
    last_start_ = name_;
    raw_start_ = i_ + 1;
  }

  // The end of input inside a tag: the tag runs to the end. A raw-text start
  // tag there protects itself and all behind its name.
  bool EndOfInputInTag() {
    if (!end_tag_ && TextStateFor(name_) != State::kData) {
      m_.raw_texts.push_back(t_.substr(name_end_));
      // Its quoted values are still told as such (they are protected twice).
      m_.quotes.insert(m_.quotes.end(), quotes_.begin(), quotes_.end());
      m_.quoted_values.insert(m_.quoted_values.end(), quoted_.begin(), quoted_.end());
    } else {
      ReportTag();
    }
    return false;
  }

  void BeginBogusComment(std::size_t data_start) {
    data_start_ = data_start;
    s_ = State::kBogusComment;
  }

  void EmitComment(std::size_t data_end) {
    m_.comments.push_back(t_.substr(data_start_, data_end - data_start_));
  }

  bool EndOfInputInComment() {
    EmitComment(t_.size());
    return false;
  }

  bool EndOfInputInRawText() {
    m_.raw_texts.push_back(t_.substr(raw_start_));
    return false;
  }

  const std::string& t_;
  Markup m_;
  State s_ = State::kData;
  std::size_t i_ = 0;
  std::size_t lt_ = 0;           // the "<" of the token being read
  std::size_t data_start_ = 0;   // a comment's text
  std::size_t value_start_ = 0;  // an attribute value's first byte (its quote)
  std::size_t name_end_ = 0;     // behind a tag's name
  std::size_t raw_start_ = 0;    // behind the start tag of the raw text
  std::size_t end_lt_ = 0;       // the "<" of a possible end tag in raw text
  bool end_tag_ = false;
  std::string name_, last_start_, buffer_;
  std::vector<std::size_t> inside_, quotes_;
  std::vector<std::string> quoted_, unquoted_;
  std::vector<std::size_t> unquoted_at_;
};

}  // namespace model

// Both region sets read a page alike; `content` is kept for the callers.
inline Markup Tokenize(const std::string& t, bool content = false) {
  (void)content;
  return model::Tokenizer(t).Run();
}

// What a page says, less what the passes add: the watermark and random comments
// of the page pass, the hiding styles of the content pass's decoys.
struct Said {
  std::vector<std::string> quoted, unquoted, comments, raw;
  bool operator==(const Said&) const = default;
};

inline bool AddedComment(const std::string& comment) {
  if (comment.find("Vantoro") != std::string::npos) return true;
  if (comment.empty() || std::string_view("gjrwxyz").find(comment[0]) == std::string::npos) {
    return false;
  }
  for (char c : comment) {
    if (!model::Letter(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

inline bool HidingStyle(const std::string& value) {
  std::string lower = model::Lower(value);
  std::size_t at = lower.find(";display:none;");
  if (at == std::string::npos || lower.back() != ';') return false;
  for (std::size_t i = 0; i < lower.size(); ++i) {
    bool in_marker = i >= at && i < at + 14;
    if (!in_marker && i + 1 != lower.size() && !model::Letter(lower[i])) {
      return false;
    }
  }
  return true;
}

// Whether the model's reading is the browser's for `page`: no tree context the
// model leaves out (foreign content, select, frameset, template) can form.
inline bool PlainHtmlContext(const std::string& page) {
  const std::string lower = model::Lower(page);
  for (const char* name : {"<svg", "<math", "<select", "<frameset", "<template"}) {
    if (lower.find(name) != std::string::npos) return false;
  }
  return true;
}

inline Said SaidBy(const std::string& page, bool content) {
  Markup m = Tokenize(page, content);
  Said said;
  for (const std::string& v : m.quoted_values) {
    if (!HidingStyle(v)) said.quoted.push_back(v);
  }
  said.unquoted = m.unquoted_values;
  for (const std::string& c : m.comments) {
    if (!AddedComment(c)) said.comments.push_back(c);
  }
  said.raw = m.raw_texts;
  return said;
}

}  // namespace vantoro::testing

#endif  // VANTORO_TESTS_HTML_MODEL_H_
