// The whole detection through its entry point: on rendered plates with known
// crossings every crossing inside the region must be found once, in node
// order, close to the true crossing; and what a run shows, asks and returns
// when it is stepped through, cancelled, checked or fails.
#include "run/detect_crossings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "precise/precise_refinement.h"
#include "run/run_messages.h"
#include "synth/synthetic_plate.h"
#include "tests/support/recording_observer.h"
#include "tests/support/regions.h"

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

  RecordingObserver observer;
  const DetectionResult result =
      DetectCrossings(plate.image, Regions(ClickedRegion(corners)), DetectionParams(), observer);
  ASSERT_TRUE(result.Completed()) << FailureCause(result);
  ASSERT_EQ(result.regions.size(), 1u);
  const RegionResult& r = result.regions[0];
  EXPECT_EQ(r.border.SidePoints03.Count(), 5);
  EXPECT_EQ(r.border.SidePoints12.Count(), 5);
  EXPECT_EQ(r.border.SidePoints23.Count(), 6);
  EXPECT_EQ(r.border.SidePoints01.Count(), 6);
  EXPECT_TRUE(observer.messages.empty());
  ASSERT_EQ(r.CrossNodes.Length(), 30);
  EXPECT_EQ(r.points, 30);
  EXPECT_EQ(observer.pointsShown, 30);

  const VT_Points& found = result.FoundPoints;
  ASSERT_EQ(found.Count(), 30);
  double worst = 0, sumSquares = 0;
  for (int32_t k = 0; k < found.Count(); ++k) {
    const VT_Point* p = found.Get(k);
    const QPointF& truth = expected[static_cast<size_t>(k)];
    const double dx = p->x - truth.x(), dy = p->y - truth.y();
    const double error = std::sqrt(dx * dx + dy * dy);
    EXPECT_LT(error, 0.5) << "point " << k << " at " << p->x << ", " << p->y << " for " << truth.x()
                          << ", " << truth.y();
    worst = std::max(worst, error);
    sumSquares += error * error;
  }
  const double rms = std::sqrt(sumSquares / found.Count());
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
                         [](const ::testing::TestParamInfo<PlateCase>& test) {
                           return test.param.name;
                         });

// A small plate and a region of 3 × 3 cells, for what a run shows and asks.
class Run : public ::testing::Test {
 protected:
  Run() {
    PlateParams p;
    p.width = 420;
    p.height = 320;
    p.pitch = 60;
    p.angleDeg = 1;
    plate = RenderPlate(p);
    regions.Append(ClickedRegion(RegionInCells(plate, 1, 1, 3, 3)));
  }
  DetectionResult Detect() { return DetectCrossings(plate.image, regions, params, observer); }

  Plate plate;
  RegionList regions;
  DetectionParams params;
  RecordingObserver observer;
};

TEST_F(Run, StepModeShowsEveryStageAndCancelEndsTheRun) {
  params.Steps = true;
  const DetectionResult done = Detect();
  ASSERT_TRUE(done.Completed()) << FailureCause(done);
  EXPECT_EQ(observer.messages,
            (std::vector<std::string>{"Бинаризирование завершено!", "Сканирование завершено!",
                                      "Линии найдены!"}));
  ASSERT_EQ(observer.statistics.size(), 1u);
  EXPECT_EQ(observer.statistics[0], done.statisticsLines);
  ASSERT_EQ(observer.pictures.size(), 2u);  // the gradient, then the binary image
  for (const auto& picture : observer.pictures)
    EXPECT_EQ(QSize(picture->Width(), picture->Height()), plate.image.size());
  EXPECT_EQ(observer.linesShown, 1);
  EXPECT_EQ(observer.refinements, 1);
  // A marker for every border point (3 + 3 + 3 + 3) and every refined point.
  EXPECT_EQ(observer.markers.size(), 12u + 9u);
  ASSERT_EQ(done.FoundPoints.Count(), 9);

  // The same points without step mode.
  RecordingObserver quiet;
  params.Steps = false;
  const DetectionResult plain = DetectCrossings(plate.image, regions, params, quiet);
  ASSERT_EQ(plain.FoundPoints.Count(), 9);
  for (int32_t k = 0; k < 9; ++k) {
    EXPECT_EQ(plain.FoundPoints.Get(k)->x, done.FoundPoints.Get(k)->x);
    EXPECT_EQ(plain.FoundPoints.Get(k)->y, done.FoundPoints.Get(k)->y);
  }
  EXPECT_TRUE(quiet.messages.empty() && quiet.pictures.empty() && quiet.markers.empty());

  // Cancel after the scans.
  params.Steps = true;
  observer = RecordingObserver();
  observer.answers = {true, false};
  const DetectionResult cancelled = Detect();
  EXPECT_FALSE(cancelled.Completed());
  EXPECT_EQ(cancelled.failure, RunFailure::Cancelled);
  EXPECT_EQ(FailureCause(cancelled), "Operation cancelled");
  EXPECT_EQ(observer.messages.size(), 2u);
  EXPECT_EQ(observer.refinements, 0);
  EXPECT_EQ(observer.pointsShown, -1);

  // Cancel in the statistics window.
  observer = RecordingObserver();
  observer.cancelStatistics = true;
  EXPECT_FALSE(Detect().Completed());
  EXPECT_TRUE(observer.messages.empty());
}

TEST_F(Run, TheCountCheckAsksAboutTheFinalPoints) {
  params.NeedPointsControl = true;
  params.NeedPointsCount = 9;
  EXPECT_TRUE(Detect().Completed());
  EXPECT_TRUE(observer.messages.empty());

  params.NeedPointsCount = 10;
  observer.answers = {false};
  const DetectionResult no = Detect();
  EXPECT_FALSE(no.Completed());
  EXPECT_EQ(observer.messages,
            std::vector<std::string>{"Найдено 9 точек! Заданное количество: 10 точек! Продолжить "
                                     "работу?"});
  EXPECT_EQ(observer.pointsShown, 9) << "the points are shown before the question";
  observer.answers = {true};
  EXPECT_TRUE(Detect().Completed());
}

TEST_F(Run, FragmentsHaveTheirOwnStatistics) {
  params.FragmentationWidth = params.FragmentationHeight = 2;
  params.Steps = true;
  observer.separator = ',';
  const DetectionResult result = Detect();
  ASSERT_TRUE(result.Completed()) << FailureCause(result);
  EXPECT_EQ(result.regions[0].Fragments.Length(), 4);
  EXPECT_EQ(result.regions[0].statistics.size(), 4u);
  ASSERT_EQ(result.statisticsLines.size(), 4u * 5u);
  EXPECT_EQ(result.statisticsLines[4], std::string(65, '-'));
  EXPECT_NE(result.statisticsLines[1].find(','), std::string::npos);
  EXPECT_EQ(observer.fragmentsShown, 1);
  EXPECT_EQ(result.FoundPoints.Count(), 9);
}

TEST_F(Run, AFailedRegionEndsTheRunAndKeepsTheEarlierPoints) {
  auto two = std::make_unique<SearchRegion>(1);  // two corners: no scan can work on it
  two->AddNew(60, 60);
  two->AddNew(200, 60);
  regions.Append(std::move(two));
  const DetectionResult result = Detect();
  EXPECT_FALSE(result.Completed());
  EXPECT_EQ(result.failure, RunFailure::StageError);
  EXPECT_FALSE(FailureCause(result).empty());
  EXPECT_EQ(result.FoundPoints.Count(), 9);
  EXPECT_EQ(result.regions.size(), 2u);
  EXPECT_EQ(observer.pointsShown, -1);

  // No image at all fails the same way.
  EXPECT_FALSE(DetectCrossings(QImage(), regions, params, observer).Completed());
}

TEST_F(Run, AnyImageFormatGivesThePointsOfItsPixels) {
  const DetectionResult rgb = Detect();
  for (QImage::Format format :
       {QImage::Format_Grayscale8, QImage::Format_Indexed8, QImage::Format_ARGB32}) {
    const DetectionResult other =
        DetectCrossings(plate.image.convertToFormat(format), regions, params, observer);
    ASSERT_EQ(other.FoundPoints.Count(), rgb.FoundPoints.Count()) << format;
    for (int32_t k = 0; k < rgb.FoundPoints.Count(); ++k)
      EXPECT_EQ(other.FoundPoints.Get(k)->x, rgb.FoundPoints.Get(k)->x) << format;
  }
}

// The precise stage: the README's sample plate to a hundredth of a pixel,
// the detection's own points left as they are without it, and a start from
// the corners where the detection fails.
TEST(PreciseStage, RefinesCompletesAndStartsFromTheCorners) {
  PlateParams p;
  p.width = 800;
  p.height = 600;
  p.pitch = 80;
  p.angleDeg = 1.5;
  const Plate plate = RenderPlate(p);
  const RegionList regions = Regions(MakeRegion({{125, 93}, {685, 107}, {675, 507}, {115, 493}}));
  std::vector<QPointF> corners{{125, 93}, {685, 107}, {675, 507}, {115, 493}};
  const std::vector<QPointF> truth = CrossingsInside(plate, corners);
  ASSERT_EQ(truth.size(), 35u);
  RecordingObserver observer;
  DetectionParams params;

  const DetectionResult plain = DetectCrossings(plate.image, regions, params, observer);
  ASSERT_EQ(plain.details.size(), 35u);
  for (const PointDetail& d : plain.details) EXPECT_FALSE(d.precise);

  params.PreciseRefinement = true;
  const DetectionResult precise = DetectCrossings(plate.image, regions, params, observer);
  ASSERT_TRUE(precise.Completed()) << FailureCause(precise);
  ASSERT_EQ(precise.FoundPoints.Count(), 35);
  ASSERT_EQ(precise.details.size(), 35u);
  EXPECT_TRUE(precise.regions[0].precise);
  for (int32_t k = 0; k < 35; ++k) {
    const VT_Point* q = precise.FoundPoints.Get(k);
    const QPointF& t = truth[static_cast<size_t>(k)];
    EXPECT_LT(std::hypot(q->x - t.x(), q->y - t.y()), 0.01) << "point " << k;
    const PointDetail& d = precise.details[static_cast<size_t>(k)];
    EXPECT_TRUE(d.precise);
    EXPECT_EQ(d.origin, PointOrigin::Found);
    EXPECT_GT(d.standardError, 0);
    EXPECT_LT(d.standardError, 0.05);
  }

  // Fragment counts no grid has: the detection fails, the precise stage
  // starts from the corners and finds every crossing.
  params.FragmentationWidth = params.FragmentationHeight = 0;
  const DetectionResult fromCorners = DetectCrossings(plate.image, regions, params, observer);
  ASSERT_TRUE(fromCorners.Completed()) << FailureCause(fromCorners);
  EXPECT_FALSE(fromCorners.regions[0].detectionError.empty());
  ASSERT_EQ(fromCorners.FoundPoints.Count(), 35);
  for (const PointDetail& d : fromCorners.details) EXPECT_EQ(d.origin, PointOrigin::Added);

  // Without the precise stage that run fails, and with it a region that
  // holds no grid fails too.
  params.PreciseRefinement = false;
  EXPECT_FALSE(DetectCrossings(plate.image, regions, params, observer).Completed());
  QImage blank(800, 600, QImage::Format_RGB32);
  blank.fill(Qt::white);
  params.PreciseRefinement = true;
  const DetectionResult none = DetectCrossings(blank, regions, params, observer);
  EXPECT_FALSE(none.Completed());
  EXPECT_EQ(none.failure, RunFailure::PreciseFailed);
}

}  // namespace
}  // namespace qova
