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

// A splitmix generator whose re-seed folds the clock into the running state, so
// re-seeding within one clock tick moves on instead of restarting the sequence.
class DefaultRandomSource final : public RandomSource {
 public:
  DefaultRandomSource() {
    std::random_device device;
    state_ = (std::uint64_t{device()} << 32) ^ device();
  }

  // The counter is read on every 16th re-seed: reading it costs more than the
  // draw, and the state is secret from the start anyway.
  void Reseed() override {
    if ((++reseeds_ & 15) == 0) state_ = Mix64(state_ ^ Ticks());
  }

  double Draw() override {
    state_ += 0x9e3779b97f4a7c15ULL;
    // 24 bits: a single-precision value in [0, 1).
    return static_cast<double>(Mix64(state_) >> 40) * 0x1.0p-24;
  }

 private:
  std::uint64_t state_;
  std::uint32_t reseeds_ = 0;
};

thread_local RandomSource* current_override = nullptr;

DefaultRandomSource& DefaultSource() {
  thread_local DefaultRandomSource source;
  return source;
}

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

ScopedRandomSource::ScopedRandomSource(RandomSource& source) : previous_(current_override) {
  current_override = &source;
}

ScopedRandomSource::~ScopedRandomSource() { current_override = previous_; }

RandomSource& CurrentRandomSource() {
  return current_override != nullptr ? *current_override : DefaultSource();
}

namespace internal {

void FreshDraws(double* values, std::size_t count) {
  if (current_override == nullptr) {
    // One lookup of the thread's source for all of them.
    DefaultRandomSource& source = DefaultSource();
    for (std::size_t i = 0; i < count; ++i) {
      source.Reseed();
      values[i] = source.Draw();
    }
    return;
  }
  RandomSource& source = *current_override;
  for (std::size_t i = 0; i < count; ++i) {
    source.Reseed();
    values[i] = source.Draw();
  }
}

}  // namespace internal

double FreshDraw() {
  if (current_override == nullptr) {
    // The default source, called directly: decoys draw once per character.
    DefaultRandomSource& source = DefaultSource();
    source.Reseed();
    return source.Draw();
  }
  current_override->Reseed();
  return current_override->Draw();
}

}  // namespace vantoro
