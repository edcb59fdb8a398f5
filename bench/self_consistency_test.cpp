// Self-consistency: nil on any smooth (quadratic) lattice, whatever its
// distortion; a crossing moved off it shows, as the leave-one-out error of
// itself and of the neighbours it is used to predict.
#include "bench/self_consistency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace qova {
namespace {

using precise::Vec2;

Vec2 Smooth(int i, int j) {
  return {40 + 31 * i + 0.4 * j + 0.05 * i * i - 0.03 * i * j,
          25 - 0.3 * i + 29.5 * j + 0.02 * j * j + 0.04 * i * j};
}

TEST(SelfConsistency, NilOnASmoothLatticeAndShowsAMovedCrossing) {
  std::vector<Vec2> points;
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < 7; ++j) points.push_back(Smooth(i, j));
  auto s = MeasureSelfConsistency(points);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->points, 63);
  EXPECT_EQ(s->indexed, 63);
  EXPECT_EQ(s->duplicates, 0);
  EXPECT_EQ(s->predicted, 63 - 4 * 3);  // a corner and its two neighbours have under 12
  EXPECT_LT(s->leaveOut, 1e-9);
  EXPECT_LT(s->globalCubic, 1e-9);
  points[4 * 7 + 3].x += 0.1;  // the middle crossing
  s = MeasureSelfConsistency(points);
  ASSERT_TRUE(s);
  EXPECT_GT(s->leaveOut, 0.01);
  EXPECT_LT(s->leaveOut, 0.1);
  points.push_back(Smooth(2, 2) + Vec2{1, 1});  // a duplicate
  s = MeasureSelfConsistency(points);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->duplicates, 1);
  EXPECT_FALSE(MeasureSelfConsistency(std::vector<Vec2>(points.begin(), points.begin() + 9)));
}

}  // namespace
}  // namespace qova
