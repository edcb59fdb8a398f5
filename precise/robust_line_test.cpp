// The line through the row centres: the least-squares line and its
// covariance against their closed forms, the rejection of rows that lie
// off it, and the rounding floor of its intercept.
#include "precise/robust_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace qova::precise {
namespace {

// Rows at Y = dy[r] whose centres lie at z[r] (xk = z, centre 0, c.x = 0).
RowScratch RowsAt(const std::vector<double>& dy, const std::vector<double>& z) {
  RowScratch scratch;
  for (size_t r = 0; r < dy.size(); ++r) {
    MeasuredRow row;
    row.arm = dy[r] < 0 ? 0 : 1;
    row.y = static_cast<int>(std::lround(dy[r]));
    row.dy = dy[r];
    row.xk = z[r];
    row.valid = row.inlier = true;
    row.floor = 0.01;
    scratch.rows.push_back(row);
  }
  return scratch;
}

// β = Σ(Y − Ȳ)(z − z̄)/Σ(Y − Ȳ)², α = z̄ − β·Ȳ, s² = Σe²/(n − 2),
// var β = s²/Syy, var α = s²(1/n + Ȳ²/Syy), cov = −Ȳ·s²/Syy.
TEST(RobustLine, StraightFitIsTheClosedFormLeastSquaresLine) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-0.3, 0.3);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<double> dy, z;
    const double a = 3 * noise(random), b = noise(random);
    for (int y = -40 + trial; y <= 25 + 2 * trial; y += 1 + trial % 3)
      dy.push_back(y + 0.37), z.push_back(a + b * (y + 0.37) + noise(random));
    const RowScratch scratch = RowsAt(dy, z);
    const StraightFit f = FitStraight(scratch.rows, z);
    ASSERT_TRUE(f.ok);
    const double n = static_cast<double>(dy.size());
    double my = 0, mz = 0;
    for (size_t r = 0; r < dy.size(); ++r) my += dy[r] / n, mz += z[r] / n;
    double syy = 0, syz = 0;
    for (size_t r = 0; r < dy.size(); ++r)
      syy += (dy[r] - my) * (dy[r] - my), syz += (dy[r] - my) * (z[r] - mz);
    const double beta = syz / syy, alpha = mz - beta * my;
    double sse = 0;
    for (size_t r = 0; r < dy.size(); ++r) sse += std::pow(z[r] - alpha - beta * dy[r], 2);
    const double s2 = sse / (n - 2);
    EXPECT_NEAR(f.alpha, alpha, 1e-10);
    EXPECT_NEAR(f.beta, beta, 1e-12);
    EXPECT_NEAR(f.varBeta, s2 / syy, 1e-12);
    EXPECT_NEAR(f.varAlpha, s2 * (1 / n + my * my / syy), 1e-12);
    EXPECT_NEAR(f.cov, -my * s2 / syy, 1e-12);
  }
  // Fewer than three rows, or all on one row, give no line.
  const RowScratch two = RowsAt({-3, 4}, {0, 0});
  EXPECT_FALSE(FitStraight(two.rows, {0, 0}).ok);
  const RowScratch same = RowsAt({2, 2, 2}, {0, 1, 2});
  EXPECT_FALSE(FitStraight(same.rows, {0, 1, 2}).ok);
}

// Rows far off the line are dropped and the line through the rest is
// exact; rows within the floor's reach are all kept.
TEST(RobustLine, DropsRowsOffTheLineAndKeepsTheRest) {
  std::vector<double> dy, z;
  for (int y = -30; y <= 30; ++y)
    if (std::abs(y) > 3) dy.push_back(y), z.push_back(0.25 + 0.01 * y + (y % 2 ? 0.004 : -0.004));
  z[5] += 1.5, z[40] -= 0.9;  // two rows on a speck of dust
  RowScratch scratch = RowsAt(dy, z);
  const PreciseParams params;
  const StraightFit f = RobustLine({0, 0}, 0, params, scratch);
  ASSERT_TRUE(f.ok);
  EXPECT_FALSE(scratch.rows[5].inlier);
  EXPECT_FALSE(scratch.rows[40].inlier);
  int kept = 0;
  for (const MeasuredRow& row : scratch.rows) kept += row.inlier;
  EXPECT_EQ(kept, static_cast<int>(dy.size()) - 2);
  EXPECT_NEAR(f.alpha, 0.25, 1e-3);
  EXPECT_NEAR(f.beta, 0.01, 1e-4);
}

// A noiseless line whose rows agree to the last digit: one row a speck of
// dust moved 0.06 px is off it (rows within rejectFloor are kept whatever
// the MAD; beyond it the MAD's σ rules, and here it is nil).
TEST(RobustLine, NoiselessRowsDropARowOffByHundredths) {
  std::vector<double> dy, z;
  for (int y = -40; y <= 40; ++y)
    if (std::abs(y) > 3) dy.push_back(y), z.push_back(200.0);
  z[10] += 0.06, z[50] += 0.015;
  RowScratch scratch = RowsAt(dy, z);
  const StraightFit f = RobustLine({200, 0}, 0, PreciseParams{}, scratch);
  ASSERT_TRUE(f.ok);
  EXPECT_FALSE(scratch.rows[10].inlier);
  EXPECT_TRUE(scratch.rows[50].inlier);
  EXPECT_NEAR(f.alpha, 0, 5e-4);
}

// The intercept's rounding floor: the median row floor, divided by the
// number of distinct sub-pixel phases of the line among the kept rows.
TEST(RobustLine, RoundingFloorShrinksWithTheNumberOfPhases) {
  const PreciseParams params;
  std::vector<double> dy, z;
  for (int y = -20; y <= 20; ++y)
    if (y != 0) dy.push_back(y), z.push_back(0);
  {  // An axis-aligned line: every row at one phase, the floor stays.
    RowScratch scratch = RowsAt(dy, z);
    const StraightFit f = RobustLine({10, 0}, 0, params, scratch);
    ArmQuality arms[2];
    double floorVariance = 0;
    ASSERT_TRUE(CountRows({10, 0}, 0, f, params, scratch, arms, floorVariance));
    EXPECT_NEAR(floorVariance, 0.01 * 0.01, 1e-12);
    EXPECT_EQ(arms[0].usable, 20);
    EXPECT_EQ(arms[1].usable, 20);
  }
  {  // A slope of 1/41: the 40 rows at 40 different phases.
    std::vector<double> tilted;
    for (double y : dy) tilted.push_back(y / 41);
    RowScratch scratch = RowsAt(dy, tilted);
    const StraightFit f = RobustLine({0, 0}, 0, params, scratch);
    ArmQuality arms[2];
    double floorVariance = 0;
    ASSERT_TRUE(CountRows({0, 0}, 0, f, params, scratch, arms, floorVariance));
    EXPECT_NEAR(floorVariance, 0.01 * 0.01 / 40, 1e-12);
  }
  {  // Too few rows on one arm: no line.
    std::vector<double> oneSided = {-9, -8, -7, -6, 5};
    RowScratch scratch = RowsAt(oneSided, std::vector<double>(5, 0.0));
    const StraightFit f = RobustLine({0, 0}, 0, params, scratch);
    ArmQuality arms[2];
    double floorVariance = 0;
    EXPECT_FALSE(CountRows({0, 0}, 0, f, params, scratch, arms, floorVariance));
  }
}

}  // namespace
}  // namespace qova::precise
