// What the benchmarks share: a protector with copyright texts and the timing loop.
#ifndef VANTORO_BENCH_BENCH_SUPPORT_H_
#define VANTORO_BENCH_BENCH_SUPPORT_H_

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "vantoro/protector.h"

namespace vantoro::bench {

inline Protector Loaded() {
  Protector p;
  p.set_copyright("Example Site:All rights reserved,(c) 2026 Example");
  return p;
}

inline const auto kPagePass = [](const Protector& p, const std::string& page) {
  return p.protect_page(page);
};
inline const auto kContentPass = [](const Protector& p, const std::string& page) {
  return p.protect_content(page);
};

// Runs `pass` over every page per iteration and reports the bytes per second.
template <class Pass>
void Run(benchmark::State& state, const std::vector<std::string>& pages, Pass pass) {
  Protector p = Loaded();
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& page : pages) {
      benchmark::DoNotOptimize(pass(p, page));
      bytes += static_cast<std::int64_t>(page.size());
    }
  }
  state.SetBytesProcessed(bytes);
}

}  // namespace vantoro::bench

#endif  // VANTORO_BENCH_BENCH_SUPPORT_H_
