// The start from the region's corners: on a rendered grid, slightly turned
// and with corners off the cell centres, every crossing inside the region
// is found once, within the coarse snap's reach of its place; blank paper or a region without a
// grid is refused with a reason.
#include "precise/corner_start.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "tests/support/line_image.h"

namespace qova::precise {
namespace {

TEST(CornerStart, FindsEveryCrossingOfTheRegion) {
  testing::LineImageSpec spec;
  spec.width = 320, spec.height = 260;
  for (int k = 0; k < 7; ++k) spec.columns.push_back(22.3 + 45.1 * k);
  for (int k = 0; k < 6; ++k) spec.rows.push_back(18.8 + 44.7 * k);
  spec.slopeV = 0.01, spec.slopeH = -0.01;
  spec.lineWidth = 2, spec.blur = 0.7;
  spec.noise = 3;
  const QImage image = testing::RenderLineImage(spec);
  const GreyView view(image, true, false);
  auto crossing = [&](int i, int j) {
    const double y = (spec.rows[j] - 0.01 * spec.columns[i]) / (1 + 0.01 * 0.01);
    return Vec2{spec.columns[i] + 0.01 * y, y};
  };
  // Corners in the cells beyond crossings (1, 1) and (5, 4), off their
  // centres by a few pixels: 5 × 4 crossings inside.
  auto cell = [&](int i, int j) {
    return 0.25 *
           (crossing(i, j) + crossing(i + 1, j) + crossing(i, j + 1) + crossing(i + 1, j + 1));
  };
  const std::array<Vec2, 4> corners{cell(0, 0) + Vec2{3, -2}, cell(5, 0) + Vec2{-4, 2},
                                    cell(5, 4) + Vec2{2, 3}, cell(0, 4) + Vec2{-3, -3}};
  const PreciseParams params;
  std::string why;
  const auto starts = StartsFromCorners(view, corners, params, why);
  ASSERT_TRUE(starts) << why;
  EXPECT_EQ(starts->size(), 20u);
  for (int i = 1; i <= 5; ++i)
    for (int j = 1; j <= 4; ++j) {
      int near = 0;
      for (const Vec2& s : *starts) near += Distance(s, crossing(i, j)) < 4;
      EXPECT_EQ(near, 1) << i << "," << j;
    }
  // Blank paper: no lines to find.
  const QImage blank = testing::RenderLineImage(testing::LineImageSpec{});
  const GreyView blankView(blank, true, false);
  const std::array<Vec2, 4> box{Vec2{20, 20}, Vec2{180, 20}, Vec2{180, 180}, Vec2{20, 180}};
  why.clear();
  EXPECT_FALSE(StartsFromCorners(blankView, box, params, why));
  EXPECT_FALSE(why.empty());
  // A region whose columns lie beyond the image's right edge.
  const std::array<Vec2, 4> outside{Vec2{400, 20}, Vec2{600, 20}, Vec2{600, 180}, Vec2{400, 180}};
  why.clear();
  EXPECT_FALSE(StartsFromCorners(view, outside, params, why));
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace qova::precise
