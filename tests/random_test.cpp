// Random source, range specs, RndChars, RndCase and RndNote: exact outputs and draw
// counts with scripted values, distributions with seeded values.
#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "random/draws.h"
#include "test_support.h"
#include "vantoro/random.h"

namespace vantoro {
namespace {

using testing::kLower;
using testing::kUpper;
using testing::Pick;
using T = MarquelTestAccess;
using testing::ErrorNumberOf;

struct CharsCase {
  Variant spec;
  std::vector<double> draws;
  std::string set;
  std::string expected;
};

TEST(RndChars, RangeSpecForms) {
  const std::vector<CharsCase> cases = {
      {Variant(1), {Pick(3, 7)}, "gjrwxyz", "w"},
      {"3", {0.1, 0.5, 0.9}, "x", "xxx"},
      {"2.9", {0.0, 0.99}, "ab", "ab"},
      {" 2 ", {0.0, 0.99}, "ab", "ab"},
      {"0", {}, "ab", ""},
      {"0-0", {0.5}, "ab", ""},
      {"5-5", {0.3, 0.0, 0.0, 0.0, 0.0, 0.0}, "ab", "aaaaa"},
      {"0-16", {Pick(3, 17), 0.9, 0.9, 0.9}, "ab", "bbb"},
      {"16-0", {Pick(3, 17), 0.9, 0.9, 0.9}, "ab", "bbb"},
      {"1-2-3", {Pick(1, 2), 0.0, 0.0}, "ab", "aa"},
      {"1-2-x", {Pick(0, 2), 0.0}, "ab", "a"},
      {Variant(), {}, "ab", ""},
      {Variant(2.9), {0.0, 0.6}, "ab", "ab"},
      {Variant(-4), {}, "ab", ""},
  };
  for (const CharsCase& c : cases) {
    SCOPED_TRACE(ToText(c.spec.is_empty() ? Variant("<empty>") : c.spec));
    ScriptedRandomSource values(c.draws);
    ScopedRandomSource use(values);
    Variant set = c.set;
    EXPECT_EQ(T::RndChars(Marquel(), c.spec, set), Variant(c.expected));
    EXPECT_EQ(values.remaining(), 0u) << "every scripted draw is used";
    EXPECT_EQ(values.reseeds(), values.used()) << "one re-seed per draw";
  }
}

TEST(RndChars, BadSpecsFailWithTypeMismatchAndLeaveTheSetAlone) {
  for (const char* spec : {"", "a", "-3", "3-", "1--2", "1e3", "0x10", " ", "3-a"}) {
    SCOPED_TRACE(spec);
    ScriptedRandomSource values({0.5, 0.5});
    ScopedRandomSource use(values);
    Variant set;
    EXPECT_EQ(ErrorNumberOf([&] { T::RndChars(Marquel(), spec, set); }), kTypeMismatch);
    EXPECT_TRUE(set.is_empty());
    EXPECT_EQ(values.used(), 0u);
  }
}

TEST(RndChars, NullSpecAndNullSet) {
  Marquel m;
  Variant empty_set = "";
  EXPECT_EQ(T::RndChars(m, Variant::null(), empty_set), Variant(""));
  EXPECT_EQ(empty_set, Variant("")) << "a null spec leaves an empty set empty";

  ScriptedRandomSource values({0.5, 0.5});
  ScopedRandomSource use(values);
  Variant null_set = Variant::null();
  EXPECT_EQ(ErrorNumberOf([&] { T::RndChars(m, "2", null_set); }), kInvalidUseOfNull);
  EXPECT_EQ(T::RndChars(m, "0", null_set), Variant(""));
  EXPECT_TRUE(null_set.is_null());
}

TEST(RndChars, EmptySetBecomesTheDefaultInTheCallersVariable) {
  ScriptedRandomSource values({Pick(0, 52), Pick(25, 52), Pick(26, 52), Pick(51, 52)});
  ScopedRandomSource use(values);
  for (Variant set : {Variant(), Variant("")}) {
    if (set.is_empty()) {
      EXPECT_EQ(T::RndChars(Marquel(), "4", set), Variant("azAZ"));
    } else {
      EXPECT_EQ(T::RndChars(Marquel(), "0", set), Variant(""));
    }
    EXPECT_EQ(set, Variant("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"));
  }
}

TEST(RndChars, PicksWholeCodePointsAndKeepsInvalidBytes) {
  // Three characters: a two-byte letter, a four-byte emoji, an invalid byte.
  Variant set = std::string("\xC3\xA9\xF0\x9F\x98\x80\xFF");
  ScriptedRandomSource values({Pick(0, 3), Pick(1, 3), Pick(2, 3)});
  ScopedRandomSource use(values);
  EXPECT_EQ(T::RndChars(Marquel(), "3", set), Variant("\xC3\xA9\xF0\x9F\x98\x80\xFF"));
}

TEST(RndChars, LengthsOfZeroToSixteenAreEquallyLikely) {
  ScriptedRandomSource values(testing::SeededValues(17 * 1000 * 10));
  ScopedRandomSource use(values);
  std::array<int, 17> counts{};
  Variant set = "x";
  for (int i = 0; i < 17 * 1000; ++i) {
    ++counts[ToText(T::RndChars(Marquel(), "0-16", set)).size()];
    if (values.remaining() < 20) break;
  }
  int total = 0;
  for (int c : counts) total += c;
  for (int c : counts) EXPECT_NEAR(c, total / 17.0, total / 17.0 * 0.2);
}

TEST(RndCase, Modes) {
  Marquel m;
  EXPECT_EQ(T::RndCase(m, "display:none;", 2), Variant("DISPLAY:NONE;"));
  for (Variant mode : {Variant(1), Variant(0), Variant(4), Variant(), Variant::null(),
                       Variant("x"), Variant(3.5)}) {
    EXPECT_EQ(T::RndCase(m, "ABC-12;Éx", mode), Variant("abc-12;Éx"));
  }
  EXPECT_EQ(T::RndCase(m, "abc", "2"), Variant("ABC"));
  EXPECT_EQ(T::RndCase(m, Variant::null(), 3), Variant(""));
  EXPECT_EQ(T::RndCase(m, Variant(42), 2), Variant("42"));
}

TEST(RndCase, RandomModeDrawsOncePerCharacter) {
  // "n;é1": four characters, the second byte sequence being one character.
  ScriptedRandomSource values({kUpper, kUpper, kLower, kUpper});
  ScopedRandomSource use(values);
  EXPECT_EQ(T::RndCase(Marquel(), "n;\xC3\xA9" "1", 3), Variant("N;\xC3\xA9" "1"));
  EXPECT_EQ(values.remaining(), 0u);
  EXPECT_EQ(T::RndCase(Marquel(), "", 3), Variant("")) << "no draw for the empty text";
}

// Draws are taken in batches; across batch ends they must stay those of one
// draw per character, in order: 150 letters and a 150-character mixed text.
TEST(RndCase, BatchedDrawsAreTheSingleDrawsInOrder) {
  std::vector<double> draws;
  for (int i = 0; i < 300; ++i) draws.push_back(((i * 37) % 100) / 100.0);
  const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string chars_expected;
  for (std::size_t i = 0; i < 150; ++i) chars_expected += letters[static_cast<std::size_t>(52 * draws[i])];
  std::string text, case_expected;
  for (int i = 0; i < 150; ++i) {
    const bool upper = 2 * draws[150 + static_cast<std::size_t>(i)] >= 1;
    if (i % 3 == 2) {
      text += "\xC3\xA9";  // one character, no case, one draw
      case_expected += "\xC3\xA9";
    } else {
      text += 'q';
      case_expected += upper ? 'Q' : 'q';
    }
  }
  ScriptedRandomSource values(draws);
  ScopedRandomSource use(values);
  Variant set(letters);
  EXPECT_EQ(T::RndChars(Marquel(), 150, set), Variant(chars_expected));
  EXPECT_EQ(T::RndCase(Marquel(), text, 3), Variant(case_expected));
  EXPECT_EQ(values.remaining(), 0u);
}

TEST(RndCase, RandomModeIsFairPerLetter) {
  ScriptedRandomSource values(testing::SeededValues(20 * 2000));
  ScopedRandomSource use(values);
  std::string text = "name;id;width;height";
  std::vector<int> upper(text.size());
  for (int i = 0; i < 2000; ++i) {
    std::string out = ToText(T::RndCase(Marquel(), text, 3));
    ASSERT_EQ(out.size(), text.size());
    for (std::size_t k = 0; k < out.size(); ++k) upper[k] += out[k] >= 'A' && out[k] <= 'Z';
    EXPECT_EQ(out[4], ';');
  }
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == ';') continue;
    EXPECT_NEAR(upper[k], 1000, 150) << "letter " << k;
  }
}

TEST(RndNote, BuildsOrDropsComments) {
  Marquel m;
  struct Case {
    Variant range;
    std::vector<double> draws;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // drop test, first letter, count, body
      {"0-16", {Pick(5, 16), Pick(0, 7), Pick(3, 17), Pick(0, 62), Pick(10, 62), Pick(61, 62)},
       "<!--g0aZ-->"},
      {"0-16", {Pick(0, 16)}, ""},
      {"16-0", {Pick(0, 16)}, ""},
      {"0-1", {Pick(6, 7), Pick(0, 2)}, "<!--z-->"},  // bound 1: never dropped
      {"5", {Pick(1, 5), Pick(1, 7), 0, 0, 0, 0, 0}, "<!--j00000-->"},
      {Variant(5), {Pick(0, 5)}, ""},
      {Variant(0), {}, ""},
      {"0", {}, ""},
      {" 0.0 ", {}, ""},
      {Variant(), {}, ""},
  };
  for (const Case& c : cases) {
    ScriptedRandomSource values(c.draws);
    ScopedRandomSource use(values);
    EXPECT_EQ(T::RndNote(m, c.range), Variant(c.expected));
    EXPECT_EQ(values.remaining(), 0u);
  }
}

TEST(RndNote, Failures) {
  Marquel m;
  EXPECT_EQ(ErrorNumberOf([&] { T::RndNote(m, Variant::null()); }), kInvalidUseOfNull);
  for (const char* bad : {"", "x", "-3", "a-3", "3-"}) {
    EXPECT_EQ(ErrorNumberOf([&] { T::RndNote(m, bad); }), kTypeMismatch) << bad;
  }
}

TEST(RandomSource, ScriptedValuesRunOutWithAClearError) {
  ScriptedRandomSource values({0.5});
  ScopedRandomSource use(values);
  EXPECT_EQ(FreshDraw(), 0.5);
  try {
    FreshDraw();
    FAIL() << "expected an error";
  } catch (const Error& error) {
    EXPECT_EQ(error.code(), ErrorCode::kReplayExhausted);
    EXPECT_NE(std::string(error.what()).find("ran out"), std::string::npos);
  }
  for (double bad : {1.0, -0.1, std::numeric_limits<double>::quiet_NaN()}) {
    try {
      ScriptedRandomSource refused({bad});
      ADD_FAILURE() << "accepted " << bad;
    } catch (const Error& error) {
      EXPECT_EQ(error.code(), ErrorCode::kInvalidArgument) << bad;
    }
  }
}

TEST(RandomSource, ScopesNestAndRestore) {
  ScriptedRandomSource outer({0.25}), inner({0.75});
  ScopedRandomSource use_outer(outer);
  {
    ScopedRandomSource use_inner(inner);
    EXPECT_EQ(FreshDraw(), 0.75);
  }
  EXPECT_EQ(FreshDraw(), 0.25);
}

TEST(RandomSource, DefaultSourceIsUniformAndDoesNotRepeatWithinATick) {
  std::array<int, 10> buckets{};
  std::set<double> seen;
  for (int i = 0; i < 10000; ++i) {
    double r = FreshDraw();
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.0);
    ++buckets[static_cast<std::size_t>(r * 10)];
    seen.insert(r);
  }
  // Many draws fall into one clock tick; a restarted sequence would repeat values.
  EXPECT_GT(seen.size(), 9900u);
  for (int b : buckets) EXPECT_NEAR(b, 1000, 300);
}

// Batches, single draws and the default source's own object share one
// generator: none of them may restart it or leave it where it was.
TEST(RandomSource, DefaultSourceMovesOnThroughBatchesSingleDrawsAndItsObject) {
  std::set<double> seen;
  std::size_t drawn = 0;
  for (int round = 0; round < 40; ++round) {
    double batch[64];
    internal::FreshDraws(batch, 64);
    seen.insert(batch, batch + 64);
    seen.insert(FreshDraw());
    RandomSource& source = CurrentRandomSource();
    source.Reseed();
    seen.insert(source.Draw());
    drawn += 66;
  }
  for (double r : seen) {
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.0);
  }
  // 2,640 values of 24 bits: a few coincide by chance, a restart repeats dozens.
  EXPECT_GT(seen.size(), drawn - 10);

  // Each thread's generator is seeded on its own.
  auto sequence = [] {
    std::vector<double> values(16);
    internal::FreshDraws(values.data(), values.size());
    return values;
  };
  std::vector<double> one, two;
  std::thread([&] { one = sequence(); }).join();
  std::thread([&] { two = sequence(); }).join();
  EXPECT_NE(one, two);
}

TEST(RandomSource, ThreadsHaveTheirOwnOverride) {
  ScriptedRandomSource here({0.5});
  ScopedRandomSource use(here);
  double elsewhere = -1;
  std::thread([&] { elsewhere = FreshDraw(); }).join();  // the default source there
  EXPECT_GE(elsewhere, 0.0);
  EXPECT_EQ(here.remaining(), 1u);
}

}  // namespace
}  // namespace vantoro
