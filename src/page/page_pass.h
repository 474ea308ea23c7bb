// The page pass: the sixteen tag rules in order, the watermark in front, the
// document type declaration first. Covered by tests/rndstr_test.cpp.
#ifndef VANTORO_PAGE_PAGE_PASS_H_
#define VANTORO_PAGE_PAGE_PASS_H_

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "html/insertion.h"
#include "text/encoder.h"

namespace vantoro::internal {

struct PageSettings {
  // The attributes every rule rewrites; none leaves every tag as it is.
  std::span<const std::string_view> common_attributes;
  // The version named in the watermark.
  std::string_view version_text;
  // Converts the watermark for pages in another character set.
  const TextEncoder* encoder = nullptr;
};

// Whether `page` begins with the watermark of an earlier page pass (after a byte
// order mark, an XML declaration, a document type declaration and whitespace),
// in any character set that keeps ASCII.
bool StartsWithWatermark(std::string_view page);

// The version text of the watermark, "v" MAJOR "." MINOR "正式版".
std::string_view DefaultVersionText();

// The tag rules run in one sweep over the page where they can (see
// page/tag_sweep.h), else one after the other over the whole page.
std::string PagePass(std::string_view page, const PageSettings& settings);
// The same on a page the caller gives up: its memory becomes the working text.
std::string PagePass(std::string&& page, const PageSettings& settings);
// The same, written into `out` (its capacity reused; `page` must not lie in it).
void PagePass(std::string_view page, const PageSettings& settings, std::string& out);
// The page pass over the page as `insertions` writes it, which is what running
// the two passes one after the other gives, bytes and draws alike: the page is
// scanned once for both, and of the other pass's markup only that is scanned
// again. False, with nothing drawn or written, where the scan cannot be shared
// (a page the sweep does not apply to): the caller runs the passes one after
// the other.
bool PagePassWith(std::string_view page, InsertingPass& insertions, const PageSettings& settings,
                  std::string& out);

// The memory the current thread keeps for the page pass between calls: buffers
// of up to the retained limit each (4 MB at first; set for every thread at
// once); what a larger page needed is freed after its call.
std::size_t PagePassRetainedBytes();
void SetRetainedLimit(std::size_t bytes);
std::size_t RetainedLimit();

// The same with the rules always one after the other: the same bytes for the
// same draws, more slowly.
std::string PagePassRuleByRule(std::string_view page, const PageSettings& settings);

}  // namespace vantoro::internal

#endif  // VANTORO_PAGE_PAGE_PASS_H_
