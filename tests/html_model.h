// A model of how a browser's tokenizer reads markup, written from the definition
// at the library's scanner (src/html/protected_regions.h) character by character,
// with nothing of the library: the tests check the scanner against it, and check
// with it that the passes leave attribute values, comments and raw text as they
// were.
#ifndef VANTORO_TESTS_HTML_MODEL_H_
#define VANTORO_TESTS_HTML_MODEL_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::testing {

struct Markup {
  std::vector<std::size_t> unprotected, quotes, in_tag;
  std::vector<std::string> quoted_values;    // in order, without their quotes
  std::vector<std::string> unquoted_values;
  std::vector<std::string> comments;         // between "<!--" and "-->"
  std::vector<std::string> raw_texts;        // raw text, and whole svg/math elements
};

namespace model {

inline bool Space(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
inline bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

inline std::size_t ForeignEnd(const std::string& t, std::size_t i, const std::string& name) {
  std::string lower = Lower(t);
  int depth = 1;
  for (std::size_t p = i + 1; p < t.size(); ++p) {
    if (t[p] != '<') continue;
    std::size_t after = p + 1 + name.size();
    if (lower.compare(p + 1, name.size(), name) == 0 && after < t.size() &&
        (Space(t[after]) || t[after] == '/' || t[after] == '>')) {
      ++depth;
    } else if (lower.compare(p + 1, name.size() + 1, "/" + name) == 0) {
      std::size_t q = after + 1;
      while (q < t.size() && Space(t[q])) ++q;
      if (q < t.size() && t[q] == '>' && --depth == 0) return q + 1;
    }
  }
  return t.size();
}

}  // namespace model

// `content`: svg and math elements are protected too.
inline Markup Tokenize(const std::string& t, bool content) {
  using namespace model;
  Markup m;
  const std::size_t n = t.size();
  std::size_t i = 0;
  while (i < n) {
    if (t[i] != '<') {
      ++i;
      continue;
    }
    if (t.compare(i, 4, "<!--") == 0) {
      std::size_t end = t.find("-->", i + 2);
      std::size_t stop = end == std::string::npos ? n : end;
      m.comments.push_back(stop >= i + 4 ? t.substr(i + 4, stop - i - 4) : "");
      i = end == std::string::npos ? n : end + 3;
      continue;
    }
    std::size_t j = i + 1;
    bool end_tag = j < n && t[j] == '/';
    if (end_tag) ++j;
    if (j >= n || !Letter(t[j])) {
      m.unprotected.push_back(i++);
      continue;
    }
    std::vector<std::size_t> inside;
    std::size_t k = j;
    for (; k < n && !Space(t[k]) && t[k] != '/' && t[k] != '>'; ++k) {
      if (t[k] == '<') inside.push_back(k);
    }
    std::string name = Lower(t.substr(j, k - j));
    if (!end_tag && content && (name == "svg" || name == "math")) {
      std::size_t end = ForeignEnd(t, i, name);
      m.raw_texts.push_back(t.substr(i, end - i));
      i = end;
      continue;
    }
    std::size_t tag_start = m.unprotected.size();
    m.unprotected.push_back(i);
    enum { kBefore, kName, kAfterName, kBeforeValue, kUnquoted } state = kBefore;
    bool closed = false;
    std::size_t p = k, value_start = 0;
    auto end_unquoted = [&] {
      if (state == kUnquoted) m.unquoted_values.push_back(t.substr(value_start, p - value_start));
    };
    while (p < n) {
      char c = t[p];
      if (state == kBeforeValue && (c == '"' || c == '\'')) {
        std::size_t q = t.find(c, p + 1);
        m.quotes.push_back(p);
        m.quotes.push_back(q == std::string::npos ? n - 1 : q);
        m.quoted_values.push_back(t.substr(p + 1, q == std::string::npos ? n - p - 1 : q - p - 1));
        p = q == std::string::npos ? n : q + 1;
        state = kBefore;
        continue;
      }
      if (c == '>') {
        end_unquoted();
        closed = true;
        ++p;
        break;
      }
      if (c == '<') inside.push_back(p);
      if (state == kBefore) {
        if (!Space(c) && c != '/') state = kName;
      } else if (state == kName || state == kAfterName) {
        if (c == '=') state = kBeforeValue;
        else if (c == '/') state = kBefore;
        else if (Space(c)) state = kAfterName;
        else state = kName;
      } else if (state == kBeforeValue) {
        if (!Space(c)) {
          state = kUnquoted;
          value_start = p;
        }
      } else if (Space(c)) {
        end_unquoted();
        state = kBefore;
      }
      ++p;
    }
    if (!closed) end_unquoted();
    bool raw = !end_tag && (name == "script" || name == "style" || name == "textarea" ||
                            name == "title" || name == "xmp");
    if (raw && !closed) {  // the tag and everything behind its name is raw text
      m.unprotected.resize(tag_start);
      m.raw_texts.push_back(t.substr(k));
      break;
    }
    for (std::size_t lt : inside) {
      m.unprotected.push_back(lt);
      m.in_tag.push_back(lt);
    }
    if (raw) {
      std::size_t end = Lower(t).find("</" + name, p);
      std::size_t stop = end == std::string::npos ? n : end;
      m.raw_texts.push_back(t.substr(p, stop - p));
      i = stop;
    } else {
      i = p;
    }
  }
  return m;
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
