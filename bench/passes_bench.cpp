// Throughput of the page pass and the content pass on real pages (read at run time
// from the corpus folder, when present) and on generated pages of growing size,
// so that linear growth shows: 20 MB should take about 20 times as long as 1 MB.
//
//   build/default/bench/vantoro_bench --benchmark_min_time=1

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using namespace vantoro::bench;

std::string CorpusDir() {
  const char* dir = std::getenv("VANTORO_CORPUS");
  return dir != nullptr ? dir : VANTORO_DEFAULT_CORPUS;
}

std::vector<std::string> CorpusPages() {
  std::vector<std::string> pages;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir(), error)) {
    if (entry.path().extension() != ".html") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    pages.push_back(text.str());
  }
  return pages;
}

// A page of typical markup: paragraphs, links, images, a table and a script.
std::string GeneratedPage(std::size_t bytes) {
  const std::string chunk =
      "<div class=\"post\" id=\"p1\"><p>Some text with a <a href=\"/x/y\" target=\"_blank\">"
      "link</a> and an <img src=\"/i.png\" alt=\"pic\" width=\"10\" height=\"10\">.<br>\n"
      "More text.</p><table><tr><td>cell</td><td>cell</td></tr></table>"
      "<span class=\"s\">span</span><script>var s = '<p>';</script></div>\n";
  std::string page = "<!DOCTYPE html>\n<html><head><title>t</title></head><body>\n";
  while (page.size() < bytes) page += chunk;
  return page + "</body></html>\n";
}

std::string GeneratedArticle(std::size_t bytes, std::size_t markers, bool paragraphs) {
  std::size_t filler = markers == 0 ? bytes : bytes / markers;
  std::string text_piece(filler > 8 ? filler - 8 : 1, 'x');
  std::string article;
  article.reserve(bytes + 64);
  while (article.size() < bytes) {
    article += paragraphs ? "<p>" : "";
    article += text_piece;
    article += paragraphs ? "</p>" : "<br>";
  }
  return article;
}

void BM_PagePassCorpus(benchmark::State& state) {
  static const auto pages = CorpusPages();
  if (pages.empty()) {
    state.SkipWithError("no corpus pages found (set VANTORO_CORPUS)");
    return;
  }
  Run(state, pages, kPagePass);
}

// The real pages joined one after another, again and again, up to `bytes`: a
// large page of real markup.
std::string JoinedPage(std::size_t bytes) {
  static const auto pages = CorpusPages();
  std::string joined;
  if (pages.empty()) return joined;
  joined.reserve(bytes + (1 << 20));
  for (std::size_t k = 0; joined.size() < bytes; ++k) joined += pages[k % pages.size()];
  return joined;
}

template <class Pass>
void RunJoined(benchmark::State& state, Pass pass) {
  static std::map<std::int64_t, std::string> cache;
  std::string& page = cache[state.range(0)];
  if (page.empty()) page = JoinedPage(static_cast<std::size_t>(state.range(0)));
  if (page.empty()) {
    state.SkipWithError("no corpus pages found (set VANTORO_CORPUS)");
    return;
  }
  Run(state, {page}, pass);
}

void BM_PagePassJoined(benchmark::State& state) { RunJoined(state, kPagePass); }
void BM_ContentPassJoined(benchmark::State& state) { RunJoined(state, kContentPass); }

void BM_PagePassGenerated(benchmark::State& state) {
  Run(state, {GeneratedPage(static_cast<std::size_t>(state.range(0)))}, kPagePass);
}

void BM_ContentPassCorpus(benchmark::State& state) {
  static const auto pages = CorpusPages();
  if (pages.empty()) {
    state.SkipWithError("no corpus pages found (set VANTORO_CORPUS)");
    return;
  }
  Run(state, pages, kContentPass);
}

void BM_ContentPassParagraphs(benchmark::State& state) {
  // 1 MB with 10,000 paragraphs, scaled.
  auto bytes = static_cast<std::size_t>(state.range(0));
  Run(state, {GeneratedArticle(bytes, bytes / 100, true)}, kContentPass);
}

void BM_ContentPassLineBreaks(benchmark::State& state) {
  // 20 MB with 1,000,000 line breaks, scaled.
  auto bytes = static_cast<std::size_t>(state.range(0));
  Run(state, {GeneratedArticle(bytes, bytes / 20, false)}, kContentPass);
}

// `protect` on the real pages with each way of hiding, and with marks: what
// the layered default and the marks cost against the inline style.
void BM_ProtectCorpusByMethod(benchmark::State& state) {
  static const auto pages = CorpusPages();
  if (pages.empty()) {
    state.SkipWithError("no corpus pages found (set VANTORO_CORPUS)");
    return;
  }
  vantoro::Options options;
  options.content.copyright = "Example Site:All rights reserved,(c) 2026 Example";
  options.content.site_key = "bench-site-key";
  switch (state.range(0)) {
    case 0: options.content.hide = vantoro::HideMethod::kStyle; break;
    case 1: options.content.hide = vantoro::HideMethod::kClass; break;
    case 2: options.content.hide = vantoro::HideMethod::kLayered; break;
    default:
      options.content.hide = vantoro::HideMethod::kLayered;
      options.content.marks = true;
      break;
  }
  static constexpr const char* kLabels[] = {"style", "class", "layered", "layered+marks"};
  state.SetLabel(kLabels[state.range(0)]);
  vantoro::Protector p(options);
  p.set_mark_id(0x0123456789ABCDEFull);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& page : pages) {
      benchmark::DoNotOptimize(p.protect(page));
      bytes += static_cast<std::int64_t>(page.size());
    }
  }
  state.SetBytesProcessed(bytes);
}

}  // namespace

BENCHMARK(BM_PagePassCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePassJoined)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePassGenerated)->Arg(10 << 10)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContentPassCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContentPassJoined)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContentPassParagraphs)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProtectCorpusByMethod)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContentPassLineBreaks)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
