// Markup put into a text by one pass and read by another: where each part goes.
#ifndef VANTORO_HTML_INSERTION_H_
#define VANTORO_HTML_INSERTION_H_

#include <cstddef>

namespace vantoro::internal {

// In front of the text's byte `at`, the bytes [from, to) of the inserted
// pieces (all of them held in one text).
struct Insertion {
  std::size_t at, from, to;
};

}  // namespace vantoro::internal

#endif  // VANTORO_HTML_INSERTION_H_
