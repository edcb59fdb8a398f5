// The whole chain on rendered plates of known distortion, a camera-like
// (radial) and a scanner-like (polynomial) one: the crossings found with the
// precise refinement are calibrated, the image is undistorted with that model,
// and the crossings found on the corrected image form a straight, regular
// lattice: a projective map fits them within 0.02 px RMS, and their spacing is
// the pitch over the pixel size within 1e-4.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "calib/calibrate.h"
#include "calib/fit.h"
#include "calib/undistort.h"
#include "precise/precise_refinement.h"
#include "tests/support/distorted_plate.h"
#include "tests/support/precise_test_support.h"

namespace qova {
namespace {

constexpr double kPitchMm = 0.5;

// The region of the crossings 1..columns − 2 × 1..rows − 2: corners in the
// middle of the outer cells, as a person clicks them.
std::vector<VT_Point> RegionOf(const std::function<calib::Vec2(double, double)>& at, int columns,
                               int rows) {
  std::vector<VT_Point> corners;
  for (const auto& [c, r] : {std::pair{0.5, 0.5},
                             {columns - 1.5, 0.5},
                             {columns - 1.5, rows - 1.5},
                             {0.5, rows - 1.5}}) {
    const calib::Vec2 p = at(c, r);
    corners.push_back(VT_Point{std::round(p.x()), std::round(p.y())});
  }
  return corners;
}

std::vector<calib::Vec2> PreciseCrossings(const QImage& image,
                                          const std::vector<VT_Point>& corners) {
  const std::vector<VT_Point> starts = testing::DetectionRunPoints(image, corners);
  const PreciseResult r = RefinePrecise(image, corners, starts);
  EXPECT_TRUE(r.completed) << static_cast<int>(r.reason);
  std::vector<calib::Vec2> points;
  for (const PrecisePoint& p : r.points) points.emplace_back(p.x, p.y);
  return points;
}

QImage GreyImage(const std::vector<uint8_t>& grey, int64_t w, int64_t h) {
  QImage image(static_cast<int>(w), static_cast<int>(h), QImage::Format_RGB32);
  for (int64_t y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
    for (int64_t x = 0; x < w; ++x) {
      const int v = grey[static_cast<size_t>(y * w + x)];
      row[x] = qRgb(v, v, v);
    }
  }
  return image;
}

struct Straightness {
  int points = 0;
  double distortedRms = 0;      // px: the projective fit on the distorted image, for scale
  double projectiveRms = 0;     // px
  double spacingError[2] = {};  // relative, along u and v
};

Straightness CorrectAndMeasure(const LatticeDistortion& d, int columns, int rows,
                               const std::string& model) {
  const QImage distorted = testing::RenderDistortedPlate(d);
  auto truth = [&](double c, double r) {
    const SynthXY p = d.ToImage(c, r);
    return calib::Vec2(p.x, p.y);
  };
  const std::vector<VT_Point> corners = RegionOf(truth, columns, rows);

  // The calibration from the precise crossings, as a lab makes it.
  calib::CalibrationInput in;
  calib::FitData before;  // the same crossings by their true indices
  for (const calib::Vec2& p : PreciseCrossings(distorted, corners)) {
    in.points.push_back(p);
    const SynthXY cr = d.ToPlate(p.x(), p.y());
    before.uv.emplace_back(std::round(cr.x), std::round(cr.y));
    before.cell.push_back(
        {static_cast<int>(before.uv.back().x()), static_cast<int>(before.uv.back().y())});
    before.xy.push_back(p);
    before.weight.push_back(1);
  }
  before.imageWidth = d.width, before.imageHeight = d.height;
  std::array<calib::Vec2, 4> region;
  for (int k = 0; k < 4; ++k)
    region[static_cast<size_t>(k)] = calib::Vec2(corners[k].x, corners[k].y);
  in.regionCorners.push_back(region);
  in.imageWidth = d.width, in.imageHeight = d.height;
  calib::CalibrationOptions options;
  options.pitch = {kPitchMm, kPitchMm};
  options.model = model;
  const calib::Model fitted = calib::Calibrate(in, options).model;
  EXPECT_EQ(fitted.Name(), model);

  // Undistorted with the default grid: the centre's pixel size, the footprint.
  const double s = calib::CentrePixelSize(fitted, d.width, d.height);
  const calib::PlateGrid grid =
      calib::GridOver(calib::ImageFootprint(fitted, d.width, d.height), s);
  std::vector<uint8_t> grey(static_cast<size_t>(d.width) * static_cast<size_t>(d.height));
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x)
      grey[static_cast<size_t>(y) * d.width + x] =
          static_cast<uint8_t>(qRed(distorted.pixel(x, y)));
  const calib::SourceImage source{
      grey.data(), d.width, d.height, static_cast<size_t>(d.width), 1, calib::PixelType::kUint8};
  std::vector<uint8_t> corrected(static_cast<size_t>(grid.Pixels()));
  calib::Undistort(fitted, grid, source, {},
                   [&](int64_t y, int64_t n, const uint8_t* data, size_t stride) {
                     for (int64_t r = 0; r < n; ++r)
                       std::copy(data + r * stride, data + r * stride + grid.width,
                                 corrected.begin() + (y + r) * grid.width);
                   });

  // The crossings of the corrected image, indexed by their plate points.
  auto toOutput = [&](const calib::Vec2& image) {
    const calib::Vec2 uv = fitted.ToPlate(image);
    return calib::Vec2((uv.x() - grid.u0) / grid.s, (uv.y() - grid.v0) / grid.s);
  };
  const std::vector<VT_Point> outCorners =
      RegionOf([&](double c, double r) { return toOutput(truth(c, r)); }, columns, rows);
  calib::FitData lattice;
  for (const calib::Vec2& p :
       PreciseCrossings(GreyImage(corrected, grid.width, grid.height), outCorners)) {
    const calib::Vec2 uv = grid.PlateOf(p.x(), p.y()) / kPitchMm;
    lattice.uv.emplace_back(std::round(uv.x()), std::round(uv.y()));
    lattice.cell.push_back(
        {static_cast<int>(lattice.uv.back().x()), static_cast<int>(lattice.uv.back().y())});
    lattice.xy.push_back(p);
    lattice.weight.push_back(1);
  }
  lattice.imageWidth = static_cast<int>(grid.width),
  lattice.imageHeight = static_cast<int>(grid.height);
  calib::FitParams plain;
  plain.robust = false;
  Straightness out;
  out.distortedRms = calib::FitModel({calib::ModelType::Projective, 0}, before, plain).rms;
  out.points = static_cast<int>(lattice.xy.size());
  out.projectiveRms = calib::FitModel({calib::ModelType::Projective, 0}, lattice, plain).rms;
  const calib::Model affine = calib::FitModel({calib::ModelType::Affine, 1}, lattice, plain).model;
  const Eigen::Matrix2d J = affine.Jacobian(lattice.uv[lattice.uv.size() / 2]);
  const double expected = kPitchMm / grid.s;  // px a cell
  out.spacingError[0] = J.col(0).norm() / expected - 1;
  out.spacingError[1] = J.col(1).norm() / expected - 1;
  std::printf(
      "%-7s %d × %d px → %lld × %lld px, s = %.6g mm: %d crossings, projective RMS %.4f px, "
      "spacing error %.2e (u) %.2e (v); before: projective RMS %.3f px\n",
      model.c_str(), d.width, d.height, static_cast<long long>(grid.width),
      static_cast<long long>(grid.height), grid.s, out.points, out.projectiveRms,
      out.spacingError[0], out.spacingError[1], out.distortedRms);
  return out;
}

LatticeDistortion Base() {
  LatticeDistortion d;
  d.width = 960, d.height = 720;
  d.originX = 62, d.originY = 55, d.pitchX = d.pitchY = 28;
  d.angleDeg = 0.7;
  return d;
}

void Check(const Straightness& s, int expectedPoints) {
  EXPECT_GE(s.points, expectedPoints * 95 / 100);
  EXPECT_LE(s.projectiveRms, 0.02);
  EXPECT_GT(s.distortedRms, 0.1);  // the plate was far from straight
  EXPECT_LE(std::fabs(s.spacingError[0]), 1e-4);
  EXPECT_LE(std::fabs(s.spacingError[1]), 1e-4);
}

TEST(UndistortStraightness, ACameraLikePlate) {
  LatticeDistortion d = Base();
  d.tiltX = 0.03, d.tiltY = 0.02;
  d.k1 = -0.03, d.k2 = 0.01;
  Check(CorrectAndMeasure(d, 31, 24, "radial"), 29 * 22);
}

TEST(UndistortStraightness, AScannerLikePlate) {
  LatticeDistortion d = Base();
  d.warpX = {2.4, -1.2, 1.0, 1.8, -0.8, 0.6, -0.4};
  d.warpY = {-1.0, 1.6, 0.8, -0.6, 1.2, -1.0, 1.4};
  Check(CorrectAndMeasure(d, 31, 24, "poly3"), 29 * 22);
}

}  // namespace
}  // namespace qova
