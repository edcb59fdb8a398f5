#include "synth/synthetic_plate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace qova {
namespace {

int Grey(const QImage& image, int x, int y) {
  return qRed(reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]);
}

// Centre of a line from a profile of pixels across it (step 1, from `first`):
// with box-filtered coverage the line begins where the first touched pixel's
// coverage says and is as wide as the total coverage.
double LineCentre(const Plate& plate, int first, int count, bool alongRow, int fixed) {
  const double depth = plate.params.background - plate.params.ink;
  double total = 0, start = -1;
  for (int i = first; i < first + count; ++i) {
    const int g = alongRow ? Grey(plate.image, i, fixed) : Grey(plate.image, fixed, i);
    const double coverage = (plate.params.background - g) / depth;
    if (coverage > 0 && start < 0) start = i + 0.5 - coverage;
    total += coverage;
  }
  return start + total / 2;
}

TEST(RenderPlate, UnrotatedGridHasLinesWhereItsCrossingsSay) {
  PlateParams params;  // 1024², pitch 100: lines through the centre 512 and every 100 px
  const Plate plate = RenderPlate(params);
  ASSERT_EQ(plate.image.format(), QImage::Format_RGB32);
  ASSERT_EQ(plate.crossings.size(), 11u);
  for (size_t n = 0; n < plate.crossings.size(); ++n) {
    ASSERT_EQ(plate.crossings[n].size(), 11u);
    for (size_t m = 0; m < plate.crossings[n].size(); ++m) {
      const QPointF p = plate.crossings[n][m];
      EXPECT_DOUBLE_EQ(p.x(), 12 + 100.0 * n);
      EXPECT_DOUBLE_EQ(p.y(), 12 + 100.0 * m);
      const int x = static_cast<int>(p.x()), y = static_cast<int>(p.y());
      EXPECT_EQ(Grey(plate.image, x, y), params.ink);  // the crossing itself is full ink
    }
  }
  // A line three pixels wide: the centre column and its neighbours are ink,
  // the next ones paper.
  const int yMid = 62;  // middle of a cell row
  EXPECT_EQ(Grey(plate.image, 511, yMid), params.ink);
  EXPECT_EQ(Grey(plate.image, 512, yMid), params.ink);
  EXPECT_EQ(Grey(plate.image, 513, yMid), params.ink);
  EXPECT_EQ(Grey(plate.image, 510, yMid), params.background);
  EXPECT_EQ(Grey(plate.image, 514, yMid), params.background);
  EXPECT_EQ(Grey(plate.image, 562, yMid), params.background);  // cell middle
}

TEST(RenderPlate, SubPixelOriginMovesLinesWithCrossings) {
  PlateParams params;
  params.width = 400;
  params.height = 300;
  params.pitch = 60;
  params.lineWidth = 2.5;
  params.originX = 0.37;
  params.originY = -0.21;
  const Plate plate = RenderPlate(params);
  ASSERT_FALSE(plate.crossings.empty());
  for (size_t n = 0; n < plate.crossings.size(); ++n) {
    for (const QPointF p : plate.crossings[n]) {
      const int x = static_cast<int>(std::lround(p.x())), y = static_cast<int>(std::lround(p.y()));
      // Half a cell away from the crossing, across each line.
      const int yAway = y + 30 < params.height ? y + 30 : y - 30;
      const int xAway = x + 30 < params.width ? x + 30 : x - 30;
      if (x - 5 >= 0 && x + 5 < params.width) {
        EXPECT_NEAR(LineCentre(plate, x - 5, 11, true, yAway), p.x(), 0.02);
      }
      if (y - 5 >= 0 && y + 5 < params.height) {
        EXPECT_NEAR(LineCentre(plate, y - 5, 11, false, xAway), p.y(), 0.02);
      }
    }
  }
}

TEST(RenderPlate, RotationTurnsCrossingsAboutTheCentreClockwise) {
  PlateParams straight;
  straight.width = 800;
  straight.height = 600;
  straight.pitch = 80;
  PlateParams turned = straight;
  turned.angleDeg = 7;
  const Plate a = RenderPlate(straight);
  const Plate b = RenderPlate(turned);
  const double t = 7 * std::numbers::pi / 180;
  const QPointF centre(400, 300);
  for (int k = -3; k <= 3; ++k) {
    for (int l = -2; l <= 2; ++l) {
      const QPointF d = a.Crossing(k, l) - centre;
      const QPointF expected = centre + QPointF(d.x() * std::cos(t) - d.y() * std::sin(t),
                                                d.x() * std::sin(t) + d.y() * std::cos(t));
      const QPointF got = b.Crossing(k, l);
      EXPECT_NEAR(got.x(), expected.x(), 1e-9);
      EXPECT_NEAR(got.y(), expected.y(), 1e-9);
      // The turned image has ink at the turned crossing and paper in the
      // middle of the turned cell.
      EXPECT_EQ(Grey(b.image, static_cast<int>(std::lround(got.x())),
                     static_cast<int>(std::lround(got.y()))),
                turned.ink);
      const QPointF cell = b.Crossing(k + 0.5, l + 0.5);
      EXPECT_EQ(Grey(b.image, static_cast<int>(std::lround(cell.x())),
                     static_cast<int>(std::lround(cell.y()))),
                turned.background);
    }
  }
  // Clockwise on screen: going down a vertical line, x decreases.
  EXPECT_LT(b.Crossing(0, 1).x(), b.Crossing(0, 0).x());
  // Every listed crossing lies inside the image, each line top to bottom.
  size_t total = 0;
  for (size_t n = 0; n < b.crossings.size(); ++n) {
    ASSERT_EQ(b.crossings[n].size(), b.lines[n].size());
    for (size_t m = 0; m < b.crossings[n].size(); ++m) {
      const QPointF p = b.crossings[n][m];
      EXPECT_GE(p.x(), 0);
      EXPECT_LE(p.x(), 799);
      EXPECT_GE(p.y(), 0);
      EXPECT_LE(p.y(), 599);
      EXPECT_EQ(p, b.Crossing(b.lines[n][m].x(), b.lines[n][m].y()));
      if (m > 0) {
        EXPECT_GT(p.y(), b.crossings[n][m - 1].y());
      }
    }
    if (n > 0) {
      EXPECT_GT(b.lines[n][0].x(), b.lines[n - 1][0].x());
    }
    total += b.crossings[n].size();
  }
  // No crossing inside the image is missing from the list.
  size_t expected = 0;
  for (int k = -20; k <= 20; ++k)
    for (int l = -20; l <= 20; ++l) {
      const QPointF p = b.Crossing(k, l);
      if (p.x() >= 0 && p.x() <= 799 && p.y() >= 0 && p.y() <= 599) ++expected;
    }
  EXPECT_EQ(total, expected);
}

TEST(CrossingsInside, RegionInCellsHoldsItsCellsCrossingsInDetectionOrder) {
  const Plate plate = RenderPlate(PlateParams{});  // crossings at 12, 112, ..., 1012
  const std::vector<QPointF> region = RegionInCells(plate, 1, 2, 3, 2);
  ASSERT_EQ(region.size(), 4u);
  EXPECT_EQ(region[0], QPointF(162, 262));
  EXPECT_EQ(region[1], QPointF(462, 262));
  EXPECT_EQ(region[2], QPointF(462, 462));
  EXPECT_EQ(region[3], QPointF(162, 462));
  const std::vector<QPointF> inside = CrossingsInside(plate, region);
  const std::vector<QPointF> expected = {{212, 312}, {212, 412}, {312, 312},
                                         {312, 412}, {412, 312}, {412, 412}};
  EXPECT_EQ(inside, expected);
}

TEST(CrossingsInside, FiltersByPolygonStrictly) {
  const Plate plate = RenderPlate(PlateParams{});
  // A crossing on an edge or a corner is not strictly inside.
  EXPECT_TRUE(CrossingsInside(plate, {{112, 112}, {312, 112}, {312, 312}, {112, 312}}).size() ==
              1u);
  // Triangle: (212,212) and (312,312) lie on the hypotenuse, so outside.
  EXPECT_EQ(CrossingsInside(plate, {{150, 150}, {400, 400}, {150, 400}}),
            (std::vector<QPointF>{{212, 312}}));
  // An L shape leaves out its notch (the crossing at 312, 212).
  const std::vector<QPointF> l = {{150, 150}, {260, 150}, {260, 260},
                                  {350, 260}, {350, 350}, {150, 350}};
  EXPECT_EQ(CrossingsInside(plate, l), (std::vector<QPointF>{{212, 212}, {212, 312}, {312, 312}}));
  // Fewer than three corners enclose nothing.
  EXPECT_TRUE(CrossingsInside(plate, {}).empty());
  EXPECT_TRUE(CrossingsInside(plate, {{0, 0}, {1000, 1000}}).empty());
}

TEST(CrossingsInside, RotatedRegionCountsMatchCells) {
  PlateParams params;
  params.angleDeg = -12;
  params.originX = 3.25;
  const Plate plate = RenderPlate(params);
  const std::vector<QPointF> inside = CrossingsInside(plate, RegionInCells(plate, 2, 2, 4, 3));
  ASSERT_EQ(inside.size(), 12u);
  // Three per vertical line, lines left to right, each top to bottom.
  for (size_t i = 0; i < inside.size(); ++i) {
    if (i % 3 != 0) {
      EXPECT_GT(inside[i].y(), inside[i - 1].y());
    }
    if (i >= 3) {
      EXPECT_GT(inside[i].x(), inside[i - 3].x());
    }
  }
}

TEST(RenderPlate, SameParamsSamePixelsAndSeedMatters) {
  PlateParams params;
  params.width = 300;
  params.height = 200;
  params.angleDeg = 3;
  params.noise = 6;
  params.brightnessFalloff = 0.4;
  params.seed = 42;
  const Plate a = RenderPlate(params);
  const Plate b = RenderPlate(params);
  EXPECT_EQ(a.image, b.image);
  params.seed = 43;
  EXPECT_NE(a.image, RenderPlate(params).image);
}

TEST(RenderPlate, NoiseHasTheRequestedSpread) {
  PlateParams params;
  params.width = 200;
  params.height = 200;
  params.pitch = 1000;  // one crossing at the centre: nearly all paper
  params.lineWidth = 1;
  params.background = 128;
  params.noise = 10;
  const Plate plate = RenderPlate(params);
  double sum = 0, sum2 = 0;
  int n = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 90; ++x) {
      const double g = Grey(plate.image, x, y);
      sum += g;
      sum2 += g * g;
      ++n;
    }
  const double mean = sum / n;
  EXPECT_NEAR(mean, 128, 0.5);
  EXPECT_NEAR(std::sqrt(sum2 / n - mean * mean), 10, 0.5);
}

TEST(RenderPlate, FalloffDarkensTowardsTheRight) {
  PlateParams params;
  params.width = 101;
  params.height = 50;
  params.pitch = 1000;
  params.background = 200;
  params.brightnessFalloff = 0.5;
  const Plate plate = RenderPlate(params);
  EXPECT_EQ(Grey(plate.image, 0, 0), 200);
  EXPECT_EQ(Grey(plate.image, 100, 0), 100);
  EXPECT_EQ(Grey(plate.image, 25, 0), 175);  // the one vertical line is at 50.5
}

TEST(RenderPlate, RejectsNonsense) {
  auto bad = [](auto change) {
    PlateParams params;
    change(params);
    return params;
  };
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.width = 0; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.pitch = 0; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.pitch = NAN; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.pitch = 1e-9; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.ink = 256; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.originX = 1e300; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.brightnessFalloff = 1.5; })),
               std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& s) { s.noise = -1; })), std::invalid_argument);
}

TEST(RenderPlate, OnePixelImage) {
  PlateParams params;
  params.width = 1;
  params.height = 1;
  params.brightnessFalloff = 1;  // no division by width-1 = 0
  const Plate plate = RenderPlate(params);
  EXPECT_EQ(plate.image.size(), QSize(1, 1));
  EXPECT_TRUE(plate.crossings.empty());
}

}  // namespace
}  // namespace qova
