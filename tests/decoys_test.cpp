// The two decoy builders: exact elements with scripted values, draw order, and
// distributions with seeded values.
#include <gtest/gtest.h>

#include <map>

#include "test_support.h"

namespace vantoro {
namespace {

using testing::kLower;
using testing::Pick;
using T = MarquelTestAccess;

TEST(RndHideStr, ExactElement) {
  ScriptedRandomSource values({Pick(0, 10),                           // span
                               Pick(0, 52), Pick(1, 52), Pick(2, 52),  // first run
                               Pick(26, 52), Pick(27, 52), Pick(28, 52),
                               Pick(64, 128), Pick(59, 128), Pick(127, 128)});
  ScopedRandomSource use(values);
  EXPECT_EQ(T::RndHideStr(Marquel(), "3", 1),
            Variant("<span style='abc;display:none;ABC;'>A=\xE2\x82\xAC</span>"));
  EXPECT_EQ(values.remaining(), 0u);
  EXPECT_EQ(values.reseeds(), values.used() + 2) << "two re-seeds without a draw";
}

TEST(RndHideStr, CountsAndModes) {
  Marquel m;
  ScriptedRandomSource values({Pick(0, 1), Pick(1, 17), Pick(1, 10), Pick(0, 17), Pick(0, 17),
                               Pick(61, 128)});
  ScopedRandomSource use(values);
  EXPECT_EQ(T::RndHideStr(m, "0", 3), Variant(""));
  EXPECT_EQ(T::RndHideStr(m, Variant::null(), 3), Variant(""));
  EXPECT_EQ(T::RndHideStr(m, "0-0", 3), Variant(""));
  EXPECT_EQ(T::RndHideStr(m, "16-0", 5), Variant("<font style=';display:none;;'>?</font>"));
  EXPECT_EQ(values.remaining(), 0u);
  EXPECT_THROW(T::RndHideStr(m, "x", 1), ScriptError);
}

TEST(RndHideStr, NeverHoldsAngleBracketsAndUsesEveryName) {
  ScriptedRandomSource values(testing::SeededValues(400000));
  ScopedRandomSource use(values);
  std::map<std::string, int> names;
  for (int i = 0; i < 5000; ++i) {
    std::string decoy = ToText(T::RndHideStr(Marquel(), "16", 2));
    std::size_t open = decoy.find("'>") + 2;
    std::size_t close = decoy.rfind("</");
    std::string content = decoy.substr(open, close - open);
    ASSERT_EQ(content.find_first_of("<>"), std::string::npos) << content;
    ++names[decoy.substr(1, decoy.find(' ') - 1)];
  }
  ASSERT_EQ(names.size(), 10u);
  for (const auto& [name, count] : names) EXPECT_NEAR(count, 500, 120) << name;
  // Nothing that closes a paragraph or ends a link around the decoy.
  for (const char* breaking : {"a", "h1", "h2", "h3", "h4", "h5", "h6", "p", "div"}) {
    EXPECT_EQ(names.count(breaking), 0u) << breaking;
  }
}

TEST(RndCopyRStr, ExactElement) {
  Marquel m;
  m.CopyRStr("Example Site:All rights reserved");
  ScriptedRandomSource values({Pick(0, 11), Pick(6, 11),  // one separator per part
                               Pick(0, 2),                 // no leading separator
                               Pick(1, 2), Pick(10, 11),   // a trailing "+"
                               Pick(2, 3),                 // label
                               Pick(0, 17), Pick(0, 17)}); // empty letter runs
  ScopedRandomSource use(values);
  EXPECT_EQ(T::RndCopyRStr(m, "0-16", 1),
            Variant("<label style=';display:none;;'>~Example Site/All rights reserved+</label>"));
  EXPECT_EQ(values.remaining(), 0u);
}

TEST(RndCopyRStr, EntryForms) {
  Marquel m;
  ScriptedRandomSource none({});
  {
    ScopedRandomSource use(none);
    EXPECT_TRUE(T::RndCopyRStr(m, "0-16", 3).is_empty()) << "nothing drawn for an empty text";
  }
  struct Case {
    std::string copyright;
    std::vector<double> draws;
    std::string content;
  };
  const std::vector<Case> cases = {
      // entry draw, then leading and trailing runs, name
      {"a,", {Pick(1, 2), Pick(1, 2), Pick(0, 11), Pick(0, 2), Pick(0, 3)}, "~"},
      {":", {Pick(1, 11), Pick(2, 11), Pick(0, 2), Pick(0, 2), Pick(0, 3)}, "`."},
      {"a:b", {Pick(3, 11), Pick(4, 11), Pick(1, 2), Pick(5, 11), Pick(1, 2), Pick(7, 11), Pick(0, 3)},
       "_,a-b\\"},
      {"x", {Pick(0, 2), Pick(0, 2), Pick(0, 3)}, "x"},
  };
  for (const Case& c : cases) {
    m.CopyRStr(c.copyright);
    ScriptedRandomSource values(c.draws);
    ScopedRandomSource use(values);
    EXPECT_EQ(T::RndCopyRStr(m, Variant::null(), 2),
              Variant("<span style=';DISPLAY:NONE;;'>" + c.content + "</span>"))
        << c.copyright;
    EXPECT_EQ(values.remaining(), 0u);
  }
}

TEST(RndCopyRStr, EntriesAndNamesAreEquallyLikely) {
  Marquel m;
  m.CopyRStr("1,2,3");
  ScriptedRandomSource values(testing::SeededValues(200000));
  ScopedRandomSource use(values);
  std::map<std::string, int> entries, names;
  for (int i = 0; i < 3000; ++i) {
    std::string decoy = ToText(T::RndCopyRStr(m, "0", 1));
    ++names[decoy.substr(1, decoy.find(' ') - 1)];
    for (const char* entry : {"1", "2", "3"}) entries[entry] += decoy.find(entry) != std::string::npos;
  }
  ASSERT_EQ(names.size(), 3u);
  for (const auto& [name, count] : names) EXPECT_NEAR(count, 1000, 150) << name;
  for (const auto& [entry, count] : entries) EXPECT_NEAR(count, 1000, 150) << entry;
}

}  // namespace
}  // namespace vantoro
