// The precise refinement on rendered plates with exact truth: every crossing
// of the region once, no false point, RMS error within the plate's limit,
// and a reported standard error that tracks the error; the same points from
// corrupted starting points and from none; the same bits on any number of
// threads; and no crash on nonsense.
#include "precise/precise_refinement.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/precise_test_support.h"

namespace qova {
namespace {

using testing::PlateCase;
using testing::Score;

class StandardPlate : public ::testing::TestWithParam<PlateCase> {};

// Starts from the detection's own points (the corners when it finds fewer
// than five), as the run will call it.
TEST_P(StandardPlate, FindsEveryCrossingOnceToTheLimitWithAnHonestSigma) {
  const PlateCase& c = GetParam();
  const Plate plate = RenderPlate(c.params);
  const auto corners = testing::PlateRegion(plate);
  const auto truth = testing::TruthInside(plate, corners);
  ASSERT_GE(truth.size(), 12u);
  const auto starts = testing::DetectionRunPoints(plate.image, corners);
  const PreciseResult r = RefinePrecise(plate.image, corners, starts);
  ASSERT_TRUE(r.completed) << static_cast<int>(r.reason);
  const Score s = testing::ScorePoints(truth, testing::PointsOf(r), testing::SigmasOf(r));
  EXPECT_EQ(s.found, s.expected);
  EXPECT_EQ(s.falsePoints, 0);
  EXPECT_EQ(s.duplicates, 0);
  EXPECT_LE(s.rms, c.rmsLimit);
  if (c.unmodelled) {
    // A profile the template does not model: no worse than the centroids.
    PreciseParams centroids;
    centroids.useTemplate = false;
    const PreciseResult plain = RefinePrecise(plate.image, corners, starts, centroids);
    const Score p = testing::ScorePoints(truth, testing::PointsOf(plain), {});
    EXPECT_EQ(p.found, p.expected);
    EXPECT_LE(s.rms, p.rms * 1.05 + 1e-4);
  } else if (s.rms >= 5e-4) {
    // Where the error is measurable the reported σ is within a factor 2 of
    // it; where it is below half a thousandth, σ (the pixels' rounding at
    // least) must still stay small.
    EXPECT_GE(s.medianSigma, s.rms / 2);
    EXPECT_LE(s.medianSigma, s.rms * 2);
  } else {
    EXPECT_LE(s.medianSigma, 0.002);
  }
}

INSTANTIATE_TEST_SUITE_P(Plates, StandardPlate, ::testing::ValuesIn(testing::StandardPlates()),
                         [](const ::testing::TestParamInfo<PlateCase>& test) {
                           std::string name;
                           for (char ch : test.param.name) {
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                             if (ch == '+') name += "plus";
                             if (ch == '-') name += "minus";
                           }
                           return name;
                         });

// Lines with a wide halo on one side (a ghost of the line, as a cover glass
// or a lens makes it): no box-and-blur template describes them. The halo is
// not the line (the renderer's truth is the centre of its core), and a band
// wide enough to take it in pulls the centroids half a pixel towards it and
// lets the noise over its width into them. The template, which follows the
// core, must stay: the crossings lie close to the core (a fifth of the
// centroids' offset at most) and scatter about their common offset well
// under the centroids' scatter, with a reported σ that is that scatter's.
TEST(PreciseRefinement, WideHaloNeitherScattersNorMovesTheCrossingsApart) {
  PlateParams p;
  p.width = 1000, p.height = 760, p.pitch = 90, p.lineWidth = 3;
  p.angleDeg = 0.7, p.originX = 0.37, p.originY = -0.21;
  p.noise = 3, p.seed = 11;
  p.halo = 0.25, p.haloWidth = 3;
  const Plate plate = RenderPlate(p);
  const auto corners = testing::PlateRegion(plate);
  const auto truth = testing::TruthInside(plate, corners);
  ASSERT_GE(truth.size(), 30u);
  const auto starts = testing::DetectionRunPoints(plate.image, corners);
  struct Spread {
    QPointF offset;  // mean offset from the truth
    double scatter;  // RMS about it
    double sigma;    // median reported σ
  };
  auto run = [&](const PreciseParams& params) {
    const PreciseResult r = RefinePrecise(plate.image, corners, starts, params);
    EXPECT_TRUE(r.completed) << static_cast<int>(r.reason);
    const Score s = testing::ScorePoints(truth, testing::PointsOf(r), testing::SigmasOf(r));
    EXPECT_EQ(s.found, s.expected);
    EXPECT_EQ(s.falsePoints, 0);
    EXPECT_EQ(s.duplicates, 0);
    std::vector<QPointF> off;
    for (const QPointF& q : testing::PointsOf(r)) {
      const QPointF* best = &truth.front();
      for (const QPointF& t : truth)
        if (std::hypot(q.x() - t.x(), q.y() - t.y()) <
            std::hypot(q.x() - best->x(), q.y() - best->y()))
          best = &t;
      off.push_back(q - *best);
    }
    Spread spread{{}, 0, s.medianSigma};
    for (const QPointF& o : off) spread.offset += o / static_cast<double>(off.size());
    for (const QPointF& o : off)
      spread.scatter +=
          std::pow(o.x() - spread.offset.x(), 2) + std::pow(o.y() - spread.offset.y(), 2);
    spread.scatter = std::sqrt(spread.scatter / static_cast<double>(off.size()));
    return spread;
  };
  const Spread fit = run(PreciseParams{});
  PreciseParams centroidsOnly;
  centroidsOnly.useTemplate = false;
  const Spread centroids = run(centroidsOnly);
  EXPECT_LE(fit.scatter, 0.6 * centroids.scatter) << fit.scatter << " " << centroids.scatter;
  EXPECT_LE(std::hypot(fit.offset.x(), fit.offset.y()),
            0.2 * std::hypot(centroids.offset.x(), centroids.offset.y()));
  EXPECT_GE(fit.sigma, fit.scatter / 2);
  EXPECT_LE(fit.sigma, fit.scatter * 2);
}

// A turned, slightly noisy plate whose crossings have fractional coordinates.
Plate CorruptionPlate() {
  PlateParams p;
  p.width = 640;
  p.height = 480;
  p.pitch = 40;
  p.lineWidth = 2.5;
  p.angleDeg = -1.3;
  p.originX = 0.29;
  p.originY = -0.41;
  p.noise = 3;
  p.seed = 9;
  return RenderPlate(p);
}

std::vector<VT_Point> Moved(const std::vector<QPointF>& truth, double reach, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::vector<VT_Point> out;
  for (const QPointF& t : truth) {
    double dx, dy;
    do dx = unit(random), dy = unit(random);
    while (dx * dx + dy * dy > 1);
    out.emplace_back(t.x() + reach * dx, t.y() + reach * dy);
  }
  return out;
}

// Duplicates (one a pixel away, one a line's width away), whole rows and a
// column missing, every point moved by up to 0.3 of the pitch, and no
// points at all: the same crossings, to a thousandth of a pixel.
TEST(RefinePrecise, CorruptedStartsGiveTheSamePoints) {
  const Plate plate = CorruptionPlate();
  const auto corners = testing::PlateRegion(plate);
  const auto truth = testing::TruthInside(plate, corners);
  const std::vector<VT_Point> exact = Moved(truth, 0.5, 1);
  const PreciseResult base = RefinePrecise(plate.image, corners, exact);
  ASSERT_TRUE(base.completed) << static_cast<int>(base.reason);
  const Score s = testing::ScorePoints(truth, testing::PointsOf(base), {});
  ASSERT_EQ(s.found, s.expected);
  ASSERT_EQ(static_cast<int>(base.points.size()), s.expected);

  std::vector<VT_Point> duplicated = exact;
  for (const VT_Point& p : exact) {
    duplicated.emplace_back(p.x + 0.8, p.y - 0.6);
    duplicated.emplace_back(p.x + 2.5, p.y);
  }
  std::vector<VT_Point> gappy;
  const double firstY = truth.front().y();
  int column = 0;
  for (size_t i = 0; i < exact.size(); ++i) {
    if (i > 0 && truth[i].x() - truth[i - 1].x() > plate.params.pitch / 2) ++column;
    const int row = static_cast<int>(std::lround((truth[i].y() - firstY) / plate.params.pitch));
    if (row == 2 || row == 3 || column == 4) continue;
    gappy.push_back(exact[i]);
  }
  const std::vector<VT_Point> moved = Moved(truth, 0.3 * plate.params.pitch, 7);
  const struct {
    const char* name;
    std::vector<VT_Point> starts;
  } cases[] = {{"duplicates", duplicated}, {"missing rows", gappy}, {"moved", moved}, {"none", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PreciseResult r = RefinePrecise(plate.image, corners, c.starts);
    ASSERT_TRUE(r.completed) << static_cast<int>(r.reason);
    ASSERT_EQ(r.points.size(), base.points.size());
    for (size_t i = 0; i < r.points.size(); ++i) {
      EXPECT_NEAR(r.points[i].x, base.points[i].x, 1e-3);
      EXPECT_NEAR(r.points[i].y, base.points[i].y, 1e-3);
    }
    if (std::string(c.name) == "duplicates") {
      EXPECT_TRUE(std::all_of(r.points.begin(), r.points.end(), [](const PrecisePoint& p) {
        return p.origin == PointOrigin::Merged;
      }));
    }
    if (std::string(c.name) == "missing rows") {
      EXPECT_TRUE(std::any_of(r.points.begin(), r.points.end(), [](const PrecisePoint& p) {
        return p.origin == PointOrigin::Added;
      }));
    }
    if (std::string(c.name) == "none") {
      EXPECT_TRUE(r.startedFromCorners);
    }
  }
}

// The sample plate of the README (qova-make-plate sample.bmp --width 800
// --height 600 --pitch 80 --angle 1.5, region 125,93,685,107,675,507,115,493):
// its 35 crossings, each within a hundredth of a pixel of the truth.
TEST(RefinePrecise, TheReadmeSamplePlate) {
  PlateParams p;
  p.width = 800;
  p.height = 600;
  p.pitch = 80;
  p.angleDeg = 1.5;
  const Plate plate = RenderPlate(p);
  const std::vector<VT_Point> corners = {{125, 93}, {685, 107}, {675, 507}, {115, 493}};
  const auto truth = testing::TruthInside(plate, corners);
  ASSERT_EQ(truth.size(), 35u);
  const PreciseResult r =
      RefinePrecise(plate.image, corners, testing::DetectionRunPoints(plate.image, corners));
  ASSERT_TRUE(r.completed) << static_cast<int>(r.reason);
  ASSERT_EQ(r.points.size(), 35u);
  for (size_t i = 0; i < truth.size(); ++i)
    EXPECT_LT(std::hypot(r.points[i].x - truth[i].x(), r.points[i].y - truth[i].y()), 0.01);
}

// Column by column, left to right, each top to bottom.
TEST(RefinePrecise, PointsComeColumnByColumnTopToBottom) {
  const Plate plate = CorruptionPlate();
  const auto corners = testing::PlateRegion(plate);
  const auto truth = testing::TruthInside(plate, corners);
  const PreciseResult r = RefinePrecise(plate.image, corners, Moved(truth, 1, 3));
  ASSERT_TRUE(r.completed) << static_cast<int>(r.reason);
  ASSERT_EQ(r.points.size(), truth.size());
  for (size_t i = 0; i < truth.size(); ++i) {
    EXPECT_NEAR(r.points[i].x, truth[i].x(), 0.05);
    EXPECT_NEAR(r.points[i].y, truth[i].y(), 0.05);
  }
}

TEST(RefinePrecise, TheSameBitsOnAnyNumberOfThreads) {
  PlateParams p;
  p.width = 700;
  p.height = 560;
  p.pitch = 45;
  p.angleDeg = 2.1;
  p.barrel = 0.03;
  p.noise = 4;
  const Plate plate = RenderPlate(p);
  const auto corners = testing::PlateRegion(plate);
  const auto starts = testing::DetectionRunPoints(plate.image, corners);
  std::vector<PreciseResult> results;
  for (int threads : {1, 2, 3, 8}) {
    PreciseParams params;
    params.threads = threads;
    results.push_back(RefinePrecise(plate.image, corners, starts, params));
    ASSERT_TRUE(results.back().completed) << static_cast<int>(results.back().reason);
  }
  for (size_t k = 1; k < results.size(); ++k) {
    ASSERT_EQ(results[k].points.size(), results[0].points.size());
    for (size_t i = 0; i < results[0].points.size(); ++i) {
      const PrecisePoint& a = results[0].points[i];
      const PrecisePoint& b = results[k].points[i];
      EXPECT_EQ(std::memcmp(&a.x, &b.x, sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(&a.y, &b.y, sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(&a.standardError, &b.standardError, sizeof(double)), 0);
      EXPECT_EQ(a.origin, b.origin);
    }
  }
}

// The final pass measures each arm once for the two crossings it joins;
// with no room for a window to stay put (windowHold 0) every crossing is
// measured about itself instead. Both give the same points to a small
// fraction of their standard error.
TEST(RefinePrecise, SharedArmsGiveWhatEachCrossingsOwnFitGives) {
  PlateParams p;
  p.width = 700;
  p.height = 560;
  p.pitch = 45;
  p.angleDeg = -2.7;
  p.barrel = 0.02;
  p.noise = 4;
  p.seed = 5;
  const Plate plate = RenderPlate(p);
  const auto corners = testing::PlateRegion(plate);
  const auto starts = testing::DetectionRunPoints(plate.image, corners);
  PreciseParams own;
  own.windowHold = 0;
  const PreciseResult shared = RefinePrecise(plate.image, corners, starts);
  const PreciseResult apart = RefinePrecise(plate.image, corners, starts, own);
  ASSERT_TRUE(shared.completed) << static_cast<int>(shared.reason);
  ASSERT_TRUE(apart.completed) << static_cast<int>(apart.reason);
  ASSERT_EQ(shared.points.size(), apart.points.size());
  double largest = 0;
  size_t differ = 0;
  for (size_t i = 0; i < shared.points.size(); ++i) {
    const PrecisePoint& a = shared.points[i];
    const PrecisePoint& b = apart.points[i];
    largest = std::max(largest, std::hypot(a.x - b.x, a.y - b.y) / a.standardError);
    EXPECT_NEAR(a.standardError, b.standardError, 0.1 * a.standardError);
    differ += a.x != b.x || a.y != b.y;
  }
  EXPECT_LT(largest, 0.25);
  // Not the same bits: most crossings did come from the shared arms.
  EXPECT_GT(differ, shared.points.size() / 2);
}

// Nonsense in, a reason out (or fewer points), never a crash or a read
// outside the image (the sanitizer build checks that).
TEST(RefinePrecise, NonsenseGivesAReasonNotACrash) {
  const Plate plate = CorruptionPlate();
  const auto corners = testing::PlateRegion(plate);
  const auto truth = testing::TruthInside(plate, corners);
  const auto starts = Moved(truth, 0.5, 2);
  auto expectRefused = [](const PreciseResult& r) {
    EXPECT_FALSE(r.completed);
    EXPECT_TRUE(r.points.empty());
    EXPECT_NE(r.reason, PreciseFailure::None);
  };
  expectRefused(RefinePrecise(QImage(), corners, starts));
  PreciseParams noRows;
  noRows.finalRowStep = 0;
  expectRefused(RefinePrecise(plate.image, corners, starts, noRows));
  for (int side : {1, 2, 3, 7}) {
    QImage tiny(side, side, QImage::Format_RGB32);
    tiny.fill(qRgb(200, 200, 200));
    const std::vector<VT_Point> c = {
        {0, 0}, {side - 1.0, 0}, {side - 1.0, side - 1.0}, {0, side - 1.0}};
    const PreciseResult r = RefinePrecise(tiny, c, c);
    EXPECT_FALSE(r.completed);
  }
  QImage flat(400, 300, QImage::Format_RGB32);
  flat.fill(qRgb(128, 128, 128));
  expectRefused(RefinePrecise(flat, corners, starts));
  expectRefused(RefinePrecise(plate.image,
                              std::vector<VT_Point>(corners.begin(), corners.end() - 1), starts));
  using Corners = std::vector<VT_Point>;
  expectRefused(
      RefinePrecise(plate.image, Corners{{10, 10}, {300, 10}, {600, 10}, {100, 10}}, starts));
  expectRefused(RefinePrecise(plate.image, Corners{{NAN, 0}, {1, 0}, {1, 1}, {0, 1}}, starts));
  expectRefused(RefinePrecise(plate.image,
                              Corners{{1e300, 0}, {2e300, 0}, {2e300, 1e300}, {0, 1e300}}, starts));
  expectRefused(RefinePrecise(
      plate.image, Corners{{-900, -900}, {-800, -900}, {-800, -800}, {-900, -800}}, starts));

  // A region over the image's border and beyond it: only points inside
  // both, each a true crossing.
  const std::vector<VT_Point> overBorder = {{-50, -40}, {300, -40}, {300, 200}, {-50, 200}};
  const PreciseResult partial = RefinePrecise(plate.image, overBorder, starts);
  for (const PrecisePoint& p : partial.points) {
    EXPECT_GE(p.x, 0);
    EXPECT_GE(p.y, 0);
    EXPECT_LE(p.x, 300);
    EXPECT_LE(p.y, 200);
  }
  const Score s = testing::ScorePoints(
      plate.crossings.empty()
          ? std::vector<QPointF>{}
          : CrossingsInside(plate, {{-50, -40}, {300, -40}, {300, 200}, {-50, 200}}),
      testing::PointsOf(partial), {});
  EXPECT_EQ(s.falsePoints, 0);
  EXPECT_EQ(s.duplicates, 0);

  // Absurd starts: far away, all on one spot, a line of them, thousands at
  // random; the result is the plate's crossings or a refusal.
  std::vector<VT_Point> far = {{1e300, -1e300}, {-5, -5}, {1e9, 3}, {INFINITY, 2}, {2, NAN}};
  std::vector<VT_Point> spot(50, VT_Point(321.5, 222.25));
  std::vector<VT_Point> line;
  for (int i = 0; i < 40; ++i) line.emplace_back(20 + 15 * i, 100);
  std::vector<VT_Point> noise;
  std::mt19937 random(5);
  std::uniform_real_distribution<double> x(0, 639), y(0, 479);
  for (int i = 0; i < 3000; ++i) noise.emplace_back(x(random), y(random));
  for (const auto* absurd : {&far, &spot, &line, &noise}) {
    const PreciseResult r = RefinePrecise(plate.image, corners, *absurd);
    if (!r.completed) {
      EXPECT_NE(r.reason, PreciseFailure::None);
      continue;
    }
    const Score a = testing::ScorePoints(truth, testing::PointsOf(r), {});
    EXPECT_EQ(a.falsePoints, 0);
    EXPECT_EQ(a.duplicates, 0);
  }
}

}  // namespace
}  // namespace qova
