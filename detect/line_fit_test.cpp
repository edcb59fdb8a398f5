#include "detect/line_fit.h"

#include <gtest/gtest.h>

#include "core/checked_math.h"

namespace qova {
namespace {

TEST(FitLine, ThreePointsOnALine) {
  VT_Points points(1);
  points.AddNew(0, 1);
  points.AddNew(1, 3);
  points.AddNew(2, 5);
  const VT_Point ab = FitLine(points);
  EXPECT_EQ(ab.x, -2);
  EXPECT_EQ(ab.y, -1);
  const Band band = {{0, 1}, {1, 3}, {2, 5}};
  const VT_Point fromBand = FitLine(band);
  EXPECT_EQ(fromBand.x, -2);
  EXPECT_EQ(fromBand.y, -1);
}

TEST(FitLine, OneAbscissaOrNoPointsRaises) {
  VT_Points column(1);
  column.AddNew(4, 1);
  column.AddNew(4, 7);
  EXPECT_THROW(FitLine(column), ArithmeticError);
  VT_Points empty(1);
  EXPECT_THROW(FitLine(empty), ArithmeticError);
  EXPECT_THROW(FitLine(Band{}), ArithmeticError);
}

}  // namespace
}  // namespace qova
