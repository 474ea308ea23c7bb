// Builds a rewritten copy of a text from left to right (copy, skip, emit), and
// moves a set of anchor positions (the "<" of candidate tags) along with the
// bytes they point at, so later passes find their tags without searching again.
#ifndef VANTORO_TEXT_SPLICER_H_
#define VANTORO_TEXT_SPLICER_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "text/huge_pages.h"

namespace vantoro::internal {

// Makes room for `size` bytes in the empty `out`, with an eighth to spare so that
// the next few passes over a slowly growing text fit too: every new page-sized
// buffer costs its page faults again. std::string::reserve would double the
// capacity instead, which on page-sized buffers costs a page.
inline void ReserveExactly(std::string& out, std::size_t size) {
  if (out.capacity() >= size) return;
  std::string fresh;
  fresh.reserve(size + size / 8);
  AdviseHugePages(fresh.data(), fresh.capacity());
  out.swap(fresh);
}

class Splicer {
 public:
  // Writes into `out` (cleared first; its capacity is reused). Each anchor list
  // must be sorted; the lists are rewritten in place.
  Splicer(std::string_view in, std::string& out,
          std::initializer_list<std::vector<std::size_t>*> anchors)
      : in_(in), out_(out) {
    for (auto* list : anchors) lists_.push_back({list, 0});
    out_.clear();
    ReserveExactly(out_, in.size() + in.size() / 8 + 64);
  }

  // Copies the input up to (not including) `end`.
  void CopyTo(std::size_t end) {
    Map(end, true);
    out_.append(in_, pos_, end - pos_);
    pos_ = end;
  }
  // Drops `n` input bytes.
  void Skip(std::size_t n) {
    Map(pos_ + n, false);
    pos_ += n;
  }
  void Emit(std::string_view text) { out_ += text; }

  void Finish() { CopyTo(in_.size()); }

 private:
  struct AnchorList {
    std::vector<std::size_t>* positions;
    std::size_t next;
  };

  void Map(std::size_t end, bool copied) {
    for (AnchorList& list : lists_) {
      auto& positions = *list.positions;
      for (; list.next < positions.size() && positions[list.next] < end; ++list.next) {
        std::size_t& p = positions[list.next];
        p = copied ? out_.size() + (p - pos_) : out_.size();
      }
    }
  }

  std::string_view in_;
  std::string& out_;
  std::size_t pos_ = 0;
  std::vector<AnchorList> lists_;
};

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_SPLICER_H_
