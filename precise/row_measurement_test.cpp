// The rows of a line, measured: the template's fit of one row recovering a
// known shift, and the rows of a rendered line (background plane removed,
// centroids and template centres) lying on the true line.
#include "precise/row_measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/line_image.h"

namespace qova::precise {
namespace {

// A row's samples D = β + A·T(s − d0) at whole pixels s = s0 + i: the
// template's fit from a third of a pixel off (as a centroid starts it)
// gives d0 back, at any sub-pixel phase, for
// sharp and blurred shapes, and the floor is 1/√12 grey level over the
// fit's sensitivity A·√ΣT'².
TEST(RowMeasurement, TemplateFitRecoversAKnownShift) {
  const PreciseParams params;
  for (const TemplateShape shape :
       {TemplateShape{2.5, 0.7, 0}, TemplateShape{1.2, 0, 0.9}, TemplateShape{4, 1.5, 0}}) {
    const LineTemplate table(shape, 20, params.templateTableStep);
    for (double d0 : {-0.83, -0.31, 0.0, 0.07, 0.44, 1.2}) {
      const double start = d0 + (d0 > 0 ? -0.33 : 0.33);
      for (double xk : {50.0, 50.25, 50.5, 50.91}) {
        MeasuredRow row;
        row.xk = xk, row.x0 = 42, row.n = 17;
        std::vector<double> d(row.n);
        const double a = 300, beta = 12;
        row.sum = 0;
        for (int i = 0; i < row.n; ++i) {
          d[i] = beta + a * TemplateValue(shape, row.x0 + i - xk - d0);
          row.sum += d[i];
        }
        row.mass = a * shape.w;
        ASSERT_TRUE(TemplateCentre(row, d.data(), table, start, 3, params)) << d0 << " " << xk;
        EXPECT_NEAR(row.centre, d0, 2e-4) << shape.w << " " << d0 << " " << xk;
        double slopes = 0;
        for (int i = 0; i < row.n; ++i)
          slopes += std::pow(TemplateSlope(shape, row.x0 + i - xk - row.centre), 2);
        EXPECT_NEAR(row.floor, kUniformRoundingSigma * kThirds / (a * std::sqrt(slopes)),
                    1e-3 * row.floor);
      }
    }
  }
  // A row without a line (flat) or whose fit leaves the band fails.
  const LineTemplate table(TemplateShape{2, 0.8, 0}, 20, params.templateTableStep);
  MeasuredRow flat;
  flat.xk = 30, flat.x0 = 22, flat.n = 17, flat.mass = 10, flat.sum = 17 * 5;
  std::vector<double> d(17, 5.0);
  EXPECT_FALSE(TemplateCentre(flat, d.data(), table, 0, 3, params));
  MeasuredRow far = flat;
  for (int i = 0; i < 17; ++i) d[i] = 200 * TemplateValue(TemplateShape{2, 0.8, 0}, i - 8 - 2.5);
  far.sum = 0;
  for (double v : d) far.sum += v;
  EXPECT_FALSE(TemplateCentre(far, d.data(), table, 0, 1.5, params));
}

// The rendered lines x = 60.3 + 0.02·y and y = 50.6 − 0.015·x: every
// row's centroid and template centre lies on its line, in both frames.
TEST(RowMeasurement, RowsOfARenderedLineLieOnIt) {
  testing::LineImageSpec spec;
  spec.width = spec.height = 120;
  spec.columns = {60.3}, spec.rows = {50.6};
  spec.slopeV = 0.02, spec.slopeH = -0.015;
  spec.lineWidth = 2.4, spec.blur = 0.8;
  const QImage image = testing::RenderLineImage(spec);
  const PreciseParams params;
  const TemplateShape shape{2.4, 0.8, 0};
  for (bool transposed : {false, true}) {
    const GreyView view(image, true, transposed);
    const double x0 = transposed ? 50.6 : 60.3, slope = transposed ? -0.015 : 0.02;
    const LineTemplate table(shape, 12, params.templateTableStep);
    FamilyContext family;
    family.view = &view;
    family.support = SupportFromHalfWidth(2.5, params);
    family.core = CoreRadius(family.support, family.support);
    // The crossing, and the line laid 0.2 px off it.
    const double y = (50.6 - 0.015 * 60.3) / (1 + 0.015 * 0.02), x = 60.3 + 0.02 * y;
    const Vec2 c = InFrame({x, y}, transposed) + Vec2{0.2, 0};
    const LineGeometry line{slope, 0, 45, 45, 100};
    for (const LineTemplate* t : {static_cast<const LineTemplate*>(nullptr), &table}) {
      family.lineTemplate = t;
      RowScratch& scratch = ThreadScratch();
      scratch.rows.clear(), scratch.samples.clear();
      const Band band = BandOf(family, line);
      ArmQuality arms[2];
      LayRows(view, family.core, c, line, band, 1, nullptr, params.windowHold, scratch, arms);
      ASSERT_GT(arms[0].rows, 30);
      ASSERT_GT(arms[1].rows, 30);
      Gather(view, scratch);
      bool planeOk[2];
      SubtractBackground(view, band, scratch, planeOk);
      ASSERT_TRUE(planeOk[0] && planeOk[1]);
      MeasureRows(family, band, params, nullptr, planeOk, scratch, arms);
      for (const MeasuredRow& row : scratch.rows) {
        // The other family's line crosses the window near the crossing's
        // core: rows there are not the line's own.
        if (std::fabs(row.dy) < family.core + 1) continue;
        ASSERT_TRUE(row.valid) << row.y;
        const double truth = x0 + slope * row.y;
        // Centroids carry a small pixel-phase bias; the template none.
        EXPECT_NEAR(row.xk + row.centre, truth, t ? 0.01 : 0.06) << row.y << " " << transposed;
      }
    }
  }
}

}  // namespace
}  // namespace qova::precise
