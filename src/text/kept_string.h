// A string kept per thread between calls, for one use (named by Tag), up to a
// bound: a pass that writes a page-sized result on every call reuses its memory
// instead of allocating it and faulting it in afresh. A call further up the same
// thread (a random source that calls back in) gets a string of its own.
#ifndef VANTORO_TEXT_KEPT_STRING_H_
#define VANTORO_TEXT_KEPT_STRING_H_

#include <cstddef>
#include <string>

namespace vantoro::internal {

template <class Tag>
class KeptString {
 public:
  // `keep`: the most capacity left to the next call.
  explicit KeptString(std::size_t keep)
      : keep_(keep), text_(Cached().busy ? own_ : Cached().text) {
    if (&text_ == &Cached().text) Cached().busy = true;
  }
  ~KeptString() {
    if (&text_ != &Cached().text) return;
    Cached().busy = false;
    if (text_.capacity() > keep_) std::string().swap(text_);
  }
  KeptString(const KeptString&) = delete;
  KeptString& operator=(const KeptString&) = delete;

  std::string& text() { return text_; }

 private:
  struct Kept {
    std::string text;
    bool busy = false;
  };
  static Kept& Cached() {
    thread_local Kept kept;
    return kept;
  }

  std::size_t keep_;
  std::string own_;
  std::string& text_;
};

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_KEPT_STRING_H_
