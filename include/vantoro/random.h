// The random source every random decision of the library is drawn from.
//
// A "fresh draw" re-seeds the current thread's source, then draws one value r with
// 0 <= r < 1. The default source keeps its state per thread, seeded from the
// operating system; the state moves on with every draw, so the sequence never
// restarts, and every 16th re-seed mixes the processor's time-stamp counter (the
// high-resolution clock where there is none) into it.
//
// Reproducing an output: install a ScriptedRandomSource for the current thread,
//
//   vantoro::ScriptedRandomSource values({0.5, 0.25, 0.9});
//   vantoro::ScopedRandomSource use(values);
//   std::string page = protector.protect_page(html);  // every draw takes the next value
//
// A scripted source that runs out throws vantoro::Error (kReplayExhausted), so the
// call fails cleanly.
#ifndef VANTORO_RANDOM_H_
#define VANTORO_RANDOM_H_

#include <cstddef>
#include <vector>

namespace vantoro {

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual void Reseed() = 0;
  // The next value r, 0 <= r < 1.
  virtual double Draw() = 0;
};

// Hands out the given values in order; Reseed does nothing but count.
class ScriptedRandomSource final : public RandomSource {
 public:
  // Throws vantoro::Error (kInvalidArgument) when a value is outside [0, 1).
  explicit ScriptedRandomSource(std::vector<double> values);

  void Reseed() override { ++reseeds_; }
  // Throws vantoro::Error (kReplayExhausted) when no value is left.
  double Draw() override;

  std::size_t used() const noexcept { return next_; }
  std::size_t remaining() const noexcept { return values_.size() - next_; }
  std::size_t reseeds() const noexcept { return reseeds_; }

 private:
  std::vector<double> values_;
  std::size_t next_ = 0;
  std::size_t reseeds_ = 0;
};

// Makes `source` the current thread's random source for the lifetime of this object.
// Scopes nest; the previous source comes back when the scope ends.
class ScopedRandomSource {
 public:
  explicit ScopedRandomSource(RandomSource& source);
  ~ScopedRandomSource();
  ScopedRandomSource(const ScopedRandomSource&) = delete;
  ScopedRandomSource& operator=(const ScopedRandomSource&) = delete;

 private:
  RandomSource* previous_;
};

// The current thread's source (the scoped override, or the default one).
RandomSource& CurrentRandomSource();

// A re-seed followed by a draw on the current thread's source.
double FreshDraw();

}  // namespace vantoro

#endif  // VANTORO_RANDOM_H_
