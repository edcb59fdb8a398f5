// Plates through a lattice distortion: the ink is centred on the truth, an
// undistorted one is the lens renderer's plate, the pixels do not depend on
// the threads, erased crossings and dust are where the truth says, and bad
// parameters are refused.
#include "synth/distorted_plate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "synth/synthetic_plate.h"

namespace qova {
namespace {

int Grey(const QImage& image, int x, int y) {
  return qRed(reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]);
}

DistortedPlateParams Camera() {
  DistortedPlateParams p;
  LatticeDistortion& d = p.distortion;
  d.width = 420, d.height = 340;
  d.originX = 210.3, d.originY = 169.6;
  d.pitchX = 36, d.pitchY = 40;
  d.angleDeg = 12, d.shearDeg = 1;
  d.tiltX = 0.05;
  d.k1 = -0.08, d.k2 = 0.02, d.radialOffsetX = 30;
  d.warpY = {0, 2, 0, 1, 0, 0, 0};
  d.stepAmplitude = 0.5, d.stepPeriod = 150;
  p.lineWidth = 3;
  p.blur = 0.6;
  return p;
}

// Across a vertical line, half-way between two crossings, the ink's
// centroid along the image row lies on the line's true position there.
TEST(DistortedPlate, TheInkIsCentredOnTheTruth) {
  const DistortedPlate plate = RenderDistortedPlate(Camera());
  const LatticeDistortion& d = plate.params.distortion;
  int measured = 0;
  for (int c = -4; c <= 4; ++c)
    for (const double r : {-2.5, -0.5, 1.5}) {
      const SynthXY mid = d.ToImage(c, r);
      const int y = static_cast<int>(std::lround(mid.y));
      // Where row y meets column line c: ToPlate's c is a whole number.
      double x = mid.x;
      for (int step = 0; step < 30; ++step) {
        const double h = 1e-4;
        const double f = d.ToPlate(x, y).x - c;
        const double slope = (d.ToPlate(x + h, y).x - d.ToPlate(x - h, y).x) / (2 * h);
        x -= f / slope;
      }
      const int x0 = static_cast<int>(std::floor(x));
      if (x0 < 8 || x0 > d.width - 9 || y < 0 || y >= d.height) continue;
      double mass = 0, moment = 0;
      for (int i = x0 - 6; i <= x0 + 7; ++i) {
        const double ink = 230 - Grey(plate.image, i, y);
        mass += ink, moment += ink * i;
      }
      // The row crosses the line at a slant: the centroid along it is the
      // line's centre along the row to a few hundredths.
      EXPECT_NEAR(moment / mass, x, 0.03) << "column " << c << " at row " << y;
      ++measured;
    }
  EXPECT_GT(measured, 15);
  // The crossings listed are the truth's, inside the image.
  for (const TrueCrossing& t : plate.crossings) {
    const SynthXY p = d.ToImage(t.column, t.row);
    EXPECT_EQ(p.x, t.x);
    EXPECT_EQ(p.y, t.y);
    EXPECT_TRUE(t.x >= 0 && t.y >= 0 && t.x <= d.width - 1 && t.y <= d.height - 1);
  }
}

// Without distortion the plate is the lens renderer's (through its mapped
// painter: a blur), to a grey level, and its crossings the same points.
TEST(DistortedPlate, UndistortedIsTheLensRenderersPlate) {
  PlateParams lens;
  lens.width = 300, lens.height = 260, lens.pitch = 40, lens.angleDeg = 7;
  lens.originX = 0.3, lens.originY = -0.2, lens.blur = 0.8, lens.noise = 2, lens.seed = 5;
  const Plate plate = RenderPlate(lens);
  DistortedPlateParams p;
  LatticeDistortion& d = p.distortion;
  d.width = lens.width, d.height = lens.height;
  d.originX = lens.width / 2.0 + lens.originX, d.originY = lens.height / 2.0 + lens.originY;
  d.pitchX = d.pitchY = lens.pitch, d.angleDeg = lens.angleDeg;
  p.lineWidth = lens.lineWidth, p.blur = lens.blur;
  p.shading.noise = lens.noise, p.shading.seed = lens.seed;
  const DistortedPlate distorted = RenderDistortedPlate(p);
  int differ = 0;
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) {
      const int a = qRed(plate.image.pixel(x, y)), b = Grey(distorted.image, x, y);
      EXPECT_LE(std::abs(a - b), 1) << x << ", " << y;
      differ += a != b;
    }
  EXPECT_LT(differ, d.width * d.height / 100);
  size_t n = 0;
  for (const auto& line : plate.crossings) n += line.size();
  ASSERT_EQ(distorted.crossings.size(), n);
  for (const TrueCrossing& t : distorted.crossings) {
    const QPointF q = plate.Crossing(t.column, t.row);
    EXPECT_NEAR(q.x(), t.x, 1e-9);
    EXPECT_NEAR(q.y(), t.y, 1e-9);
  }
}

TEST(DistortedPlate, TheSamePixelsOnAnyNumberOfThreadsAndMarksWhereTheTruthSays) {
  DistortedPlateParams p = Camera();
  p.missing = 0.1, p.dust = 5, p.dustRadius = 3, p.shading.noise = 2;
  p.threads = 1;
  const DistortedPlate one = RenderDistortedPlate(p);
  p.threads = 3;
  const DistortedPlate three = RenderDistortedPlate(p);
  EXPECT_EQ(one.image, three.image);
  ASSERT_EQ(one.dust.size(), 5u);
  for (const SynthXY& blob : one.dust)
    EXPECT_LT(Grey(one.image, static_cast<int>(std::lround(blob.x)),
                   static_cast<int>(std::lround(blob.y))),
              60);
  int erased = 0;
  for (const TrueCrossing& t : one.crossings) {
    const int grey =
        Grey(one.image, static_cast<int>(std::lround(t.x)), static_cast<int>(std::lround(t.y)));
    if (t.erased) {
      EXPECT_GT(grey, 215) << t.column << ", " << t.row;
      ++erased;
    } else {
      EXPECT_LT(grey, 150) << t.column << ", " << t.row;
    }
  }
  EXPECT_GT(erased, 0);
  p.palette = true;
  const DistortedPlate indexed = RenderDistortedPlate(p);
  EXPECT_EQ(indexed.image.format(), QImage::Format_Indexed8);
  EXPECT_EQ(indexed.image.pixel(10, 10), one.image.pixel(10, 10));
}

TEST(DistortedPlate, BadParametersAreRefused) {
  int line = 0;
  auto refused = [&](auto change) {
    DistortedPlateParams p = Camera();
    change(p);
    EXPECT_THROW(RenderDistortedPlate(p), std::invalid_argument) << "case " << line;
    ++line;
  };
  refused([](DistortedPlateParams& p) { p.distortion.width = 0; });
  refused([](DistortedPlateParams& p) { p.distortion.pitchY = -1; });
  refused([](DistortedPlateParams& p) { p.distortion.k1 = NAN; });
  refused([](DistortedPlateParams& p) { p.distortion.tiltX = 0.6; });
  refused([](DistortedPlateParams& p) { p.distortion.stepPeriod = 0; });
  refused([](DistortedPlateParams& p) { p.blur = 1, p.defocus = 1; });
  refused([](DistortedPlateParams& p) { p.missing = 1.5; });
  refused([](DistortedPlateParams& p) { p.dust = -1; });
  refused([](DistortedPlateParams& p) { p.lineWidth = 30; });  // wider than half a pitch
  // A distortion that folds the plate over inside the image.
  refused([](DistortedPlateParams& p) { p.distortion.k1 = -3; });
}

}  // namespace
}  // namespace qova
