// The document type declaration goes back to the very start of the page.
#ifndef VANTORO_MARKUP_DECLARATION_H_
#define VANTORO_MARKUP_DECLARATION_H_

#include <string>

namespace vantoro::internal {

// A declaration is "<!DOCTYPE " (any case), one character other than LF, any
// characters other than ">", then ">"; its line break is an optional CR and all
// LFs that follow at once. Every declaration outside a protected region is
// removed with its line break, and the first, followed by CR LF, goes in front.
// Without one, the text comes back unchanged. Covered by tests/rndstr_test.cpp.
std::string MoveDeclarationFirst(std::string text);

}  // namespace vantoro::internal

#endif  // VANTORO_MARKUP_DECLARATION_H_
