// The whitespace test of whole runs, 16 bytes a step, against the byte-wise one:
// every byte value at every place of every run length across the steps.
#include <gtest/gtest.h>

#include <string>

#include "text/whitespace.h"

namespace vantoro::internal {
namespace {

TEST(Whitespace, RunsAgreeWithTheByteWiseTestEverywhere) {
  const std::string spaces = " \t\n\f\r";
  for (std::size_t length = 0; length <= 50; ++length) {
    std::string run;
    for (std::size_t i = 0; i < length; ++i) run += spaces[(i * 7 + length) % spaces.size()];
    ASSERT_TRUE(AllHtmlSpace(run)) << length;
    for (std::size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string changed = run;
        changed[at] = static_cast<char>(byte);
        ASSERT_EQ(AllHtmlSpace(changed), IsHtmlSpace(static_cast<char>(byte)))
            << "length " << length << ", byte " << byte << " at " << at;
      }
    }
  }
  // Neither the vertical tab nor a no-break space is HTML's whitespace.
  EXPECT_FALSE(AllHtmlSpace(std::string(20, ' ') + "\v"));
  EXPECT_FALSE(AllHtmlSpace(std::string(20, ' ') + "\xC2\xA0"));
  // A view into a longer text reads only its own bytes.
  const std::string text = std::string(40, ' ') + "x";
  EXPECT_TRUE(AllHtmlSpace(std::string_view(text).substr(3, 37)));
  EXPECT_FALSE(AllHtmlSpace(std::string_view(text).substr(3, 38)));
}

}  // namespace
}  // namespace vantoro::internal
