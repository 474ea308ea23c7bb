// Protected regions: which "<" the passes may start at.
#include <gtest/gtest.h>

#include "html/protected_regions.h"

namespace vantoro::internal {
namespace {

std::vector<std::size_t> Starts(std::string_view text, RegionSet set) {
  std::vector<std::size_t> out;
  UnprotectedTags tags(text, set);
  for (std::size_t lt; (lt = tags.Next()) != std::string_view::npos;) out.push_back(lt);
  return out;
}

using V = std::vector<std::size_t>;

TEST(ProtectedRegions, Comments) {
  EXPECT_EQ(Starts("<a><!-- <b> --><c>", RegionSet::kPage), (V{0, 15}));
  EXPECT_EQ(Starts("<!--><a>", RegionSet::kPage), (V{5}));
  EXPECT_EQ(Starts("<!---><a>", RegionSet::kPage), (V{6}));
  EXPECT_EQ(Starts("<!-- <a>", RegionSet::kPage), V{});
  EXPECT_EQ(Starts("<!--[if IE]><p><![endif]--><p>", RegionSet::kPage), (V{27}));
}

TEST(ProtectedRegions, RawText) {
  // The start and end tags are outside; what lies between is not.
  EXPECT_EQ(Starts("<script>a<b</script><c>", RegionSet::kPage), (V{0, 11, 20}));
  EXPECT_EQ(Starts("<SCRIPT type=x>a<b</Script >", RegionSet::kPage), (V{0, 18}));
  EXPECT_EQ(Starts("<title>x<p></title>", RegionSet::kPage), (V{0, 11}));
  EXPECT_EQ(Starts("<textarea\n><br></textarea>", RegionSet::kPage), (V{0, 15}));
  EXPECT_EQ(Starts("<xmp/><p></xmp>", RegionSet::kPage), (V{0, 9}));
  EXPECT_EQ(Starts("<style>p<b", RegionSet::kPage), (V{0}));
  EXPECT_EQ(Starts("<script <p>", RegionSet::kPage), (V{0, 8}));  // inside the start tag
  EXPECT_EQ(Starts("<script <p", RegionSet::kPage), (V{0}));  // no ">": to the end
  EXPECT_EQ(Starts("<style a=\"<div>\"><p></style>", RegionSet::kPage), (V{0, 10, 20}));
  EXPECT_EQ(Starts("<title x=\"<!--\">a<p>--><b></title><i>", RegionSet::kPage), (V{0, 26, 34}));
  EXPECT_EQ(Starts("<scripts><p>", RegionSet::kPage), (V{0, 9}));  // another element
  EXPECT_EQ(Starts("<script><!--</script><p>", RegionSet::kPage), (V{0, 12, 21}));
}

TEST(ProtectedRegions, SvgAndMathOnlyForContent) {
  std::string svg = "<svg><path/></path><svg x><p></p></svg></svg><p>";
  EXPECT_EQ(Starts(svg, RegionSet::kContent), (V{45}));
  EXPECT_EQ(Starts(svg, RegionSet::kPage).size(), 9u);
  EXPECT_EQ(Starts("<math><mi>x</mi></math ><br>", RegionSet::kContent), (V{24}));
  EXPECT_EQ(Starts("<svg><p>", RegionSet::kContent), V{});
  EXPECT_EQ(Starts("<svgx><p>", RegionSet::kContent), (V{0, 6}));
  EXPECT_EQ(Starts("<SVG\n></svg><br>", RegionSet::kContent), (V{12}));
}

}  // namespace
}  // namespace vantoro::internal
