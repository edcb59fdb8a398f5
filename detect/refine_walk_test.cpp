// The refinement as built (band counts, the transposed mask, stretches of
// steps walked without counting) against a plain transcription of its walks,
// which collects the band at every step and compares the sizes: on rendered
// plates, on plates with noise added to the mask, with lines erased from the
// mask so that walks run to the image's edge, and with other thresholds.
// Every point must come out bit for bit the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "detect/plain_refine.h"
#include "detect/plate_test_support.h"

namespace qova {
namespace {

struct WalkCase {
  const char* name;
  double angleDeg;
  double noise;      // of the rendered image
  double maskNoise;  // share of mask cells set at random after binarization
  int erasedLine;  // the first horizontal line (from the top) of those cleared from the mask, or -1
  double increasePorog;  // CrossIncreasePorog
};

class RefineWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(RefineWalk, EqualsThePlainWalkBitForBit) {
  const WalkCase& c = GetParam();
  PlateParams params;
  params.width = 700;
  params.height = 620;
  params.pitch = 80;
  params.lineWidth = 3;
  params.angleDeg = c.angleDeg;
  params.originX = 0.3;
  params.originY = -0.45;
  params.noise = c.noise;
  const Plate plate = RenderPlate(params);
  testing::DetectState st;
  testing::DetectRecord& s = st.s;
  testing::BinarizedPlateRegion(s, plate.image, RegionInCells(plate, 1, 1, 5, 4));
  st.ScanSide03(0);
  st.ScanSide12(0);
  st.ScanSide23(0);
  st.ScanSide01(0);
  ASSERT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  st.FindCrossNodes(0);
  ASSERT_GT(s.CrossNodes.Length(), 4);

  std::mt19937 rng(static_cast<std::mt19937::result_type>(std::hash<std::string>{}(c.name)));
  std::uniform_real_distribution<double> unit(0, 1);
  if (c.maskNoise > 0)
    for (int x = 0; x < s.ImageWidth; ++x)
      for (int y = 0; y < s.ImageHeight; ++y)
        if (unit(rng) < c.maskNoise) s.BinaryMask[x][y] = 1;
  if (c.erasedLine >= 0) {
    // Every cell within four pixels of the horizontal lines from that one
    // down: the walks from the nodes on them run on to the image's edge.
    for (int x = 0; x < s.ImageWidth; ++x)
      for (int y = 0; y < s.ImageHeight; ++y) {
        const double t =
            (x - plate.anchor.x()) * plate.down.x() + (y - plate.anchor.y()) * plate.down.y();
        const double l = std::round(t / params.pitch);
        if (l >= plate.firstL + c.erasedLine && std::fabs(t - l * params.pitch) < 4)
          s.BinaryMask[x][y] = 0;
      }
  }
  s.CrossIncreasePorog = c.increasePorog;

  const PlainRefinement plain =
      PlainRefineCrossPoints(s.Mask(), s.CrossNodes, s.HorizontalLines.Count(), s);
  s.FoundPoints.Clear();
  const bool ok = st.RefineCrossPoints(0) == RefineOutcome::Complete;
  ASSERT_EQ(ok, plain.ok);
  ASSERT_EQ(s.FoundPoints.Count(), static_cast<int32_t>(plain.points.size()));
  for (int32_t k = 0; k < s.FoundPoints.Count(); ++k) {
    EXPECT_EQ(s.FoundPoints.Get(k)->x, plain.points[static_cast<size_t>(k)].x) << "point " << k;
    EXPECT_EQ(s.FoundPoints.Get(k)->y, plain.points[static_cast<size_t>(k)].y) << "point " << k;
  }
  std::printf("[ walk %s ] %d points\n", c.name, s.FoundPoints.Count());
}

INSTANTIATE_TEST_SUITE_P(Plates, RefineWalk,
                         ::testing::Values(WalkCase{"Clean", 1, 0, 0, -1, 0.8},
                                           WalkCase{"Noisy", -2, 6, 0, -1, 0.8},
                                           WalkCase{"SpeckledMask", 0.5, 0, 0.03, -1, 0.8},
                                           WalkCase{"DenseSpeckles", 1.5, 2, 0.12, -1, 0.8},
                                           WalkCase{"ErasedLines", 2.5, 0, 0.05, 3, 0.8},
                                           WalkCase{"LowThreshold", -1, 3, 0.01, -1, 0.2},
                                           WalkCase{"HighThreshold", 2.5, 0, 0.02, -1, 1.6}),
                         [](const ::testing::TestParamInfo<WalkCase>& test) {
                           return test.param.name;
                         });

}  // namespace
}  // namespace qova
