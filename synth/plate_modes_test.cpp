// The renderer's modes beyond the plain grid: blurred, defocused and skewed
// line profiles, tilt and barrel, light lines, the 8-bit palette. The plain
// grid's pixels are held by synthetic_plate_test and the golden cases.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "synth/line_profile.h"
#include "synth/plate_mapping.h"
#include "synth/synthetic_plate.h"

namespace qova {
namespace {

struct ProfileCase {
  const char* name;
  double width, blur, defocus, skew, halo = 0, haloWidth = 0;
};

const ProfileCase kProfiles[] = {{"box", 3, 0, 0, 0},
                                 {"blurred", 3, 1.2, 0, 0},
                                 {"disk", 2, 0, 2.5, 0},
                                 {"skewed", 4, 0, 0, 0.6},
                                 {"wide halo", 3, 0, 0, 0, 0.25, 3.5}};

// K1 and K2 are the antiderivatives of Q (checked by the trapezoid rule on a
// fine step, which errs by up to a step at the sharp box's edges), the ink has its centroid on the
// line centre (∫ d·Q = R·K1(R) − K2(R) far right of the line), and the symmetric profiles are
// symmetric.
TEST(LineProfile, AntiderivativesAndCentroidInEveryShape) {
  for (const ProfileCase& c : kProfiles) {
    SCOPED_TRACE(c.name);
    const LineProfile p(c.width, c.blur, c.defocus, c.skew, c.halo, c.haloWidth);
    const double from = -p.Reach() - 1, to = p.Reach() + 1, h = 1e-4;
    double k1 = 0, k2 = 0;
    for (double d = from; d < to; d += h) {
      const double next = d + h;
      const double k1Next = k1 + (p.Q(d) + p.Q(next)) / 2 * h;
      k2 += (k1 + k1Next) / 2 * h;
      k1 = k1Next;
      if (std::fmod(next - from, 0.37) < h) {
        EXPECT_NEAR(p.K1(next), k1, 2e-4) << next;
        // K1's error of up to a step at each edge grows along K2.
        EXPECT_NEAR(p.K2(next), k2, 2e-4 * std::max(1.0, (next - from) / 5)) << next;
      }
    }
    // (The halo's centroid lies beside the line's centre: its box is the line.)
    if (c.halo == 0) {
      const double right = p.Reach() + 3;
      EXPECT_NEAR(right * p.K1(right) - p.K2(right), 0, 1e-12);
    }
    if (c.skew == 0 && c.halo == 0) {
      for (double d : {0.3, 1.1, 1.5, 2.7}) {
        EXPECT_NEAR(p.Q(d), p.Q(-d), 1e-15);
      }
    }
  }
  // The skewed line carries 1 − skew/2 of a full line's ink, densest on its left.
  const LineProfile skewed(4, 0, 0, 0.6);
  EXPECT_NEAR(skewed.K1(10), 4 * 0.7, 1e-12);
  EXPECT_GT(skewed.Q(-1.5), skewed.Q(1.5));
  // The halo adds h·R of ink right of the box, which stays on the centre.
  const LineProfile halo(3, 0, 0, 0, 0.25, 3.5);
  EXPECT_NEAR(halo.K1(200), 3 + 0.25 * 3.5, 1e-12);
  EXPECT_EQ(halo.Q(-1.49), 1.0);
  EXPECT_EQ(halo.Q(1.49), 1.0);
  EXPECT_EQ(halo.Q(-1.51), 0.0);
  EXPECT_NEAR(halo.Q(1.5 + 3.5), 0.25 * std::exp(-1.0), 1e-15);
  // Its centroid lies h·R·(w/2 + R)/(w + h·R) right of the centre.
  const double far = 200;
  EXPECT_NEAR((far * halo.K1(far) - halo.K2(far)) / halo.K1(far),
              0.25 * 3.5 * (1.5 + 3.5) / (3 + 0.25 * 3.5), 1e-9);
  EXPECT_THROW(LineProfile(3, 1, 0, 0, 0.2, 3), std::invalid_argument);
  EXPECT_THROW(LineProfile(3, 0, 0, 0, 0.2, 0), std::invalid_argument);
}

// With a footprint one pixel wide the sharp box covers what the plain grid's
// renderer covers, and a trapezoid footprint keeps the covered ink.
TEST(LineProfile, FootprintCoverage) {
  const LineProfile box(3, 0, 0, 0);
  for (double d = -3; d <= 3; d += 0.05) {
    EXPECT_NEAR(box.Coverage(d, 1, 0), std::clamp(1.5 + 0.5 - std::fabs(d), 0.0, 1.0), 1e-12) << d;
  }
  const LineProfile blurred(2.5, 0.9, 0, 0);
  double sum = 0;
  for (double d = -20; d <= 20; d += 0.01) sum += blurred.Coverage(d, 0.95, 0.31) * 0.01;
  EXPECT_NEAR(sum, 2.5, 1e-6);
  EXPECT_THROW(LineProfile(3, 1, 2, 0), std::invalid_argument);
  EXPECT_THROW(LineProfile(3, 0, 2, 0.5), std::invalid_argument);
  EXPECT_THROW(LineProfile(3, 0, 0, 1), std::invalid_argument);
}

TEST(PlateMapping, ForwardUndoesBackwardAndTiltKeepsLinesStraight) {
  const PlateMapping identity(640, 480, 0, 0, 0);
  EXPECT_EQ(identity.Image(QPointF(1.0 / 3, 7.25)), QPointF(1.0 / 3, 7.25));
  const PlateMapping lens(640, 480, 0.12, -0.07, 0.06);
  for (double x = 0; x <= 640; x += 80)
    for (double y = 0; y <= 480; y += 60) {
      const QPointF back = lens.Image(lens.Ideal(QPointF(x, y)));
      EXPECT_NEAR(back.x(), x, 1e-9);
      EXPECT_NEAR(back.y(), y, 1e-9);
    }
  // A tilt alone maps a straight line onto a straight line.
  const PlateMapping tilt(640, 480, 0.2, 0.1, 0);
  const QPointF a = tilt.Image({50, 40}), b = tilt.Image({350, 240}), m = tilt.Image({200, 140});
  const double cross = (b.x() - a.x()) * (m.y() - a.y()) - (b.y() - a.y()) * (m.x() - a.x());
  EXPECT_NEAR(cross, 0, 1e-8);
  EXPECT_GT(std::fabs(m.x() - 200) + std::fabs(m.y() - 140), 1);
  // A barrel draws the corners in and leaves the centre.
  const PlateMapping barrel(640, 480, 0, 0, 0.05);
  EXPECT_LT(barrel.Image({0, 0}).x(), 0 + 20);
  EXPECT_GT(barrel.Image({0, 0}).x(), 0);
  EXPECT_EQ(barrel.Image({320, 240}), QPointF(320, 240));
}

// The intersection of x = a + b·y + c·y² (through the row centroids of the
// near-vertical line) and y = a' + b'·x + c'·x² (column centroids of the
// near-horizontal one), each fitted over both arms of a crossing.
struct Quadratic {
  double a = 0, b = 0, c = 0;
};

Quadratic FitQuadratic(const std::vector<double>& t, const std::vector<double>& z, double t0) {
  double m[3][4] = {};
  for (size_t i = 0; i < t.size(); ++i) {
    const double u = t[i] - t0, basis[3] = {1, u, u * u};
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < 3; ++k) m[r][k] += basis[r] * basis[k];
      m[r][3] += basis[r] * z[i];
    }
  }
  for (int col = 0; col < 3; ++col)
    for (int r = col + 1; r < 3; ++r) {
      const double f = m[r][col] / m[col][col];
      for (int k = col; k < 4; ++k) m[r][k] -= f * m[col][k];
    }
  double x[3];
  for (int r = 2; r >= 0; --r) {
    double s = m[r][3];
    for (int k = r + 1; k < 3; ++k) s -= m[r][k] * x[k];
    x[r] = s / m[r][r];
  }
  return {x[0], x[1], x[2]};
}

double Ink(const Plate& plate, int x, int y) {
  const QRgb p = plate.image.pixel(x, y);
  return std::fabs(qRed(p) - plate.params.background);
}

// Where the rendered ink puts the crossing of lines (k, l): centroids over a
// window holding the whole profile, centred on the straight line to the
// neighbouring crossing, on rows (columns) from `core` pixels away out to 0.7
// of the way to that crossing.
QPointF MeasuredCrossing(const Plate& plate, int k, int l, int half, int core) {
  const QPointF truth = plate.Crossing(k, l);
  std::vector<double> ys, xs, cxs, cys;
  for (int side : {-1, 1}) {
    const QPointF below = plate.Crossing(k, l + side), beside = plate.Crossing(k + side, l);
    const int rows = static_cast<int>(0.7 * std::fabs(below.y() - truth.y()));
    const int columns = static_cast<int>(0.7 * std::fabs(beside.x() - truth.x()));
    for (int o = core; o <= std::max(rows, columns); ++o) {
      const int y = static_cast<int>(std::lround(truth.y())) + side * o;
      const int x = static_cast<int>(std::lround(truth.x())) + side * o;
      if (o <= rows) {
        const double along = (y - truth.y()) / (below.y() - truth.y());
        const int centre =
            static_cast<int>(std::lround(truth.x() + along * (below.x() - truth.x())));
        double m = 0, mx = 0;
        for (int s = -half; s <= half; ++s) {
          const double w = Ink(plate, centre + s, y);
          m += w, mx += w * (centre + s);
        }
        ys.push_back(y), cxs.push_back(mx / m);
      }
      if (o <= columns) {
        const double along = (x - truth.x()) / (beside.x() - truth.x());
        const int centre =
            static_cast<int>(std::lround(truth.y() + along * (beside.y() - truth.y())));
        double m = 0, my = 0;
        for (int s = -half; s <= half; ++s) {
          const double w = Ink(plate, x, centre + s);
          m += w, my += w * (centre + s);
        }
        xs.push_back(x), cys.push_back(my / m);
      }
    }
  }
  const Quadratic v = FitQuadratic(ys, cxs, truth.y());
  const Quadratic h = FitQuadratic(xs, cys, truth.x());
  double dx = 0, dy = 0;
  for (int i = 0; i < 20; ++i) {
    dx = v.a - truth.x() + v.b * dy + v.c * dy * dy;
    dy = h.a - truth.y() + h.b * dx + h.c * dx * dx;
  }
  return truth + QPointF(dx, dy);
}

struct ModeCase {
  const char* name;
  PlateParams params;
};

PlateParams Mode(double angle, void (*change)(PlateParams&)) {
  PlateParams p;
  p.width = 640;
  p.height = 560;
  p.pitch = 96;
  p.lineWidth = 3;
  p.angleDeg = angle;
  p.originX = 0.31;
  p.originY = -0.17;
  p.background = 255;
  p.ink = 0;
  change(p);
  return p;
}

// Centroids of the rendered ink, fitted along each line, meet where the
// truth says, in every mode: the truth is the crossing of the mapped line
// centres (the centroid line of the skewed profile). A row's centroid errs
// with the line's pixel phase (sharp lines) and the 8-bit rounding; over arms
// of 80 rows on lines turned by 2-3° the phases run through several whole
// pixels and those errors average out to a few thousandths.
TEST(RenderPlate, TruthIsWhereTheRenderedLinesCrossInEveryMode) {
  const ModeCase cases[] = {
      {"blur", Mode(2.3, [](PlateParams& p) { p.blur = 1.5; })},
      {"defocus", Mode(-3.1, [](PlateParams& p) { p.defocus = 2.2; })},
      {"skew", Mode(2.7, [](PlateParams& p) { p.skew = 0.7, p.lineWidth = 4; })},
      {"tilt", Mode(3.5, [](PlateParams& p) { p.tiltX = 0.1, p.tiltY = -0.06; })},
      {"tilt, blurred",
       Mode(3.5, [](PlateParams& p) { p.tiltX = 0.1, p.tiltY = -0.06, p.blur = 1; })},
      {"barrel", Mode(-2.2, [](PlateParams& p) { p.barrel = 0.08; })},
      {"barrel, blurred", Mode(-2.2, [](PlateParams& p) { p.barrel = 0.08, p.blur = 1; })},
      {"light lines",
       Mode(3.3, [](PlateParams& p) { p.background = 0, p.ink = 255, p.blur = 0.8; })},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Plate plate = RenderPlate(c.params);
    double worst = 0;
    int measured = 0;
    for (size_t n = 0; n < plate.crossings.size(); ++n)
      for (size_t i = 0; i < plate.crossings[n].size(); ++i) {
        const QPointF truth = plate.crossings[n][i];
        if (truth.x() < 100 || truth.x() > 540 || truth.y() < 100 || truth.y() > 460) continue;
        const QPoint kl = plate.lines[n][i];
        const QPointF m = MeasuredCrossing(plate, kl.x(), kl.y(), 14, 12);
        worst = std::max(worst, std::hypot(m.x() - truth.x(), m.y() - truth.y()));
        ++measured;
      }
    EXPECT_GE(measured, 12);
    EXPECT_LT(worst, 0.002);
  }
}

TEST(RenderPlate, PaletteHoldsTheSameGreysThroughAReversedTable) {
  PlateParams params = Mode(1.3, [](PlateParams& p) { p.noise = 4, p.tiltX = 0.1; });
  const Plate rgb = RenderPlate(params);
  params.palette = true;
  const Plate indexed = RenderPlate(params);
  ASSERT_EQ(indexed.image.format(), QImage::Format_Indexed8);
  EXPECT_EQ(indexed.image.color(0), qRgb(255, 255, 255));
  EXPECT_EQ(indexed.image.convertToFormat(QImage::Format_RGB32), rgb.image);
  EXPECT_EQ(indexed.crossings, rgb.crossings);
  // Written as an 8-bit bitmap (bits per pixel at offset 28) that reads back the same.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(indexed.image.save(&buffer, "BMP"));
  ASSERT_GT(bytes.size(), 30);
  EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 8);
  QImage back;
  ASSERT_TRUE(back.loadFromData(bytes, "BMP"));
  EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), rgb.image);
}

TEST(RenderPlate, LightLinesOnADarkPlate) {
  const Plate plate = RenderPlate(Mode(0, [](PlateParams& p) {
    p.background = 20, p.ink = 230, p.blur = 0.7, p.originX = 0, p.originY = 0;
  }));
  const QPointF c = plate.crossings[3][3];
  EXPECT_GT(qRed(plate.image.pixel(static_cast<int>(c.x()), static_cast<int>(c.y()))), 200);
  EXPECT_EQ(qRed(plate.image.pixel(static_cast<int>(c.x()) + 48, static_cast<int>(c.y()) + 48)),
            20);
}

TEST(RenderPlate, RejectsModesItCannotRender) {
  auto bad = [](void (*change)(PlateParams&)) { return Mode(0, change); };
  EXPECT_THROW(RenderPlate(bad([](PlateParams& p) { p.blur = 1, p.skew = 0.3; })),
               std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& p) { p.tiltX = 0.4, p.tiltY = -0.2; })),
               std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& p) { p.barrel = -0.3; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& p) { p.blur = NAN; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& p) { p.blur = 8; })), std::invalid_argument);
  EXPECT_THROW(RenderPlate(bad([](PlateParams& p) { p.skew = 1; })), std::invalid_argument);
}

}  // namespace
}  // namespace qova
