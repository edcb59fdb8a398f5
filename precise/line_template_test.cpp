// The line profile template: its closed form against its own definition,
// and the fit of a shape to a pooled profile.
#include "precise/line_template.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qova::precise {
namespace {

// Sampled at whole pixels the template holds the box's whole ink at every
// phase (the pixel integral and the normalised filter keep it), T' is T's
// derivative, and the table gives both, one by one and as a step's sums.
TEST(LineTemplate, InkAtEveryPhaseAndSlopeIsTheDerivative) {
  for (const TemplateShape t : {TemplateShape{3, 0, 0}, TemplateShape{1.5, 0.8, 0},
                                TemplateShape{2.2, 0, 1.1}, TemplateShape{0.7, 2.5, 0}}) {
    for (double phase : {0.0, 0.13, 0.5, 0.77}) {
      double ink = 0;
      for (int s = -30; s <= 30; ++s) ink += TemplateValue(t, s - phase);
      EXPECT_NEAR(ink, t.w, 1e-9);
    }
    for (double s : {-2.3, -0.9, 0.31, 1.7}) {
      const double h = 1e-5;
      const double numeric = (TemplateValue(t, s + h) - TemplateValue(t, s - h)) / (2 * h);
      EXPECT_NEAR(TemplateSlope(t, s), numeric, 1e-5);
    }
    const LineTemplate table(t, 12, 0.002);
    for (double s : {-3.3, -0.41, 0.0, 1.234, 5.5}) {
      double v, d;
      table.At(s, v, d);
      EXPECT_NEAR(v, TemplateValue(t, s), 1e-5);
      double runV[3], runD[3];
      table.Run(s, 3, runV, runD);
      EXPECT_NEAR(runV[2], TemplateValue(t, s + 2), 1e-5);
    }
    // A Gauss-Newton step's sums over whole-pixel samples, inside the table
    // and running over its ends, are the sums of the interpolated values.
    for (double s0 : {-9.7, -3.3, -0.41, 0.0, 1.234, 8.9}) {
      const double d[9] = {3, -1, 40, 200, 610, 180, 35, 2, -4};
      double v[9], p[9];
      table.Run(s0, 9, v, p);
      TemplateSums want;
      for (int i = 0; i < 9; ++i) {
        want.t += v[i], want.p += p[i], want.tt += v[i] * v[i], want.tp += v[i] * p[i];
        want.pp += p[i] * p[i], want.dt += d[i] * v[i], want.dp += d[i] * p[i];
      }
      const TemplateSums got = table.StepSums(s0, 9, d);
      for (auto field : {&TemplateSums::t, &TemplateSums::p, &TemplateSums::tt, &TemplateSums::tp,
                         &TemplateSums::pp, &TemplateSums::dt, &TemplateSums::dp})
        EXPECT_NEAR(got.*field, want.*field, 1e-9 * (1 + std::fabs(want.*field))) << s0;
    }
  }
}

// A pooled profile made from a known shape (scaled, offset, sampled at many
// phases) gives that shape back, of either blur kind.
TEST(LineTemplate, FitRecoversTheShapeOfAPooledProfile) {
  for (const TemplateShape truth : {TemplateShape{2.6, 0.9, 0}, TemplateShape{1.4, 0, 1.2}}) {
    ProfilePool pool(0.1, 8);
    for (int row = 0; row < 400; ++row) {
      const double phase = row * 0.0173;
      for (int i = -7; i <= 7; ++i) {
        const double s = i - (phase - std::floor(phase));
        pool.Add(s, 0.02 + 0.4 * TemplateValue(truth, s));
      }
      pool.AddRow(phase);
    }
    const auto shape = FitTemplateShape(pool, 6, std::nullopt);
    ASSERT_TRUE(shape);
    EXPECT_NEAR(shape->w, truth.w, 0.02);
    EXPECT_NEAR(shape->sigmaC, truth.sigmaC, 0.02);
    EXPECT_NEAR(shape->sigmaD, truth.sigmaD, 0.02);
  }
}

TEST(ProfilePool, ShiftBalancedOverPhasesOnlyWithManyPhases) {
  ProfilePool pool(0.1, 5);
  for (int k = 0; k < 200; ++k) pool.AddShift(k * 0.037, 0.01 + (k % 2 ? 0.004 : -0.004));
  const auto shift = pool.BalancedShift();
  ASSERT_TRUE(shift);
  EXPECT_NEAR(shift->mean, 0.01, 1e-3);
  ProfilePool onePhase(0.1, 5);
  for (int k = 0; k < 200; ++k) onePhase.AddShift(12.37, 0.01);
  EXPECT_FALSE(onePhase.BalancedShift());
}

}  // namespace
}  // namespace qova::precise
