// What the benchmarks share: a loaded component and the timing loop.
#ifndef VANTORO_BENCH_BENCH_SUPPORT_H_
#define VANTORO_BENCH_BENCH_SUPPORT_H_

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "vantoro/marquel.h"

namespace vantoro::bench {

inline Marquel Loaded() {
  Marquel m;
  m.Load();
  m.CopyRStr("Example Site:All rights reserved,(c) 2026 Example");
  return m;
}

inline const auto kPagePass = [](const Marquel& m, const std::string& p) { return m.process_page(p); };
inline const auto kContentPass = [](const Marquel& m, const std::string& p) {
  return m.process_content(p);
};

// Runs `pass` over every page per iteration and reports the bytes per second.
template <class Pass>
void Run(benchmark::State& state, const std::vector<std::string>& pages, Pass pass) {
  Marquel m = Loaded();
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& page : pages) {
      benchmark::DoNotOptimize(pass(m, page));
      bytes += static_cast<std::int64_t>(page.size());
    }
  }
  state.SetBytesProcessed(bytes);
}

}  // namespace vantoro::bench

#endif  // VANTORO_BENCH_BENCH_SUPPORT_H_
