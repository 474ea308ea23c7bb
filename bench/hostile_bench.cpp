// Hostile pages at 1x and 10x their size: each must take about ten times as long
// at ten times the size (linear time), whatever the shape.
#include <benchmark/benchmark.h>

#include <string>

#include "vantoro/marquel.h"

namespace {

std::string Repeat(std::string_view piece, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() < bytes) out += piece;
  return out;
}

vantoro::Marquel Loaded() {
  vantoro::Marquel m;
  m.Load();
  m.CopyRStr("Example Site:All rights reserved");
  return m;
}

template <class Pass>
void Run(benchmark::State& state, const std::string& page, Pass pass) {
  vantoro::Marquel m = Loaded();
  for (auto _ : state) benchmark::DoNotOptimize(pass(m, page));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}

auto Page = [](const vantoro::Marquel& m, const std::string& p) { return m.process_page(p); };
auto Content = [](const vantoro::Marquel& m, const std::string& p) { return m.process_content(p); };

std::size_t Size(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)) << 20; }

void BM_NoGreaterThan(benchmark::State& state) { Run(state, Repeat("<a ", Size(state)), Page); }
void BM_OneHugeTag(benchmark::State& state) {
  Run(state, "<img alt=\"a\" src=\"" + std::string(Size(state), 'v') + "\">", Page);
}
void BM_LineBreaksPage(benchmark::State& state) { Run(state, Repeat("<br>", Size(state)), Page); }
void BM_LineBreaksContent(benchmark::State& state) { Run(state, Repeat("<br>", Size(state)), Content); }
void BM_Declarations(benchmark::State& state) { Run(state, Repeat("<!DOCTYPE html>\n", Size(state)), Page); }
void BM_DeepNesting(benchmark::State& state) {
  std::string half = Repeat("<div><svg>", Size(state) / 2);
  Run(state, half + "<p>x</p>" + Repeat("</svg></div>", Size(state) / 2), Content);
}
void BM_OrdinaryPage(benchmark::State& state) {
  Run(state,
      Repeat("<div class=\"post\"><p>Some text with a <a href=\"/x\">link</a>.<br>More "
             "text here for the reader.</p><span class=\"s\">span</span></div>\n",
             Size(state)),
      Page);
}

}  // namespace

// Sizes in MB: 1 and 10 (5 and 50 for an ordinary page).
BENCHMARK(BM_NoGreaterThan)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneHugeTag)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineBreaksPage)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineBreaksContent)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Declarations)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeepNesting)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrdinaryPage)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);
