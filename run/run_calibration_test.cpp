// The calibration after a run: the run's points, regions and standard errors
// reach the calibration, each point gets the index of its true crossing (up
// to one shift for the whole image), and a calibration that cannot be made
// is a result that says why.
#include "run/run_calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "run/detect_crossings.h"
#include "synth/synthetic_plate.h"
#include "tests/support/recording_observer.h"
#include "tests/support/regions.h"

namespace qova {
namespace {

// The README's sample plate: 800 × 600, pitch 80 px, turned 1.5°.
Plate SamplePlate() {
  PlateParams params;
  params.width = 800, params.height = 600, params.pitch = 80, params.angleDeg = 1.5;
  params.noise = 2;
  return RenderPlate(params);
}

// The (k, l) of the true crossing nearest each point.
std::vector<QPoint> TrueIndices(const Plate& plate, const VT_Points& found) {
  std::vector<QPoint> indices;
  for (int32_t i = 0; i < found.Count(); ++i) {
    double best = INFINITY;
    QPoint kl;
    for (size_t n = 0; n < plate.crossings.size(); ++n)
      for (size_t m = 0; m < plate.crossings[n].size(); ++m) {
        const QPointF d = plate.crossings[n][m] - QPointF(found.Get(i)->x, found.Get(i)->y);
        if (d.x() * d.x() + d.y() * d.y() < best)
          best = d.x() * d.x() + d.y() * d.y(), kl = plate.lines[n][m];
      }
    indices.push_back(kl);
  }
  return indices;
}

DetectionResult Detect(const Plate& plate, const RegionList& regions, bool precise) {
  DetectionParams params;
  params.PreciseRefinement = precise;
  RecordingObserver observer;
  PreciseParams tunables;
  tunables.threads = 1;
  return DetectCrossings(plate.image, regions, params, observer, tunables);
}

TEST(CalibrateRun, EveryPointOfTwoRegionsGetsTheIndexOfItsCrossingInOneFrame) {
  const Plate plate = SamplePlate();
  RegionList regions;
  regions.Append(ClickedRegion(RegionInCells(plate, 1, 1, 4, 5)));
  regions.Append(ClickedRegion(RegionInCells(plate, 5, 1, 3, 5)));
  for (const bool precise : {false, true}) {
    const DetectionResult result = Detect(plate, regions, precise);
    ASSERT_TRUE(result.Completed());
    ASSERT_EQ(result.FoundPoints.Count(), 35);

    const calib::CalibrationInput in = CalibrationInputOf(result, regions, 800, 600);
    EXPECT_EQ(in.sigma.size(), precise ? 35u : 0u);
    EXPECT_EQ(in.regionCorners.size(), 2u);
    EXPECT_EQ(in.region.front(), 0);
    EXPECT_EQ(in.region.back(), 1);

    CalibrationRequest request;
    request.model = "projective";
    request.pitch = {0.5, 0.5};
    const RunCalibration c = CalibrateRun(result, regions, 800, 600, request);
    ASSERT_EQ(c.kind, RunCalibration::Kind::Fitted) << c.message;
    ASSERT_EQ(c.points.size(), 35u);
    EXPECT_EQ(c.fit->report.frames, 1);
    const std::vector<QPoint> truth = TrueIndices(plate, result.FoundPoints);
    const calib::PointCalibration& first = c.points[0];
    for (size_t i = 0; i < c.points.size(); ++i) {
      const calib::PointCalibration& p = c.points[i];
      ASSERT_GE(p.crossing, 0) << i;
      EXPECT_EQ(p.column - first.column, truth[i].x() - truth[0].x()) << i;
      EXPECT_EQ(p.row - first.row, truth[i].y() - truth[0].y()) << i;
      EXPECT_EQ(p.plate, calib::Vec2(0.5 * p.column, 0.5 * p.row));
      EXPECT_LT(p.residual.norm(), precise ? 0.05 : 0.5) << i;
    }
    // (0, 0) is the crossing nearest the first region's first corner.
    EXPECT_EQ(first.column, 0);
    EXPECT_EQ(first.row, 0);

    // The model mapped back: each point lands on its crossing's plate point.
    const RunCalibration applied = ApplyModel(result, c.fit->model);
    ASSERT_EQ(applied.kind, RunCalibration::Kind::Applied);
    for (size_t i = 0; i < applied.points.size(); ++i) {
      EXPECT_EQ(applied.points[i].crossing, -1);
      EXPECT_TRUE(std::isnan(applied.points[i].residual.x()));
      EXPECT_LT((applied.points[i].plate - c.points[i].plate).norm(), precise ? 1e-3 : 1e-2);
    }
  }
}

// The README's sample without noise: the precise stage's crossings lie
// within a few 1e-5 px of a turned lattice. Every family fits to that
// rounding (the radial model with its centre fixed: nothing places it), and
// auto takes the affine map, not whichever follows the rounding best.
TEST(CalibrateRun, TheNoiseFreeSampleGivesTheAffineModel) {
  PlateParams params;
  params.width = 800, params.height = 600, params.pitch = 80, params.angleDeg = 1.5;
  const Plate plate = RenderPlate(params);
  const RegionList regions = Regions(MakeRegion({{125, 93}, {685, 107}, {675, 507}, {115, 493}}));
  const DetectionResult result = Detect(plate, regions, true);
  ASSERT_TRUE(result.Completed());
  CalibrationRequest request;
  request.pitch = {1, 1};
  const RunCalibration c = CalibrateRun(result, regions, 800, 600, request);
  ASSERT_EQ(c.kind, RunCalibration::Kind::Fitted) << c.message;
  EXPECT_EQ(c.fit->report.model, "affine");
  for (const calib::CandidateFigures& k : c.fit->report.candidates)
    if (k.name == "affine" || k.name == "projective" || k.name == "radial")
      EXPECT_TRUE(k.fitted) << k.name << ": " << k.error;
  EXPECT_LT(c.fit->report.residuals.rmsPx, 1e-3);
}

TEST(CalibrateRun, ACalibrationThatCannotBeMadeSaysWhyAndLeavesThePoints) {
  const Plate plate = SamplePlate();
  RegionList regions = Regions(ClickedRegion(RegionInCells(plate, 1, 1, 3, 2)));
  const DetectionResult result = Detect(plate, regions, false);
  ASSERT_TRUE(result.Completed());
  ASSERT_EQ(result.FoundPoints.Count(), 6);
  CalibrationRequest request;
  request.model = "poly6";
  const RunCalibration c = CalibrateRun(result, regions, 800, 600, request);
  EXPECT_EQ(c.kind, RunCalibration::Kind::Failed);
  EXPECT_EQ(c.cause, calib::CalibCause::TooFewPoints);
  EXPECT_NE(c.message.find("parameters"), std::string::npos) << c.message;
  EXPECT_TRUE(c.points.empty());
  EXPECT_FALSE(c.fit);

  request.model = "poly9";
  EXPECT_EQ(CalibrateRun(result, regions, 800, 600, request).cause,
            calib::CalibCause::UnknownModel);
  request.model = "affine";
  request.pitch = {-1, 1};
  EXPECT_EQ(CalibrateRun(result, regions, 800, 600, request).cause, calib::CalibCause::BadPitch);
}

TEST(ImageSizeMismatch, NamesBothSizes) {
  calib::ModelData data = calib::Model().data();
  data.imageWidth = 800, data.imageHeight = 600;
  const calib::Model model(data);
  EXPECT_FALSE(ImageSizeMismatch(model, 800, 600));
  const auto warning = ImageSizeMismatch(model, 600, 800);
  ASSERT_TRUE(warning);
  EXPECT_EQ(*warning,
            "the model was made for an image of 800 x 600 pixels, this one has 600 x 800");
}

}  // namespace
}  // namespace qova
