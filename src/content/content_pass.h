// The content pass: a decoy in front of every paragraph end ("</p") and then
// every line break ("<br") of an article, outside comments, raw text, svg and
// math. Covered by tests/content_test.cpp.
#ifndef VANTORO_CONTENT_CONTENT_PASS_H_
#define VANTORO_CONTENT_CONTENT_PASS_H_

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "content/copyright.h"
#include "content/decoys.h"
#include "html/protected_regions.h"
#include "text/encoder.h"

namespace vantoro::internal {

enum class DecoyContent {
  kCopyright,   // a hidden copyright notice
  kRandomText,  // a hidden run of random characters
  kBoth,        // random text, one whitespace character, then the notice
};

struct ContentSettings {
  std::span<const CopyrightEntry> copyright;
  DecoyContent decoy = DecoyContent::kCopyright;
  // Converts the euro sign among random characters for pages in another
  // character set (the copyright texts are expected in that set already).
  const TextEncoder* encoder = nullptr;
  Hiding hiding;  // an inline style unless given
  // Copy-visible notices: a second notice behind the decoy, out of layout,
  // sight and screen readers but in the rendered text, at the first decoy and
  // at every `copy_every`th after it (0: only the first). None without class
  // names, or with random-text decoys.
  Hiding copy_visible = {};
  std::size_t copy_every = 0;
  // Another pass's visitor, told of the same scan of the article, and the
  // insertions (position in the article, bytes) it collects: written into the
  // output with the decoys, in front of a decoy at the same position.
  MarkupVisitor* also = nullptr;
  const std::vector<std::pair<std::size_t, std::string>>* also_inserts = nullptr;
};

std::string ContentPass(std::string_view article, const ContentSettings& settings);
// The same, written into `out` (its capacity reused; `article` must not lie in it).
void ContentPass(std::string_view article, const ContentSettings& settings, std::string& out);

}  // namespace vantoro::internal

#endif  // VANTORO_CONTENT_CONTENT_PASS_H_
