// Vantoro: anti-harvesting markup for web pages.
//
// Protect a page (random letter case of tag and attribute names, random whitespace
// gaps and comments in tags, a watermark comment; renders as before):
//
//   vantoro::Marquel m;
//   m.Load();                                  // the defaults a page host loads
//   std::string out = m.process_page(html);
//
// Protect an article (a hidden element with the site's notice in front of every
// paragraph end and line break):
//
//   m.CopyRStr("Example Site:All rights reserved");
//   std::string body = m.process_content(article_html);
//
// Reproduce an output: install a ScriptedRandomSource (vantoro/random.h) for the
// thread; every random decision then takes the next given value.
//
// Threads: an instance is used by one thread at a time (as a page host does).
// Instances share nothing but the random source, whose state is per thread.
// Copying an instance copies its three texts and decoy kind.
//
// Failures throw vantoro::Error (number and description); a failed call returns
// nothing and changes no state.
#ifndef VANTORO_MARQUEL_H_
#define VANTORO_MARQUEL_H_

#include <functional>
#include <string>
#include <string_view>

#include "vantoro/error.h"
#include "vantoro/variant.h"

namespace vantoro {

// What the content pass puts in front of each paragraph end and line break.
enum class DecoyKind {
  kCopyright = 1,   // a hidden copyright notice (the default)
  kRandomText = 2,  // a hidden run of random characters
  kBoth = 3,        // random text, one whitespace character, then the notice
};

class Marquel {
 public:
  Marquel() = default;

  // --- Members a script host reaches (see vantoro/dispatch.h) ---

  // The site's copyright texts: entries separated by ",", parts by ":".
  std::string CopyRStr() const { return copy_r_str_; }
  void CopyRStr(const Variant& text);  // a non-text value is stored as its text

  // Page hooks: onstartpage loads the defaults (the context is neither read nor
  // kept, and may be nothing); onendpage does nothing.
  void onstartpage(const Variant& passedscriptingcontext);
  void onendpage() {}
  void Load();

  // The page pass: the whole page re-marked, with the watermark in front.
  Variant Rndstr(const Variant& str) const;
  // The content pass: the article with decoys at paragraph ends and line breaks.
  // A null article gives the empty variant.
  Variant RndContent(const Variant& str) const;

  // --- C++ use without variants ---

  std::string process_page(std::string_view page) const;
  std::string process_content(std::string_view article) const;

  DecoyKind decoy_kind() const noexcept { return decoy_kind_; }
  void set_decoy_kind(DecoyKind kind) noexcept { decoy_kind_ = kind; }

  // Converts the non-ASCII text the passes insert from their own constants (the
  // watermark with the version text, the euro sign of random-text decoys) for
  // pages in another character set. Copyright texts are inserted as stored, so
  // store them in the page's character set. Unset: UTF-8 as it stands.
  using TextEncoder = std::function<std::string(std::string_view utf8)>;
  void set_text_encoder(TextEncoder encoder) { encoder_ = std::move(encoder); }

 private:
  friend class MarquelTestAccess;  // unit tests reach the private operations

  Variant RndHideStr(const Variant& range, const Variant& caseMode) const;
  Variant RndCopyRStr(const Variant& range, const Variant& caseMode) const;
  Variant RndTag(const Variant& page, const Variant& rule, const Variant& freshGaps,
                 const Variant& gapRange, const Variant& caseMode,
                 const Variant& noteRange) const;
  Variant RndNote(const Variant& range) const;
  Variant RndCase(const Variant& text, const Variant& mode) const;
  // The only operation that writes an argument: an empty character set is
  // replaced by the default one in the caller's variable.
  Variant RndChars(const Variant& spec, Variant& charset) const;

  std::string PagePass(std::string_view page) const;
  std::string ContentPass(std::string_view article) const;
  std::string CopyrightDecoy(const Variant& range, int case_mode) const;
  std::string Encoded(std::string_view utf8) const;

  std::string copy_r_str_;
  std::string version_text_;
  std::string attr_names_;
  DecoyKind decoy_kind_ = DecoyKind::kCopyright;
  TextEncoder encoder_;
};

}  // namespace vantoro

#endif  // VANTORO_MARQUEL_H_
