// A hint that a large buffer be backed by huge pages where the system offers
// them on request (Linux's transparent huge pages in "madvise" mode): a fresh
// page-sized buffer otherwise costs a page fault per 4 KB when it is first
// written, and on virtual machines those faults can take longer than the pass.
#ifndef VANTORO_TEXT_HUGE_PAGES_H_
#define VANTORO_TEXT_HUGE_PAGES_H_

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vantoro::internal {

inline void AdviseHugePages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (size < 2 * kHuge) return;
  auto begin = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  std::uintptr_t last = (begin + size) & ~(kHuge - 1);
  // Only whole huge pages inside the buffer; a refusal changes nothing.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace vantoro::internal

#endif  // VANTORO_TEXT_HUGE_PAGES_H_
