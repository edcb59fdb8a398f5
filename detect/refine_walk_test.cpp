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

#include "core/checked_math.h"
#include "detect/detect_test_support.h"
#include "detect/grid_lines.h"
#include "detect/line_fit.h"
#include "detect/plate_test_support.h"
#include "detect/scan_sides.h"
#include "tools/synth/synthetic_plate.h"

namespace qova {
namespace {

double Distance(double x1, double y1, double x2, double y2) {
  return std::sqrt((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2));
}

// One walk as the algorithm states it: move, collect, compare with the last
// size, until the band is crossed or the walk passes limit.
template <class Move, class Collect, class Walked>
void PlainCrossBand(Band& band, int32_t& prev, double threshold, double limit, Move move,
                    Collect collect, Walked walked, double maxDistance) {
  bool leaving = false, entered = false, first = true;
  int32_t g = 0;
  do {
    band.clear();
    move(1.0);
    collect(maxDistance);
    if (first) {
      first = false;
    } else {
      const double diff = static_cast<double>(static_cast<int64_t>(band.size()) - prev);
      if (diff > threshold && !entered) entered = true;
      if (entered) {
        if (diff < -threshold) leaving = true;
        if (leaving) {
          band.clear();
          move(-((g - 1) * 0.5));
          collect((g + 1) * 0.5);
        }
        g = g + 1;
      }
    }
    prev = static_cast<int32_t>(band.size());
    if (walked() > limit) leaving = true;
  } while (!leaving);
}

struct Outcome {
  bool ok = false;
  std::vector<std::pair<double, double>> points;
};

Outcome PlainRefine(const StateRecord& s) {
  Outcome out;
  try {
    Band horizontalBand, verticalBand;
    int32_t prev = 0;
    const int32_t nodes = s.CrossNodes.Length();
    const int32_t nH = s.HorizontalLines.Count();
    const double window = s.SearchWindowHeight * 0.5;
    auto crossing = [&](int32_t k) { return NodeCrossing(s.CrossNodes[k]); };
    auto cellSize = [&](const NodePixel& at, int32_t before, int32_t after) {
      if (before >= 0 && after >= 0)
        return Distance(crossing(before).x, crossing(before).y, crossing(after).x,
                        crossing(after).y) /
               2;
      const int32_t other = after >= 0 ? after : before;
      return Distance(at.x, at.y, crossing(other).x, crossing(other).y);
    };
    for (int32_t k = 0; k < nodes; ++k) {
      const CrossNode node = s.CrossNodes[k];
      const double sv = node.VerticalSlope, bv = node.VerticalOffset;
      const double sh = node.HorizontalSlope, bh = node.HorizontalOffset;
      const NodePixel at = NodeCrossing(node);
      const double x0 = at.x, y0 = at.y;
      // The plates below have at least two lines each way: a neighbour always exists.
      const double J = cellSize(at, k - nH >= 0 ? k - nH : -1, k + nH < nodes ? k + nH : -1) *
                       s.CrossWindowWidth;
      const double M = cellSize(at, k % nH == 0 ? -1 : k - 1, (k + 1) % nH == 0 ? -1 : k + 1) *
                       s.CrossWindowWidth;
      double ptX = x0, ptY = y0;
      do {
        ptY = ptY - 1;
        ptX = sv * ptY + bv;
      } while (M / (2 * s.CrossWindowWidth) > Distance(ptX, ptY, x0, y0));
      double w = 0;
      PlainCrossBand(
          horizontalBand, prev, s.CrossIncreasePorog * J, s.ImageHeight,
          [&](double d) {
            ptY = ptY + d;
            ptX = sv * ptY + bv;
            w = ptY - sh * ptX;
          },
          [&](double c) {
            CollectHorizontalBand(s, 3, horizontalBand, VT_Point(ptX, ptY), c, J, w, sh);
          },
          [&] { return ptY; }, window);
      ptX = x0;
      do {
        ptX = ptX - 1;
        ptY = sh * ptX + bh;
      } while (J / (2 * s.CrossWindowWidth) > Distance(ptX, ptY, x0, y0));
      double u = 0;
      PlainCrossBand(
          verticalBand, prev, s.CrossIncreasePorog * M, s.ImageWidth,
          [&](double d) {
            ptX = ptX + d;
            ptY = sh * ptX + bh;
            u = ptX - sv * ptY;
          },
          [&](double c) {
            CollectVerticalBand(s, 3, verticalBand, VT_Point(ptX, ptY), c, M, u, sv);
          },
          [&] { return ptX; }, window);
      if (!(static_cast<double>(verticalBand.size()) > 1.6 * M &&
            static_cast<double>(horizontalBand.size()) > 1.6 * J))
        continue;
      const VT_Point fitV = FitLine(verticalBand);
      const VT_Point fitH = FitLine(horizontalBand);
      const double svFit = -fitV.x, bvFit = -fitV.y, shFit = -fitH.x, bhFit = -fitH.y;
      const double y = Div(shFit * bvFit + bhFit, 1 - svFit * shFit);
      out.points.emplace_back(Finite(svFit * y + bvFit), y);
    }
    out.ok = true;
  } catch (const std::exception&) {
    out.ok = false;
  }
  return out;
}

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
  ScriptedPlatform desktop;
  StateRecord s(desktop);
  testing::BinarizedPlateRegion(s, plate.image, RegionInCells(plate, 1, 1, 5, 4));
  ScanSide03(s, 0);
  ScanSide12(s, 0);
  ScanSide23(s, 0);
  ScanSide01(s, 0);
  ASSERT_TRUE(ValidateLines(s));
  FindCrossNodes(s, 0);
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

  const Outcome plain = PlainRefine(s);
  s.FoundPoints.Clear();
  const bool ok = RefineCrossPoints(s, 0);
  ASSERT_EQ(ok, plain.ok);
  ASSERT_EQ(s.FoundPoints.Count(), static_cast<int32_t>(plain.points.size()));
  for (int32_t k = 0; k < s.FoundPoints.Count(); ++k) {
    EXPECT_EQ(s.FoundPoints.Get(k)->x, plain.points[static_cast<size_t>(k)].first) << "point " << k;
    EXPECT_EQ(s.FoundPoints.Get(k)->y, plain.points[static_cast<size_t>(k)].second)
        << "point " << k;
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
                         [](const ::testing::TestParamInfo<WalkCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace qova
