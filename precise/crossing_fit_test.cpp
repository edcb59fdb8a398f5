// One crossing refined: on many noisy renderings of the same crossing the
// fit is unbiased and its reported standard errors match the spread of its
// results (Monte Carlo); fitted from shared arms it lands where its own
// fit does.
#include "precise/crossing_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "precise/numeric.h"
#include "tests/support/line_image.h"

namespace qova::precise {
namespace {

// A 3 × 3 grid of 2.4-px lines 40 px apart, slightly turned; the middle
// crossing is fitted.
struct Scene {
  testing::LineImageSpec spec;
  Vec2 truth;  // the middle crossing
  LineGeometry v, h;
  TemplateShape shape{2.4, 0.8, 0};
  Scene() {
    spec.width = spec.height = 160;
    spec.columns = {40.3, 80.45, 120.6};
    spec.rows = {39.8, 79.65, 119.5};
    spec.slopeV = 0.012, spec.slopeH = -0.009;
    spec.lineWidth = 2.4, spec.blur = 0.8;
    const double y = (79.65 - 0.009 * 80.45) / (1 + 0.009 * 0.012);
    truth = {80.45 + 0.012 * y, y};
    const double along = 40;
    v = {spec.slopeV, 0, along, along, 40};
    h = {spec.slopeH, 0, along, along, 40};
  }
};

struct Families {
  GreyView viewV, viewH;
  LineTemplate table;
  FamilyContext v, h;
  Families(const QImage& image, const TemplateShape& shape, const PreciseParams& params)
      : viewV(image, true, false), viewH(image, true, true), table(shape, 14, 0.002) {
    v.view = &viewV, h.view = &viewH;
    v.support = h.support = SupportFromHalfWidth(3.5, params);
    v.core = h.core = CoreRadius(v.support, h.support);
    v.lineTemplate = h.lineTemplate = &table;
  }
};

TEST(CrossingFit, ReportedSigmaMatchesTheSpreadOfNoisyRenderings) {
  const Scene scene;
  const PreciseParams params;
  const FitOptions options{1, 1e-4};
  constexpr int kRuns = 200;
  std::vector<double> ex, ey, sx, sy;
  for (int run = 0; run < kRuns; ++run) {
    testing::LineImageSpec spec = scene.spec;
    spec.noise = 6, spec.seed = 1000 + static_cast<uint32_t>(run);
    const QImage image = testing::RenderLineImage(spec);
    const Families f(image, scene.shape, params);
    const CrossingFit fit =
        FitCrossing(scene.truth + Vec2{0.3, -0.25}, scene.v, scene.h, f.v, f.h, params, options);
    ASSERT_TRUE(fit.ok) << run;
    ex.push_back(fit.position.x - scene.truth.x), ey.push_back(fit.position.y - scene.truth.y);
    sx.push_back(fit.sigmaX), sy.push_back(fit.sigmaY);
  }
  auto mean = [](const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
  };
  auto spread = [&](const std::vector<double>& v) {
    const double m = mean(v);
    double s = 0;
    for (double x : v) s += (x - m) * (x - m);
    return std::sqrt(s / static_cast<double>(v.size() - 1));
  };
  for (const auto& [e, s] : {std::pair{ex, sx}, std::pair{ey, sy}}) {
    const double scatter = spread(e);
    // No bias beyond what the scatter of 200 runs leaves open.
    EXPECT_LT(std::fabs(mean(e)), 4 * scatter / std::sqrt(kRuns) + 5e-4);
    // The reported σ is the scatter (the fit's noise model holds here:
    // white noise); 200 runs know the scatter to about 5 %.
    const double reported = Median(s);
    EXPECT_GT(reported, 0.8 * scatter) << scatter << " " << reported;
    EXPECT_LT(reported, 1.25 * scatter) << scatter << " " << reported;
  }
}

// Without noise: the crossing to a few thousandths of a pixel, and the fit
// through its measured arms lands where its own fit does.
TEST(CrossingFit, SharedArmsGiveTheCrossingsOwnFit) {
  const Scene scene;
  const PreciseParams params;
  const FitOptions options{1, 1e-4};
  const QImage image = testing::RenderLineImage(scene.spec);
  const Families f(image, scene.shape, params);
  const Vec2 start = scene.truth + Vec2{0.05, -0.04};
  const CrossingFit own = FitCrossing(start, scene.v, scene.h, f.v, f.h, params, options);
  ASSERT_TRUE(own.ok);
  EXPECT_NEAR(own.position.x, scene.truth.x, 5e-3);
  EXPECT_NEAR(own.position.y, scene.truth.y, 5e-3);
  const MeasuredArm av0 = MeasureArm(f.v, start, scene.v, 0, params, options);
  const MeasuredArm av1 = MeasureArm(f.v, start, scene.v, 1, params, options);
  const MeasuredArm ah0 = MeasureArm(f.h, InFrame(start, true), scene.h, 0, params, options);
  const MeasuredArm ah1 = MeasureArm(f.h, InFrame(start, true), scene.h, 1, params, options);
  const MeasuredArm* armsV[2] = {&av0, &av1};
  const MeasuredArm* armsH[2] = {&ah0, &ah1};
  const CrossingFit shared =
      FitCrossingFromArms(start, scene.v, scene.h, armsV, armsH, params, options);
  ASSERT_TRUE(shared.ok);
  EXPECT_NEAR(shared.position.x, own.position.x, 1e-3);
  EXPECT_NEAR(shared.position.y, own.position.y, 1e-3);
  // Arms laid for a crossing a pixel away do not serve this one.
  const MeasuredArm bv0 = MeasureArm(f.v, start + Vec2{1, 0}, scene.v, 0, params, options);
  const MeasuredArm* farV[2] = {&bv0, &av1};
  EXPECT_FALSE(FitCrossingFromArms(start, scene.v, scene.h, farV, armsH, params, options).ok);
}

}  // namespace
}  // namespace qova::precise
