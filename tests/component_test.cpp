// The component's texts, Load and page hooks, and the argument conversions.
#include <gtest/gtest.h>

#include "test_support.h"

namespace vantoro {
namespace {

using T = MarquelTestAccess;
using testing::ErrorNumberOf;

TEST(Conversions, ToText) {
  EXPECT_EQ(ToText(Variant()), "");
  EXPECT_EQ(ToText(Variant(42)), "42");
  EXPECT_EQ(ToText(Variant(std::int64_t{-7})), "-7");
  EXPECT_EQ(ToText(Variant(2.5)), "2.5");
  EXPECT_EQ(ToText(Variant(3.0)), "3");
  EXPECT_EQ(ToText(Variant(true)), "True");
  EXPECT_EQ(ToText(Variant("x")), "x");
  EXPECT_EQ(ErrorNumberOf([] { ToText(Variant::null()); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { ToText(Variant::nothing()); }), kTypeMismatch);
}

TEST(Conversions, ToNumber) {
  EXPECT_EQ(ToNumber(Variant()), 0);
  EXPECT_EQ(ToNumber(Variant(" 5 ")), 5);
  EXPECT_EQ(ToNumber(Variant("\t2.9")), 2.9);
  EXPECT_EQ(ToNumber(Variant("+.5")), 0.5);
  EXPECT_EQ(ToNumber(Variant("-1")), -1);
  EXPECT_EQ(ToNumber(Variant(true)), -1);
  for (const char* bad : {"", " ", "abc", "1e3", "0x1F", "1.2.3", "inf", "nan", "+", "5 5"}) {
    EXPECT_EQ(ErrorNumberOf([&] { ToNumber(Variant(bad)); }), kTypeMismatch) << bad;
  }
  EXPECT_EQ(ErrorNumberOf([] { ToNumber(Variant::null()); }), kInvalidUseOfNull);
}

TEST(Marquel, FreshInstanceHasEmptyTexts) {
  Marquel m;
  EXPECT_EQ(m.CopyRStr(), "");
  EXPECT_EQ(T::AttrNames(m), "");
  EXPECT_EQ(T::VersionText(m), "");
}

TEST(Marquel, LoadAndPageHooksSetTheDefaults) {
  Marquel m;
  m.onendpage();  // before onstartpage: no effect
  EXPECT_EQ(T::AttrNames(m), "");
  m.onstartpage(Variant::nothing());
  EXPECT_EQ(T::AttrNames(m), "name;id;width;height");
  EXPECT_EQ(T::VersionText(m), "v2.0正式版");
  m.Load();
  m.Load();
  m.onendpage();
  m.onendpage();
  EXPECT_EQ(T::AttrNames(m), "name;id;width;height");
  EXPECT_EQ(T::VersionText(m), "v2.0正式版");
}

TEST(Marquel, CopyRStrReadsBackWhatWasStored) {
  Marquel m;
  m.CopyRStr("版权所有:Example \xF0\x9F\x98\x80,\xFF");
  EXPECT_EQ(m.CopyRStr(), "版权所有:Example \xF0\x9F\x98\x80,\xFF");
  m.CopyRStr(Variant(12));
  EXPECT_EQ(m.CopyRStr(), "12");
  EXPECT_EQ(ErrorNumberOf([&] { m.CopyRStr(Variant::null()); }), kInvalidUseOfNull);
  EXPECT_EQ(m.CopyRStr(), "12") << "a failed call changes no state";
}

TEST(Marquel, PassesLeaveTheArgumentAndTheTextsAlone) {
  Marquel m = testing::LoadedMarquel();
  m.CopyRStr("note");
  const Variant page = "<p id=\"a\">x<br></p>";
  Variant argument = page;
  m.Rndstr(argument);
  m.RndContent(argument);
  EXPECT_EQ(argument, page);
  EXPECT_EQ(m.CopyRStr(), "note");
  EXPECT_EQ(T::AttrNames(m), "name;id;width;height");
}

TEST(Marquel, AFailedCallReturnsNothing) {
  Marquel m = testing::LoadedMarquel();
  ScriptedRandomSource values({0.5, 0.5});  // far too few for a page
  ScopedRandomSource use(values);
  EXPECT_THROW(m.Rndstr("<p>x</p>"), ScriptError);
  EXPECT_EQ(ErrorNumberOf([&] { m.Rndstr(Variant::nothing()); }), kTypeMismatch);
}

}  // namespace
}  // namespace vantoro
