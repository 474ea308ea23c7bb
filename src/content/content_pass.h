// The content pass: a decoy in front of every paragraph end ("</p") and then
// every line break ("<br") of an article, outside comments, raw text, svg and
// math. Covered by tests/content_test.cpp.
#ifndef VANTORO_CONTENT_CONTENT_PASS_H_
#define VANTORO_CONTENT_CONTENT_PASS_H_

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "content/copyright.h"
#include "content/decoys.h"
#include "html/insertion.h"
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

// The pass in steps, for a caller that scans the article itself (for another
// pass at the same time): told of the scan as a visitor, then drawing every
// decoy, then writing. ContentPass takes these steps when one scan finds every
// marker.
class DecoyPlan final : public InsertingPass {
 public:
  // `article` and `settings` must outlive the plan.
  DecoyPlan(std::string_view article, const ContentSettings& settings);
  DecoyPlan(const DecoyPlan&) = delete;
  DecoyPlan& operator=(const DecoyPlan&) = delete;

  // Whether one scan of the article finds every marker: no decoy holds a "<"
  // (only copyright texts can), so none can hide a line break from the scan
  // that follows the paragraph ends'.
  bool OneScan() const { return one_scan_; }

  // The scan of the article, from left to right (ScanMarkup).
  void Visit(std::size_t lt, const TreeBuilder& tree, const ScannedTag& tag) override;

  // Draws every decoy, in the order of the sweeps: the paragraph ends', then
  // the line breaks'.
  void Draw() override;

  // The article with the decoys (and the other pass's insertions), into `out`
  // (cleared first; its capacity reused), at its exact size. Besides what is
  // put in, only the markers' letters change: they come out in lower case.
  void Write(std::string& out) override;

  // Both sweeps one after the other, the second with a scan of its own, for a
  // plan that is not OneScan: drawing as it writes.
  void TwoSweeps(std::string& out);

  // All that goes in, in one text: the decoys in the order drawn, then the
  // other pass's insertions.
  std::string_view pieces() const override { return pieces_; }
  // Where each goes, in the order of the article (positions in pieces()).
  void Placements(std::vector<Insertion>& out) const override;

 private:
  bool FramesetFollows(std::size_t lt);
  std::string PlainDecoy();
  void AppendDecoy(std::string& out);
  // Calls `put(at, k, paragraph_end)` for every marker in the order of the
  // article, `k` its decoy.
  template <class Put>
  void InOrder(Put&& put) const;

  std::string_view article_;
  const ContentSettings& settings_;
  MarkupVisitor* also_;
  std::string euro_;  // encoded once, not per decoy
  bool copy_visible_;
  bool one_scan_;
  std::size_t drawn_ = 0;
  bool looked_ = false;
  std::size_t last_frameset_ = std::string_view::npos;
  std::vector<std::size_t> paragraph_ends_, line_breaks_;
  std::string pieces_;
  std::vector<std::size_t> decoy_ends_;  // in the order drawn, in pieces_
};

}  // namespace vantoro::internal

#endif  // VANTORO_CONTENT_CONTENT_PASS_H_
