// The block-wise search for one byte against string_view::find: every length
// across several blocks, hits at every place, walks forward, restarts backwards,
// and views that end before the byte.
#include <gtest/gtest.h>

#include <string>

#include "text/byte_scanner.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;

TEST(ByteScanner, FindsWhatFindFindsWalkingForwardAndRestarting) {
  for (std::size_t length = 0; length <= 200; ++length) {
    // Hits at a spacing that drifts across block boundaries as length grows.
    std::string text(length, 'x');
    for (std::size_t i = length % 7; i < length; i += 3 + length % 11) text[i] = '<';
    std::string_view view = text;
    ByteScanner scanner(view, '<');
    std::size_t walked = 0;
    for (std::size_t pos = scanner.Next(0); pos != npos; pos = scanner.Next(pos + 1)) {
      ASSERT_EQ(pos, view.find('<', walked)) << "length " << length;
      walked = pos + 1;
    }
    EXPECT_EQ(view.find('<', walked), npos) << "length " << length;
    // From every place, restarting backwards as well.
    for (std::size_t from = length + 2; from-- > 0;) {
      ASSERT_EQ(scanner.Next(from), view.find('<', from)) << "length " << length << " from " << from;
    }
  }
}

TEST(ByteScanner, ReadsNothingPastItsView) {
  // The byte right behind the view's end, at every offset of the view in a block.
  const std::string text = std::string(300, 'a') + "<" + std::string(100, '<');
  for (std::size_t start = 0; start < 80; ++start) {
    std::string_view view = std::string_view(text).substr(start, 300 - start);
    ByteScanner scanner(view, '<');
    EXPECT_EQ(scanner.Next(0), npos) << start;
    EXPECT_EQ(scanner.Next(view.size() - 1), npos) << start;
    EXPECT_EQ(scanner.Next(view.size()), npos) << start;
  }
  // Bytes of every value, not only ASCII.
  for (int byte = 0; byte < 256; ++byte) {
    std::string bytes(130, static_cast<char>(byte == 0xFF ? 0 : 0xFF));
    bytes[129] = static_cast<char>(byte);
    ByteScanner scanner(bytes, static_cast<char>(byte));
    EXPECT_EQ(scanner.Next(0), 129u) << byte;
  }
}

}  // namespace
}  // namespace vantoro::internal
