// Shared helpers for the unit tests: access to the private operations and scripted
// random values that pick a given outcome.
#ifndef VANTORO_TESTS_TEST_SUPPORT_H_
#define VANTORO_TESTS_TEST_SUPPORT_H_

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "component/marquel.h"
#include "vantoro/protector.h"
#include "vantoro/random.h"

namespace vantoro {

class MarquelTestAccess {
 public:
  static Variant RndChars(const Marquel& m, const Variant& spec, Variant& set) {
    return m.RndChars(spec, set);
  }
  static Variant RndCase(const Marquel& m, const Variant& text, const Variant& mode) {
    return m.RndCase(text, mode);
  }
  static Variant RndNote(const Marquel& m, const Variant& range) { return m.RndNote(range); }
  static Variant RndTag(const Marquel& m, const Variant& page, const Variant& rule,
                        const Variant& fresh, const Variant& gap_range, const Variant& mode,
                        const Variant& note_range) {
    return m.RndTag(page, rule, fresh, gap_range, mode, note_range);
  }
  static Variant RndHideStr(const Marquel& m, const Variant& range, const Variant& mode) {
    return m.RndHideStr(range, mode);
  }
  static Variant RndCopyRStr(const Marquel& m, const Variant& range, const Variant& mode) {
    return m.RndCopyRStr(range, mode);
  }
  static const std::string& AttrNames(const Marquel& m) { return m.attr_names_; }
  static const std::string& VersionText(const Marquel& m) { return m.version_text_; }
};

namespace testing {

// A draw r for which floor(n * r) is k.
inline double Pick(int k, int n) { return (k + 0.5) / n; }
// Draws for RndCase mode 3: lower (0.25) or upper (0.75) per character.
inline constexpr double kLower = 0.25;
inline constexpr double kUpper = 0.75;

// Appends `count` copies of `value`.
inline void Repeat(std::vector<double>& values, int count, double value) {
  values.insert(values.end(), static_cast<std::size_t>(count), value);
}

// Reproducible "random" values from a fixed seed, for distribution tests that
// cannot flake.
inline std::vector<double> SeededValues(std::size_t count, unsigned seed = 20261207) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<double> values(count);
  for (double& v : values) {
    v = uniform(engine);
    if (v >= 1.0) v = 0.0;
  }
  return values;
}

// Between 1 and `max_pieces` of `pieces`, drawn from `engine` and joined: the
// generated markup of the property tests.
inline std::string JoinedPieces(std::mt19937& engine, const std::vector<std::string>& pieces,
                                int max_pieces) {
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(1, max_pieces);
  std::string page;
  for (int n = length(engine); n > 0; --n) page += pieces[pick(engine)];
  return page;
}

#ifdef VANTORO_TEST_CORPUS
// The saved real pages (".html" files of the corpus folder), or nothing when
// the folder is missing.
struct SavedPage {
  std::string name;
  std::string text;
};
inline std::optional<std::vector<SavedPage>> SavedPages() {
  std::filesystem::path corpus = VANTORO_TEST_CORPUS;
  if (!std::filesystem::is_directory(corpus)) return std::nullopt;
  std::vector<SavedPage> pages;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".html") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    pages.push_back({entry.path().filename().string(), text.str()});
  }
  return pages;
}
#endif

// The script error number a call throws, or 0 when it succeeds.
inline int ErrorNumberOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ScriptError& error) {
    return error.number();
  }
  return 0;
}

inline Marquel LoadedMarquel() {
  Marquel m;
  m.Load();
  return m;
}

}  // namespace testing
}  // namespace vantoro

#endif  // VANTORO_TESTS_TEST_SUPPORT_H_
