// Markup put into a text by one pass and read by another: where each part goes.
#ifndef VANTORO_HTML_INSERTION_H_
#define VANTORO_HTML_INSERTION_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "html/protected_regions.h"

namespace vantoro::internal {

// In front of the text's byte `at`, the bytes [from, to) of the inserted
// pieces (all of them held in one text).
struct Insertion {
  std::size_t at, from, to;
};

// Complete markup another pass puts into the page in front of some of its tags
// (the content pass's decoys). It is told of the page pass's scan of the page,
// then draws, then writes the page with its markup in; besides that markup,
// only letters in tag names may change case. The markup must read the same
// wherever it goes (text, or elements that switch no raw text), and go between
// tags (in text, or in front of a "<" the scan reported), where it leaves the
// reading of the rest unchanged.
class InsertingPass : public MarkupVisitor {
 public:
  virtual void Draw() = 0;
  virtual void Write(std::string& out) = 0;
  // What is put in, in one text, and where each part goes.
  virtual std::string_view pieces() const = 0;
  virtual void Placements(std::vector<Insertion>& out) const = 0;

 protected:
  ~InsertingPass() = default;
};

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_INSERTION_H_
