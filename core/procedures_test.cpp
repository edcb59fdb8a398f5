#include "core/procedures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/qova_error.h"

namespace qova {
namespace {

TEST(RoundNearest, HalvesAwayFromZero) {
  EXPECT_EQ(RoundNearest(2.5), 3);
  EXPECT_EQ(RoundNearest(-2.5), -3);
  EXPECT_EQ(RoundNearest(2.4999), 2);
  EXPECT_EQ(RoundNearest(-0.4), 0);
  EXPECT_EQ(RoundNearest(0.5), 1);
  EXPECT_EQ(RoundNearest(-0.5), -1);
  EXPECT_EQ(RoundNearest(7.0), 7);
  EXPECT_EQ(RoundNearest(-7.0), -7);
  EXPECT_EQ(RoundNearest(0.0), 0);
  EXPECT_EQ(RoundNearest(-0.0), 0);
  EXPECT_EQ(RoundNearest(197.96), 198);
  EXPECT_EQ(RoundNearest(101.98), 102);
}

// Its own steps, not std::round: 1 − (1 − 0.49999999999999994) is exactly
// 0.5 in double arithmetic, so the value rounds up where std::round gives 0.
TEST(RoundNearest, FollowsItsOwnStepsNotStdRound) {
  const double justBelowHalf = 0.49999999999999994;
  ASSERT_EQ(std::round(justBelowHalf), 0.0);
  EXPECT_EQ(RoundNearest(justBelowHalf), 1);
  EXPECT_EQ(RoundNearest(-justBelowHalf), -1);
}

TEST(RoundNearest, IntRangeEdges) {
  EXPECT_EQ(RoundNearest(2147483647.4), 2147483647);
  EXPECT_EQ(RoundNearest(-2147483648.4), -2147483647 - 1);
  EXPECT_THROW(RoundNearest(2147483647.5), ArithmeticError);
  EXPECT_THROW(RoundNearest(-2147483648.5), ArithmeticError);
  EXPECT_THROW(RoundNearest(1e300), ArithmeticError);
  EXPECT_THROW(RoundNearest(std::numeric_limits<double>::infinity()), ArithmeticError);
  EXPECT_THROW(RoundNearest(std::numeric_limits<double>::quiet_NaN()), ArithmeticError);
}

}  // namespace
}  // namespace qova
