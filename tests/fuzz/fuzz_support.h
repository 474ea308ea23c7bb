// Shared harness of the fuzz targets: splits the fuzz input into choices, texts
// and random values, and normalises pages for the property checks.
#ifndef VANTORO_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define VANTORO_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "vantoro/random.h"
#include "component/variant.h"

namespace vantoro::fuzz {

// Inputs larger than this only slow the fuzzer down: every property is local.
inline constexpr std::size_t kMaxInput = 64 * 1024;

#define FUZZ_CHECK(condition)                                                     \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

// Reads the fuzz input from the front: small choices and length-prefixed texts.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size)
      : data_(reinterpret_cast<const char*>(data), size) {}

  std::uint8_t Byte() {
    if (data_.empty()) return 0;
    auto b = static_cast<std::uint8_t>(data_[0]);
    data_.remove_prefix(1);
    return b;
  }
  // A text of up to `max` bytes (length taken from the input).
  std::string Text(std::size_t max) {
    std::size_t wanted = Byte() % (max + 1);  // first: it shortens data_
    std::size_t length = std::min<std::size_t>(wanted, data_.size());
    std::string text(data_.substr(0, length));
    data_.remove_prefix(length);
    return text;
  }
  std::string Rest() {
    std::string rest(data_);
    data_ = {};
    return rest;
  }

 private:
  std::string_view data_;
};

// Any kind of argument value; texts of up to `max_text` bytes.
inline Variant AnyValue(Input& input, std::size_t max_text) {
  switch (input.Byte() % 7) {
    case 0: return Variant();
    case 1: return Variant::null();
    case 2: return Variant(static_cast<int>(input.Byte()) - 100);
    case 3: return Variant(static_cast<double>(input.Byte()) / 7.0 - 3.0);
    case 4: return Variant(input.Byte() % 2 == 0);
    case 5: return Variant::nothing();
    default: return Variant(input.Text(max_text));
  }
}

// Random values from the fuzz input, cycling so that a call never runs out.
class CyclingSource final : public RandomSource {
 public:
  explicit CyclingSource(std::string_view bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      unsigned v = static_cast<unsigned char>(bytes[i]) << 8 | static_cast<unsigned char>(bytes[i + 1]);
      values_.push_back(v / 65536.0);
    }
    if (values_.empty()) values_.push_back(0.5);
  }
  void Reseed() override {}
  double Draw() override {
    double v = values_[next_];
    next_ = (next_ + 1) % values_.size();
    ++drawn_;
    return v;
  }
  void Restart() {
    next_ = 0;
    drawn_ = 0;
  }
  // The values drawn since the start.
  std::size_t drawn() const { return drawn_; }

 private:
  std::vector<double> values_;
  std::size_t next_ = 0;
  std::size_t drawn_ = 0;
};

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

inline bool IsAlnumLower(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); }

// Removes every declaration: "<!DOCTYPE " (any case), a character other than
// LF, then up to its first ">" (which may be that character), then an optional
// CR and all LFs.
inline std::string WithoutDeclarations(std::string_view page) {
  std::string out;
  for (std::size_t i = 0; i < page.size();) {
    bool probe = page.size() - i > 10 && page[i] == '<';
    for (std::size_t k = 0; probe && k < 10; ++k) probe = Lower(page[i + k]) == "<!doctype "[k];
    if (probe && page[i + 10] != '\n') {
      // It ends at its first ">", which may be the character behind "DOCTYPE ".
      std::size_t gt = page.find('>', i + 10);
      if (gt != std::string_view::npos) {
        i = gt + 1;
        if (i < page.size() && page[i] == '\r') ++i;
        while (i < page.size() && page[i] == '\n') ++i;
        continue;
      }
    }
    out += page[i++];
  }
  return out;
}

// What the page pass may change, taken out: declarations, ASCII case, whitespace
// and random comments ("<!--" one of gjrwxyz, letters and digits, "-->").
// Declarations go until none is left: taking one out of "<!D<!DOCTYPE b>OCTYPE b>"
// joins another, as the pass's own removal does.
inline std::string Normalize(std::string_view page) {
  std::string plain(page);
  for (std::string next; (next = WithoutDeclarations(plain)) != plain;) plain.swap(next);
  std::string flat;
  for (char c : plain) {
    if (!IsSpace(c)) flat += Lower(c);
  }
  std::string out;
  for (std::size_t i = 0; i < flat.size();) {
    if (flat.compare(i, 4, "<!--") == 0 && i + 4 < flat.size() &&
        std::string_view("gjrwxyz").find(flat[i + 4]) != std::string_view::npos) {
      std::size_t j = i + 5;
      while (j < flat.size() && IsAlnumLower(flat[j])) ++j;
      if (flat.compare(j, 3, "-->") == 0) {
        i = j + 3;
        continue;
      }
    }
    out += flat[i++];
  }
  return out;
}

}  // namespace vantoro::fuzz

#endif  // VANTORO_TESTS_FUZZ_FUZZ_SUPPORT_H_
