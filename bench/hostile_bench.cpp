// Hostile pages at 1x and 10x their size: each must take about ten times as long
// at ten times the size (linear time), whatever the shape.

#include <string>

#include "bench_support.h"

namespace {

using namespace vantoro::bench;

std::string Repeat(std::string_view piece, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() < bytes) out += piece;
  return out;
}

std::size_t Size(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)) << 20; }

void BM_NoGreaterThan(benchmark::State& state) { Run(state, {Repeat("<a ", Size(state))}, kPagePass); }
void BM_OneHugeTag(benchmark::State& state) {
  Run(state, {"<img alt=\"a\" src=\"" + std::string(Size(state), 'v') + "\">"}, kPagePass);
}
void BM_LineBreaksPage(benchmark::State& state) { Run(state, {Repeat("<br>", Size(state))}, kPagePass); }
void BM_LineBreaksContent(benchmark::State& state) { Run(state, {Repeat("<br>", Size(state))}, kContentPass); }
void BM_Declarations(benchmark::State& state) { Run(state, {Repeat("<!DOCTYPE html>\n", Size(state))}, kPagePass); }
void BM_DeepNesting(benchmark::State& state) {
  std::string half = Repeat("<div><svg>", Size(state) / 2);
  Run(state, {half + "<p>x</p>" + Repeat("</svg></div>", Size(state) / 2)}, kContentPass);
}
void BM_OrdinaryPage(benchmark::State& state) {
  Run(state,
      {Repeat("<div class=\"post\"><p>Some text with a <a href=\"/x\">link</a>.<br>More "
              "text here for the reader.</p><span class=\"s\">span</span></div>\n",
              Size(state))},
      kPagePass);
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
