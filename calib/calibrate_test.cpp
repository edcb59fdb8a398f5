#include "calib/calibrate.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <numbers>
#include <thread>

#include "calib/calib_error.h"
#include "tests/support/calib_plates.h"

namespace qova::calib {
namespace {

using test::InputOf;
using test::StandardPlate;

CalibCause CauseOf(const CalibrationInput& in, const CalibrationOptions& options) {
  try {
    Calibrate(in, options);
  } catch (const CalibError& e) {
    EXPECT_FALSE(std::string(e.what()).empty());
    return e.cause();
  }
  ADD_FAILURE() << "no error";
  return CalibCause::BadInput;
}

TEST(Calibrate, EveryPointGetsItsIndexPlatePointResidualAndFlags) {
  auto setup = StandardPlate("warp");
  setup.missing = 0.05, setup.dust = 7, setup.duplicates = 0.03;
  auto points = MakeLatticePoints(setup);
  // A crossing reported twice at the same place (the generator's 0.2 px
  // apart would be a 0.1 px error of their mean: an outlier at this σ).
  for (size_t i = 1; i < points.size(); ++i)
    if (points[i].duplicate) points[i].x = points[i - 1].x, points[i].y = points[i - 1].y;
  size_t outlier = 0;
  while (points[outlier].dust || points[outlier].duplicate || points[outlier + 1].duplicate)
    ++outlier;
  outlier += 200;
  while (points[outlier].dust || points[outlier].duplicate || points[outlier + 1].duplicate)
    ++outlier;
  points[outlier].x += 0.4;
  CalibrationInput in = InputOf(setup, points);
  in.sigma[3] = Vec2(NAN, NAN);  // a point without σ takes the others' median
  CalibrationOptions options;
  options.pitch = {0.5, 0.5};
  options.model = "poly3";
  const Calibration c = Calibrate(in, options);
  ASSERT_EQ(c.points.size(), points.size());
  std::optional<std::array<int, 2>> shift;
  int dust = 0, duplicates = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    const PointCalibration& p = c.points[i];
    if (points[i].dust) {
      ++dust;
      EXPECT_EQ(p.crossing, -1);
      EXPECT_TRUE(std::isnan(p.plate.x()) && std::isnan(p.residual.x()));
      continue;
    }
    ASSERT_GE(p.crossing, 0) << i;
    EXPECT_EQ(p.frame, 0);
    // The plate at 0.7°: the truth's columns and rows, shifted.
    const std::array<int, 2> s{p.column - points[i].column, p.row - points[i].row};
    if (!shift) shift = s;
    EXPECT_EQ(s, *shift) << i;
    EXPECT_EQ(p.plate, Vec2(p.column * 0.5, p.row * 0.5));
    EXPECT_EQ(p.duplicate,
              points[i].duplicate || (i + 1 < points.size() && points[i + 1].duplicate));
    duplicates += points[i].duplicate;
    EXPECT_EQ(p.outlier, i == outlier) << i;
    if (i != outlier && !p.duplicate) {
      EXPECT_LT(p.residual.norm(), 0.03) << i;
    }
  }
  EXPECT_NEAR(c.points[outlier].residual.x(), 0.4, 0.02);
  // (0, 0) nearest the first corner; with no corners given, the top left
  // of the points' extent.
  Vec2 low(INFINITY, INFINITY);
  for (const LatticePoint& p : points) low = low.cwiseMin(Vec2(p.x, p.y));
  size_t nearest = 0;
  for (size_t i = 0; i < points.size(); ++i)
    if (!points[i].dust && (Vec2(points[i].x, points[i].y) - low).norm() <
                               (Vec2(points[nearest].x, points[nearest].y) - low).norm())
      nearest = i;
  EXPECT_EQ(c.points[nearest].column, 0);
  EXPECT_EQ(c.points[nearest].row, 0);
  const CalibReport& r = c.report;
  EXPECT_EQ(r.model, "poly3");
  EXPECT_EQ(static_cast<int>(r.unindexed.size()), dust);
  EXPECT_EQ(static_cast<int>(r.duplicates.size()), duplicates);
  ASSERT_EQ(r.outliers.size(), 1u);
  EXPECT_EQ(r.outliers[0].points, std::vector<int>{static_cast<int>(outlier)});
  EXPECT_GT(r.outliers[0].sigmas, 5);
  EXPECT_EQ(r.points, static_cast<int>(points.size()));
  EXPECT_EQ(r.indexed, r.points - dust);
  EXPECT_EQ(r.fitted, r.crossings - 1);
  EXPECT_EQ(c.model.data().points, r.fitted);
  EXPECT_EQ(static_cast<int>(r.parameters.size()), 20);
}

// The report's figures for three plates a lab would bring, against the
// truth's: a scanner's cubic warp, a camera's radial distortion, a plate at
// 30° in two regions.
TEST(Calibrate, TheReportsFiguresAreTheTruthsWithinTheirStandardErrors) {
  struct Plate {
    const char* kind;
    const char* model;
    bool twoRegions;
  };
  for (const Plate plate : {Plate{"warp", "auto", false}, Plate{"radial", "auto", false},
                            Plate{"rotated", "auto", true}}) {
    const auto setup = StandardPlate(plate.kind);
    const auto points = MakeLatticePoints(setup);
    CalibrationInput in = InputOf(setup, points);
    if (plate.twoRegions)
      for (const LatticePoint& p : points) in.region.push_back(p.column < 15 ? 0 : 1);
    CalibrationOptions options;
    const Pitch pitch{0.5, 0.5};
    options.pitch = pitch;
    options.model = plate.model;
    // (0, 0) at the truth's crossing (0, 0).
    options.origin = Vec2(points[0].x, points[0].y);
    const Calibration c = Calibrate(in, options);
    const CalibReport& r = c.report;
    EXPECT_EQ(r.frames, 1) << plate.kind;
    // The truth's Jacobian at the same plate point, by central differences.
    const auto truth = test::TruthOf(setup.distortion, pitch);
    const Vec2 at = r.scale.plate;
    const double h = 1e-4;
    const Vec2 cu = (truth(at + Vec2(h, 0)) - truth(at - Vec2(h, 0))) / (2 * h);
    const Vec2 cv = (truth(at + Vec2(0, h)) - truth(at - Vec2(0, h))) / (2 * h);
    auto near = [&](const Figure& f, double value, const char* what) {
      EXPECT_LE(std::fabs(f.value - value), 3 * f.sigma + 1e-9)
          << plate.kind << " " << what << ": " << f.value << " ± " << f.sigma << " against "
          << value;
      EXPECT_GT(f.sigma, 0) << plate.kind << " " << what;
    };
    near(r.scale.scaleU, cu.norm(), "scale u");
    near(r.scale.scaleV, cv.norm(), "scale v");
    near(r.scale.pixelSizeU, 1000 / cu.norm(), "pixel size u");
    near(r.scale.rotation, std::atan2(cu.y(), cu.x()) * 180 / std::numbers::pi, "rotation");
    near(r.scale.axisAngle,
         std::atan2(std::fabs(cu.x() * cv.y() - cu.y() * cv.x()), cu.dot(cv)) * 180 /
             std::numbers::pi,
         "axis angle");
    const NonlinearityPair t = NonlinearityOfMap(truth, c.model.data().plate, pitch);
    const Figure& largest = r.nonlinearity.affine.largest.magnitude;
    // The largest deviation may sit at another grid point of the truth's;
    // its size agrees.
    EXPECT_LE(std::fabs(largest.value - t.affine.largest.magnitude.value), 3 * largest.sigma + 1e-9)
        << plate.kind;
    EXPECT_LT(r.residuals.rmsPx, 0.007) << plate.kind;
    EXPECT_NEAR(r.residuals.rmsUm, r.residuals.rmsPx * 1000 / cu.norm(), 0.02 * r.residuals.rmsUm);
    EXPECT_GE(r.residuals.cvRmsPx, r.residuals.rmsPx * 0.99) << plate.kind;
  }
}

TEST(Calibrate, BadArgumentsAreRefusedBeforeAnyWorkNamingTheCause) {
  const auto setup = StandardPlate("perspective");
  const CalibrationInput in = InputOf(setup, MakeLatticePoints(setup));
  CalibrationOptions options;
  for (const Pitch bad :
       {Pitch{-1, 1}, Pitch{0, 1}, Pitch{NAN, NAN}, Pitch{1, INFINITY}, Pitch{-0.5, -0.5}}) {
    options.pitch = bad;
    EXPECT_EQ(CauseOf(in, options), CalibCause::BadPitch);
  }
  options.pitch = {};
  for (const char* bad : {"poly7", "", "Auto", "spline2"}) {
    options.model = bad;
    EXPECT_EQ(CauseOf(in, options), CalibCause::UnknownModel) << bad;
  }
  options.model = "auto";
  CalibrationInput wrong = in;
  wrong.sigma.pop_back();
  EXPECT_EQ(CauseOf(wrong, options), CalibCause::BadInput);
  wrong = in;
  wrong.sigma[5].y() = -1;
  EXPECT_EQ(CauseOf(wrong, options), CalibCause::BadInput);
  wrong = in;
  wrong.imageWidth = 0;
  EXPECT_EQ(CauseOf(wrong, options), CalibCause::BadInput);
  wrong = in;
  wrong.points[7].y() = INFINITY;
  EXPECT_EQ(CauseOf(wrong, options), CalibCause::BadInput);
  // Points on one line: no lattice.
  wrong = CalibrationInput{};
  wrong.imageWidth = wrong.imageHeight = 100;
  for (int k = 0; k < 20; ++k) wrong.points.emplace_back(3 + 4 * k, 50);
  EXPECT_EQ(CauseOf(wrong, options), CalibCause::NoLattice);
  // Fewer crossings than parameters.
  auto small = StandardPlate("perspective");
  small.columns = 6, small.rows = 6;
  options.model = "poly6";
  EXPECT_EQ(CauseOf(InputOf(small, MakeLatticePoints(small)), options), CalibCause::TooFewPoints);
  // auto on such a plate takes what can be fitted and says why the others
  // could not.
  options.model = "auto";
  const Calibration c = Calibrate(InputOf(small, MakeLatticePoints(small)), options);
  int refused = 0;
  for (const CandidateFigures& f : c.report.candidates)
    if (!f.fitted) {
      ++refused;
      EXPECT_FALSE(f.error.empty()) << f.name;
    }
  EXPECT_GE(refused, 2);
}

// A stop asked for before the fit ends every family and auto with
// Cancelled; one asked for from another thread while auto works ends it
// either way, never half done; a flag never set changes no bit.
TEST(Calibrate, AFitStopsWhenAskedAndOnlyThen) {
  const auto setup = StandardPlate("radial");
  const CalibrationInput in = InputOf(setup, MakeLatticePoints(setup));
  std::atomic<bool> stop{true};
  CalibrationOptions options;
  options.fit.cancel = &stop;
  for (const std::string& name :
       {std::string("auto"), std::string("affine"), std::string("radial"), std::string("spline")}) {
    options.model = name;
    EXPECT_EQ(CauseOf(in, options), CalibCause::Cancelled) << name;
  }
  options.model = "auto";
  stop = false;
  const Calibration unstopped = Calibrate(in, options);
  CalibrationOptions plain = options;
  plain.fit.cancel = nullptr;
  const Calibration reference = Calibrate(in, plain);
  EXPECT_EQ(unstopped.model.data().params, reference.model.data().params);
  EXPECT_EQ(unstopped.report.residuals.cvRmsPx, reference.report.residuals.cvRmsPx);

  for (int delayUs : {0, 2000, 20000}) {
    stop = false;
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
      stop = true;
    });
    try {
      const Calibration c = Calibrate(in, options);
      EXPECT_EQ(c.model.data().params, reference.model.data().params);
    } catch (const CalibError& e) {
      EXPECT_EQ(e.cause(), CalibCause::Cancelled) << e.what();
    }
    stopper.join();
  }
}

}  // namespace
}  // namespace qova::calib
