// Marquel: the script component. Page scripts of a server page host create it,
// the host's start hook loads its defaults, a script sets the copyright texts and
// calls the page pass (Rndstr) and the content pass (RndContent). Every member
// takes and gives variants and reports failure as a ScriptError with the
// platform's error numbers (5, 13, 94); the work is done by the engine.
//
// Threads: an instance is used by one thread at a time (the class is
// apartment-threaded). Copying an instance copies its three texts.
#ifndef VANTORO_COMPONENT_MARQUEL_H_
#define VANTORO_COMPONENT_MARQUEL_H_

#include <string>
#include <string_view>
#include <vector>

#include "component/script_error.h"
#include "component/variant.h"
#include "content/copyright.h"

namespace vantoro {

class Marquel {
 public:
  Marquel() = default;

  // The site's copyright texts: entries separated by ",", parts by ":".
  std::string CopyRStr() const { return copy_r_str_; }
  void CopyRStr(const Variant& text);  // a non-text value is stored as its text

  // Page hooks: onstartpage loads the defaults (the context is neither read nor
  // kept, and may be nothing); onendpage does nothing.
  void onstartpage(const Variant& passedscriptingcontext);
  void onendpage() {}
  // The attribute names and the version text. Until it runs, the page pass
  // leaves every tag alone and the watermark names no version.
  void Load();

  // The page pass: the whole page re-marked, with the watermark in front. A null
  // page counts as the empty text.
  Variant Rndstr(const Variant& str) const;
  // The content pass: the article with decoys at paragraph ends and line breaks.
  // A null article gives the empty variant.
  Variant RndContent(const Variant& str) const;

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

  std::string copy_r_str_;
  std::vector<internal::CopyrightEntry> copyright_;  // copy_r_str_, parsed when set
  std::string version_text_;
  std::string attr_names_;
};

}  // namespace vantoro

#endif  // VANTORO_COMPONENT_MARQUEL_H_
