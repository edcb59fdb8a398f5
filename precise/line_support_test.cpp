// How far a family's lines reach: the half-width of the pooled profile
// against the rendered profile's own, and the band and ring made from it.
#include "precise/line_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/line_image.h"

namespace qova::precise {
namespace {

// Where the rendered (pixel-integrated) profile falls below 2 % of its
// peak, half the distance between the two sides.
double ProfileReach(double w, double blur) {
  const double peak = testing::LineCoverage(0, w, blur);
  double d = 0;
  while (testing::LineCoverage(d, w, blur) >= 0.02 * peak) d += 0.001;
  return d;
}

TEST(LineSupport, HalfWidthIsWhereThePooledProfileFades) {
  const PreciseParams params;
  for (const auto& [w, blur] :
       {std::pair{1.0, 0.0}, std::pair{2.5, 0.6}, std::pair{4.0, 1.5}, std::pair{7.0, 0.3}}) {
    testing::LineImageSpec spec;
    spec.width = spec.height = 260;
    spec.columns = {50.3, 110.55, 170.8, 231.05};
    spec.rows = {49.9, 110.2, 170.5, 230.8};
    spec.slopeV = 0.004, spec.slopeH = -0.006;
    spec.lineWidth = w, spec.blur = blur;
    const QImage image = testing::RenderLineImage(spec);
    for (bool transposed : {false, true}) {
      const GreyView view(image, true, transposed);
      std::vector<Vec2> centres;
      std::vector<LineGeometry> lines;
      const double slope = transposed ? spec.slopeH : spec.slopeV;
      for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 2; ++j) {
          const double x0 = transposed ? spec.rows[j] : spec.columns[i];
          const double y = transposed ? spec.columns[i] : spec.rows[j];
          centres.push_back({x0 + slope * y, y});  // near the crossing; the snap's rows skip it
          lines.push_back({slope, 0, 60.25, 60.25, 60.25});
        }
      const auto s = SupportHalfWidth(view, centres, lines, params);
      ASSERT_TRUE(s);
      // The bins are a quarter pixel wide, and the first bin below the
      // level lies up to a bin beyond the level's crossing.
      const double reach = ProfileReach(w, blur);
      EXPECT_GE(*s, reach - 0.2) << w << " " << blur;
      EXPECT_LE(*s, reach + 0.45) << w << " " << blur;
    }
  }
  // Blank paper shows no line.
  testing::LineImageSpec blank;
  const QImage image = testing::RenderLineImage(blank);
  const GreyView view(image, true, false);
  const std::vector<Vec2> centres{{100, 100}};
  const std::vector<LineGeometry> lines{{0, 0, 60, 60, 60}};
  EXPECT_FALSE(SupportHalfWidth(view, centres, lines, params));
}

// h1 = max(1.5, ceil(2(S + 0.5))/2), so 2·h1 is whole; h2 = h1 + max(2, h1/2);
// the core reaches past the other family's band.
TEST(LineSupport, BandAndRingFromTheHalfWidth) {
  const PreciseParams params;
  for (double s : {0.2, 0.9, 1.0, 1.26, 3.7, 9.9, 14.0}) {
    const LineSupport support = SupportFromHalfWidth(s, params);
    EXPECT_GE(support.h1, s + 0.5 - 1e-12);
    EXPECT_LE(support.h1, std::max(1.5, s + 1.0));
    EXPECT_EQ(std::fmod(2 * support.h1, 1.0), 0.0);
    EXPECT_DOUBLE_EQ(support.h2 - support.h1, std::max(2.0, support.h1 / 2));
  }
  const LineSupport thin = SupportFromHalfWidth(0.5, params);
  const LineSupport wide = SupportFromHalfWidth(4, params);
  EXPECT_DOUBLE_EQ(CoreRadius(thin, wide), wide.h1 + 1 + 0.1 * thin.h2);
}

}  // namespace
}  // namespace qova::precise
