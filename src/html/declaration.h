// The document type declaration goes back to the very start of the page.
#ifndef VANTORO_HTML_DECLARATION_H_
#define VANTORO_HTML_DECLARATION_H_

#include <string>
#include <string_view>
#include <vector>

namespace vantoro::internal {

// Joins `prefix`, `head` and `text` into the page, with the document type
// declaration moved first: a declaration is "<!DOCTYPE " (any case), one
// character other than LF, any characters other than ">", then ">"; its line
// break is an optional CR and all LFs that follow at once. Every declaration of
// `text` outside a protected region is removed with its line break, and the first,
// followed by CR LF, goes between `prefix` and `head`. `head` must hold no
// declaration and leave no region open. Covered by tests/rndstr_test.cpp.
// `unprotected`, when given, lists the unprotected "<" of `text` (as the page
// pass already knows them); otherwise `text` is scanned.
std::string JoinWithDeclarationFirst(std::string_view prefix, std::string_view head,
                                     std::string_view text,
                                     const std::vector<std::size_t>* unprotected = nullptr);

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_DECLARATION_H_
