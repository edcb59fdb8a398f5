// The template step's sums, SIMD form against its scalar twin bit for bit,
// and both against the sums written out from the table's interpolation.
#include "precise/row_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace qova::precise {
namespace {

TEST(RowKernels, TemplateStepSumsEqualTheirTwinAndTheInterpolatedSums) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> value(-2, 2), weight(0, 1), ink(-40, 700);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = trial % 23;
    std::vector<double> quads(4 * static_cast<size_t>(n));
    for (double& v : quads) v = value(rng);
    // The ends of the interpolation, 0 and 1, as well as between.
    const double f = trial % 11 == 0 ? 0.0 : trial % 13 == 0 ? 1.0 : weight(rng);
    std::vector<double> d(static_cast<size_t>(n));
    for (double& x : d) x = ink(rng);
    const TemplateSums fast = TemplateStepSums(quads.data(), f, d.data(), n);
    const TemplateSums plain = TemplateStepSumsScalar(quads.data(), f, d.data(), n);
    ASSERT_EQ(std::memcmp(&fast, &plain, sizeof fast), 0) << trial;

    double t = 0, tt = 0, dp = 0;
    for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
      const double ti = (1 - f) * quads[4 * i] + f * quads[4 * i + 2];
      const double pi = (1 - f) * quads[4 * i + 1] + f * quads[4 * i + 3];
      t += ti, tt += ti * ti, dp += d[i] * pi;
    }
    EXPECT_NEAR(fast.t, t, 1e-12 * (1 + n));
    EXPECT_NEAR(fast.tt, tt, 1e-12 * (1 + n));
    EXPECT_NEAR(fast.dp, dp, 1e-9 * (1 + n));
  }
}

}  // namespace
}  // namespace qova::precise
