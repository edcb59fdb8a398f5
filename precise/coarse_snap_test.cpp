// The coarse snap: starts several pixels off find the lines and their
// crossing to within a parabola step, in both frames.
#include "precise/coarse_snap.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/line_image.h"

namespace qova::precise {
namespace {

TEST(CoarseSnap, StartsPixelsOffFindTheCrossing) {
  testing::LineImageSpec spec;
  spec.width = spec.height = 200;
  spec.columns = {30.4, 80.7, 131.0, 181.3};
  spec.rows = {25.2, 75.6, 126.0, 176.4};
  spec.slopeV = 0.01, spec.slopeH = 0.015;
  spec.lineWidth = 3, spec.blur = 1;
  spec.noise = 4;
  const QImage image = testing::RenderLineImage(spec);
  const GreyView vertical(image, true, false), horizontal(image, true, true);
  const PreciseParams params;
  const LineGeometry v{0.01, 0, 50.3, 50.3, 50.3}, h{0.015, 0, 50.3, 50.3, 50.3};
  const double y = (75.6 + 0.015 * 80.7) / (1 - 0.015 * 0.01);
  const Vec2 truth{80.7 + 0.01 * y, y};
  for (const Vec2 off : {Vec2{3.5, -2.8}, Vec2{-4, 3}, Vec2{0.4, 0.2}, Vec2{-2, -3.6}}) {
    const auto line = SnapLine(vertical, truth + off, v, params.snapWindow, params);
    ASSERT_TRUE(line);
    // The offset moves the line through the start onto the line itself.
    EXPECT_NEAR(truth.x + off.x + *line, truth.x + 0.01 * off.y, 0.5) << off.x << "," << off.y;
    const auto p = SnapCrossing(vertical, horizontal, truth + off, v, h, params.snapWindow, params);
    ASSERT_TRUE(p);
    EXPECT_LT(Distance(*p, truth), 0.5) << off.x << "," << off.y;
  }
  // Blank paper: no ridge to snap to.
  const QImage blank = testing::RenderLineImage(testing::LineImageSpec{});
  const GreyView bv(blank, true, false), bh(blank, true, true);
  EXPECT_FALSE(SnapCrossing(bv, bh, {100, 100}, v, h, params.snapWindow, params));
}

}  // namespace
}  // namespace qova::precise
