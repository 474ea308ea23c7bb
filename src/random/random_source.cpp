// The random source: a per-thread default generator, scripted sources for exact
// reproduction, and the scoped override that switches between them.
#include "vantoro/random.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <string>

#include "random/draws.h"
#include "vantoro/error.h"

namespace vantoro {
namespace {

std::uint64_t Mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// The finest clock at hand. Every draw re-seeds, so its cost counts: the
// processor's time-stamp counter takes a few cycles where the system clock takes
// a call.
std::uint64_t Ticks() {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
  return __builtin_ia32_rdtsc();
#else
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

// The thread's random state, all in one thread-local: code loaded at run time
// (a server module) pays a call for every thread-local it reaches, and a draw
// should reach one. Constant-initialized, so no guard either; the generator is
// seeded at its first use.
struct ThreadRandom {
  RandomSource* override = nullptr;
  std::uint64_t state = 0;
  std::uint32_t reseeds = 0;
  bool seeded = false;
};

thread_local ThreadRandom thread_random;

void Seed(ThreadRandom& t) {
  std::random_device device;
  t.state = (std::uint64_t{device()} << 32) ^ device();
  t.seeded = true;
}

// A splitmix generator whose re-seed folds the clock into the running state, so
// re-seeding within one clock tick moves on instead of restarting the sequence.
// The counter is read on every 16th re-seed: reading it costs more than the
// draw, and the state is secret from the start anyway.
void ReseedState(std::uint64_t& state, std::uint32_t& reseeds) {
  if ((++reseeds & 15) == 0) state = Mix64(state ^ Ticks());
}

double DrawFrom(std::uint64_t& state) {
  state += 0x9e3779b97f4a7c15ULL;
  // 24 bits: a single-precision value in [0, 1).
  return static_cast<double>(Mix64(state) >> 40) * 0x1.0p-24;
}

// The default source as a RandomSource: the calling thread's generator.
class DefaultRandomSource final : public RandomSource {
 public:
  void Reseed() override {
    ThreadRandom& t = thread_random;
    if (!t.seeded) Seed(t);
    ReseedState(t.state, t.reseeds);
  }

  double Draw() override {
    ThreadRandom& t = thread_random;
    if (!t.seeded) Seed(t);
    return DrawFrom(t.state);
  }
};

DefaultRandomSource default_source;

}  // namespace

ScriptedRandomSource::ScriptedRandomSource(std::vector<double> values)
    : values_(std::move(values)) {
  for (double v : values_) {
    if (!(v >= 0 && v < 1)) {
      throw Error(ErrorCode::kInvalidArgument,
                  "scripted random value outside [0, 1): " + std::to_string(v));
    }
  }
}

double ScriptedRandomSource::Draw() {
  if (next_ == values_.size()) {
    throw Error(ErrorCode::kReplayExhausted,
                "scripted random values ran out after " + std::to_string(values_.size()) + " draws");
  }
  return values_[next_++];
}

ScopedRandomSource::ScopedRandomSource(RandomSource& source)
    : previous_(thread_random.override) {
  thread_random.override = &source;
}

ScopedRandomSource::~ScopedRandomSource() { thread_random.override = previous_; }

RandomSource& CurrentRandomSource() {
  RandomSource* override = thread_random.override;
  return override != nullptr ? *override : default_source;
}

namespace internal {

void FreshDraws(double* values, std::size_t count) {
  ThreadRandom& t = thread_random;
  if (t.override == nullptr) {
    // The generator in registers for the whole batch.
    if (!t.seeded) Seed(t);
    std::uint64_t state = t.state;
    std::uint32_t reseeds = t.reseeds;
    for (std::size_t i = 0; i < count; ++i) {
      ReseedState(state, reseeds);
      values[i] = DrawFrom(state);
    }
    t.state = state;
    t.reseeds = reseeds;
    return;
  }
  RandomSource& source = *t.override;
  for (std::size_t i = 0; i < count; ++i) {
    source.Reseed();
    values[i] = source.Draw();
  }
}

}  // namespace internal

double FreshDraw() {
  ThreadRandom& t = thread_random;
  if (t.override == nullptr) {
    // The default generator, called directly: decoys draw once per character.
    if (!t.seeded) Seed(t);
    ReseedState(t.state, t.reseeds);
    return DrawFrom(t.state);
  }
  t.override->Reseed();
  return t.override->Draw();
}

}  // namespace vantoro
