// The whole detection of one region on rendered plates with known crossings:
// binarization, the four scans, line validation, the crossings and their
// refinement. Every crossing inside the region must be found once, in node
// order, close to the true crossing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "detect/detect_test_support.h"
#include "detect/grid_lines.h"
#include "detect/plate_test_support.h"
#include "detect/scan_sides.h"
#include "platform/scripted_platform.h"
#include "tools/synth/synthetic_plate.h"

namespace qova {
namespace {

struct PlateCase {
  const char* name;
  double angleDeg;
  double originX, originY;
  double lineWidth;
  double noise;
};

class SyntheticPlate : public ::testing::TestWithParam<PlateCase> {};

TEST_P(SyntheticPlate, EveryCrossingOfTheRegionIsFoundInOrder) {
  const PlateCase& c = GetParam();
  PlateParams params;
  params.width = 760;
  params.height = 700;
  params.pitch = 80;
  params.lineWidth = c.lineWidth;
  params.angleDeg = c.angleDeg;
  params.originX = c.originX;
  params.originY = c.originY;
  params.noise = c.noise;
  const Plate plate = RenderPlate(params);

  // Corners placed with the mouse lie on whole pixels.
  std::vector<QPointF> corners = RegionInCells(plate, 1, 1, 6, 5);
  for (QPointF& p : corners) p = QPointF(std::round(p.x()), std::round(p.y()));
  const std::vector<QPointF> expected = CrossingsInside(plate, corners);
  ASSERT_EQ(expected.size(), 30u);

  ScriptedPlatform desktop;
  StateRecord s(desktop);
  testing::BinarizedPlateRegion(s, plate.image, corners);
  ScanSide03(s, 0);
  ScanSide12(s, 0);
  ScanSide23(s, 0);
  ScanSide01(s, 0);
  EXPECT_EQ(s.SidePoints03.Count(), 5);
  EXPECT_EQ(s.SidePoints12.Count(), 5);
  EXPECT_EQ(s.SidePoints23.Count(), 6);
  EXPECT_EQ(s.SidePoints01.Count(), 6);
  ASSERT_TRUE(ValidateLines(s));
  EXPECT_TRUE(desktop.messages.empty());
  FindCrossNodes(s, 0);
  ASSERT_EQ(s.CrossNodes.Length(), 30);
  EXPECT_TRUE(RefineCrossPoints(s, 0));

  ASSERT_EQ(s.FoundPoints.Count(), 30);
  double worst = 0, sumSquares = 0;
  for (int32_t k = 0; k < s.FoundPoints.Count(); ++k) {
    const VT_Point* p = s.FoundPoints.Get(k);
    const QPointF& truth = expected[static_cast<size_t>(k)];
    const double dx = p->x - truth.x(), dy = p->y - truth.y();
    const double error = std::sqrt(dx * dx + dy * dy);
    EXPECT_LT(error, 0.5) << "point " << k << " at " << p->x << ", " << p->y << " for " << truth.x()
                          << ", " << truth.y();
    worst = std::max(worst, error);
    sumSquares += error * error;
  }
  const double rms = std::sqrt(sumSquares / s.FoundPoints.Count());
  std::printf("[ plate %s ] largest error %.4f px, RMS %.4f px\n", c.name, worst, rms);
  RecordProperty("largest_error", std::to_string(worst));
  RecordProperty("rms_error", std::to_string(rms));
}

INSTANTIATE_TEST_SUITE_P(Plates, SyntheticPlate,
                         ::testing::Values(PlateCase{"Straight", 0, 0, 0, 3, 0},
                                           PlateCase{"Shifted", 0, 0.37, -0.61, 3, 0},
                                           PlateCase{"TurnedTwoDegrees", 2, 0.25, 0.4, 3, 0},
                                           PlateCase{"TurnedMinusThree", -3, -0.3, 0.15, 3, 0},
                                           PlateCase{"ThinNoisyTurned", 1.3, 0.45, 0.2, 2, 4}),
                         [](const ::testing::TestParamInfo<PlateCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace qova
