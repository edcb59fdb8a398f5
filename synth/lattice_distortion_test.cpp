#include "synth/lattice_distortion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

namespace qova {
namespace {

// Every step of the distortion at once, strong enough to matter.
LatticeDistortion Everything() {
  LatticeDistortion d;
  d.angleDeg = 12, d.shearDeg = 0.5, d.pitchX = 48, d.pitchY = 51;
  d.originX = 300, d.originY = 80;
  d.tiltX = 0.08, d.tiltY = -0.05;
  d.k1 = -0.04, d.k2 = 0.01, d.radialOffsetX = 120, d.radialOffsetY = -70;
  d.warpX = {1.5, -0.5, 0.8, 0.4, 0, -0.3, 0.2};
  d.warpY = {-0.7, 0.9, 0.2, 0, 0.5, 0.1, -0.4};
  d.stepAmplitude = 0.4, d.stepPeriod = 400;
  return d;
}

TEST(LatticeDistortion, WithoutDistortionTheLatticeIsIdeal) {
  LatticeDistortion d;
  d.angleDeg = 30, d.pitchX = 40, d.pitchY = 45;
  const SynthXY p = d.ToImage(2, 3);
  const double a = 30 * M_PI / 180;
  EXPECT_NEAR(p.x, 100 + 2 * 40 * std::cos(a) - 3 * 45 * std::sin(a), 1e-12);
  EXPECT_NEAR(p.y, 100 + 2 * 40 * std::sin(a) + 3 * 45 * std::cos(a), 1e-12);
}

TEST(LatticeDistortion, ToPlateInvertsToImageBetweenCrossingsToo) {
  const LatticeDistortion d = Everything();
  for (double c = -2; c <= 30; c += 0.37)
    for (double r = -1; r <= 25; r += 0.41) {
      const SynthXY p = d.ToImage(c, r);
      const SynthXY back = d.ToPlate(p.x, p.y);
      ASSERT_NEAR(back.x, c, 1e-9) << c << " " << r;
      ASSERT_NEAR(back.y, r, 1e-9) << c << " " << r;
    }
}

TEST(LatticeDistortion, PointsCarryTheirTruthAndTheSameSettingsGiveTheSamePoints) {
  LatticePlateParams setup;
  setup.distortion = Everything();
  setup.columns = 30, setup.rows = 25, setup.noise = 0.01, setup.missing = 0.1, setup.dust = 12,
  setup.duplicates = 0.05;
  const auto points = MakeLatticePoints(setup);
  const auto again = MakeLatticePoints(setup);
  ASSERT_EQ(points.size(), again.size());
  int dust = 0, duplicates = 0, crossings = 0;
  std::set<std::pair<int, int>> seen;
  for (size_t i = 0; i < points.size(); ++i) {
    const LatticePoint& p = points[i];
    EXPECT_EQ(p.x, again[i].x);
    EXPECT_EQ(p.y, again[i].y);
    EXPECT_TRUE(p.x >= 0 && p.y >= 0 && p.x <= 1999 && p.y <= 1499);
    const SynthXY cr = setup.distortion.ToPlate(p.trueX, p.trueY);
    if (p.dust) {
      ++dust;
      EXPECT_GE(std::hypot(cr.x - std::round(cr.x), cr.y - std::round(cr.y)), 0.35 - 1e-9);
      continue;
    }
    EXPECT_NEAR(cr.x, p.column, 1e-9);
    EXPECT_NEAR(cr.y, p.row, 1e-9);
    if (p.duplicate) {
      ++duplicates;
      EXPECT_TRUE(seen.count({p.column, p.row}));
    } else {
      ++crossings;
      EXPECT_TRUE(seen.insert({p.column, p.row}).second);
      EXPECT_LT(std::hypot(p.x - p.trueX, p.y - p.trueY), 0.1);
    }
  }
  EXPECT_EQ(dust, 12);
  EXPECT_GT(duplicates, 0);
  // About 10 % of the crossings inside the image are missing.
  EXPECT_LT(crossings, 750 * 0.97);
  EXPECT_GT(crossings, 400);
}

}  // namespace
}  // namespace qova
