// The declaration join in its three forms (copied, in place behind room, laid
// out for a writer of its own) against each other on generated pages full of
// declarations, comments and the markup that keeps a later declaration in place.
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "html/declaration.h"
#include "html/protected_regions.h"

namespace vantoro::internal {
namespace {

std::string Generated(std::mt19937& engine) {
  static const std::vector<std::string> pieces = {
      "<!DOCTYPE html>", "<!doctype x>\r\n", "<!DOCTYPE ", "<!DOCTYPE >", ">", "\n", "\r\n",
      " ", "<!-- c -->", "<!--", "-->", "<", "</", "<!", "<?", "&am", "p;", "&#", "x", "<p>",
      "<title>", "</title>", "<a title='<!DOCTYPE html>'>", "<?xml version=\"1.0\"?>", "<b ",
      "<script>", "</script>"};
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 14);
  std::string text;
  for (int n = length(engine); n > 0; --n) text += pieces[pick(engine)];
  return text;
}

TEST(DeclarationJoin, InPlaceAndLaidOutGiveWhatTheCopyGives) {
  std::mt19937 engine(29);
  const std::string prefix = "\xEF\xBB\xBF", head = "<!--head-->\r\n";
  int moved = 0, kept_later = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text = Generated(engine);
    MarkupIndex markup;
    ScanMarkup(text, RegionSet::kPage, false, markup);
    std::string expected = JoinWithDeclarationFirst(prefix, head, text, &markup);
    std::vector<std::size_t> probes;
    DeclarationProbes(text, markup, probes);

    std::size_t room = prefix.size() + head.size() + DeclarationRoom(text, probes);
    std::string buffer = std::string(room, '#') + text;
    ASSERT_TRUE(JoinWithDeclarationFirstInPlace(prefix, head, buffer, room, probes)) << text;
    ASSERT_EQ(buffer, expected) << text;

    JoinLayout layout = LayOutJoin(prefix, head, text, probes);
    std::string laid_out = layout.front;
    std::size_t last = layout.rest;
    for (const auto& [from, to] : layout.kept) {
      ASSERT_LE(last, from) << text;  // sorted, not overlapping, from `rest` on
      laid_out.append(text, from, to - from);
      last = to;
    }
    ASSERT_EQ(laid_out, expected) << text;

    moved += expected.starts_with(prefix + "<!") ? 1 : 0;
    std::string behind = expected.substr(expected.find(head) + head.size());
    for (char& c : behind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    kept_later += behind.find("<!doctype ") != std::string::npos ? 1 : 0;
  }
  EXPECT_GT(moved, 1000) << "the generator must make declarations that move";
  EXPECT_GT(kept_later, 1000) << "and declarations that stay where they are";
}

TEST(DeclarationJoin, TooLittleRoomChangesNothing) {
  const std::string text = "<!DOCTYPE html>\n<p>x";
  MarkupIndex markup;
  ScanMarkup(text, RegionSet::kPage, false, markup);
  std::vector<std::size_t> probes;
  DeclarationProbes(text, markup, probes);
  std::size_t needed = 3 + 4 + DeclarationRoom(text, probes);
  // The front must be written before the rest is read: one byte less does not do.
  std::string buffer = std::string(needed - 1, '#') + text;
  const std::string before = buffer;
  EXPECT_FALSE(JoinWithDeclarationFirstInPlace("abc", "head", buffer, needed - 1, probes));
  EXPECT_EQ(buffer, before);
  buffer = std::string(needed, '#') + text;
  EXPECT_TRUE(JoinWithDeclarationFirstInPlace("abc", "head", buffer, needed, probes));
  EXPECT_EQ(buffer, "abc<!DOCTYPE html>\r\nhead<p>x");
}

}  // namespace
}  // namespace vantoro::internal
