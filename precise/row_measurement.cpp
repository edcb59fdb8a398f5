#include "precise/row_measurement.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "precise/numeric.h"

namespace qova::precise {
namespace {

// A row's template fit stops once its centre moves less than this, pixels
// (the next step would move it by about the square of it).
constexpr double kTemplateSettled = 1e-3;
// A 3×3 system whose determinant is below this share of its diagonal's
// product is singular for our purposes.
constexpr double kSingularShare = 1e-12;
// The largest relative change of the paper's brightness across one pixel
// that is taken for lighting (vignetting, uneven light), not for ink.
constexpr double kMaxRelativeSlope = 0.05;

// Solves the symmetric 3×3 system m·x = b by Cramer's rule; false when it
// is singular or nearly so.
bool Solve3(const double m[9], const double b[3], double x[3]) {
  const double c0 = m[4] * m[8] - m[5] * m[7], c1 = m[3] * m[8] - m[5] * m[6],
               c2 = m[3] * m[7] - m[4] * m[6];
  const double det = m[0] * c0 - m[1] * c1 + m[2] * c2;
  if (!(std::fabs(det) > kSingularShare * std::fabs(m[0] * m[4] * m[8]))) return false;
  const double inverse = 1 / det;
  x[0] = (b[0] * c0 - m[1] * (b[1] * m[8] - m[5] * b[2]) + m[2] * (b[1] * m[7] - m[4] * b[2])) *
         inverse;
  x[1] = (m[0] * (b[1] * m[8] - m[5] * b[2]) - b[0] * c1 + m[2] * (m[3] * b[2] - b[1] * m[6])) *
         inverse;
  x[2] = (m[0] * (m[4] * b[2] - b[1] * m[7]) - m[1] * (m[3] * b[2] - b[1] * m[6]) + b[0] * c2) *
         inverse;
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

// The background beside the band: B0 + B1·s + B2·Y by least squares over
// the ring's pixels.
struct PlaneSums {
  double n = 0, s = 0, t = 0, ss = 0, st = 0, tt = 0, v = 0, sv = 0, tv = 0;
  // A row's ring pixels, all at Y = ti, from their count and sums of s,
  // s², v and s·v.
  void AddRow(double ti, double cn, double cs, double css, double cv, double csv) {
    n += cn, s += cs, t += cn * ti, ss += css, st += cs * ti, tt += cn * ti * ti;
    v += cv, sv += csv, tv += cv * ti;
  }
  bool Solve(double b[3]) const {
    const double m[9] = {n, s, t, s, ss, st, t, st, tt};
    const double r[3] = {v, sv, tv};
    return n >= 6 && Solve3(m, r, b);
  }
};

// The line x = c.x + slope·Y + q·Y² in the row Y = dy.
double LineAt(Vec2 c, const LineGeometry& line, double q, double dy) {
  return c.x + line.slope * dy + q * dy * dy;
}

// Which of a row's pixels lie in the band (|s| <= inner), the others
// being the background ring: a run in the middle of the window.
void FindBand(MeasuredRow& row, double inner) {
  auto left = [&](int i) { return row.x0 + i - row.xk < -inner; };
  auto right = [&](int i) { return row.x0 + i - row.xk > inner; };
  // From the nearest whole pixels, then checked by the rule itself.
  int from = static_cast<int>(std::clamp(CeilFast(row.xk - inner) - row.x0, 0.0, 1.0 * row.n));
  while (from > 0 && !left(from - 1)) --from;
  while (from < row.n && left(from)) ++from;
  int to = static_cast<int>(std::clamp(FloorFast(row.xk + inner) - row.x0, -1.0, row.n - 1.0));
  while (to < row.n - 1 && !right(to + 1)) ++to;
  while (to >= from && right(to)) --to;
  row.bandFrom = from, row.bandTo = to;
}

}  // namespace

RowScratch& ThreadScratch() {
  thread_local RowScratch scratch;
  return scratch;
}

// The taper of the centroid's weight runs half a pixel beyond h1.
Band BandOf(const FamilyContext& family, const LineGeometry& line) {
  const double k = std::sqrt(1 + line.slope * line.slope);
  return {family.support.h1 * k + 0.5, family.support.h2 * k, family.support.h1 * k,
          line.curvature};
}

// The rows of both arms, from the crossing's core out to the next one's,
// with their windows (the last fit's where the line stayed within `hold`
// of where it was laid), and room for their grey levels.
void LayRows(const GreyView& view, double core, Vec2 c, const LineGeometry& line, const Band& band,
             int rowStep, const RowMemory* memory, double hold, RowScratch& scratch,
             ArmQuality arms[2], int onlyArm) {
  const double k = std::sqrt(1 + line.slope * line.slope);
  size_t samples = scratch.samples.size();
  for (int arm = 0; arm < 2; ++arm) {
    if (onlyArm >= 0 && arm != onlyArm) continue;
    const double length = arm == 0 ? line.armBefore : line.armAfter;
    const double lo = core / k, hi = (length - core) / k;
    if (!(hi >= lo) || !(hi < 1e6)) continue;
    const double from = arm == 0 ? c.y - hi : c.y + lo, to = arm == 0 ? c.y - lo : c.y + hi;
    const double yFrom = std::max(0.0, std::ceil(from));
    const double yTo = std::min(view.Height() - 1.0, std::floor(to));
    for (double yy = yFrom; yy <= yTo; yy += rowStep) {
      MeasuredRow row;
      row.arm = arm, row.y = static_cast<int>(yy);
      row.dy = yy - c.y;
      row.xk = LineAt(c, line, band.q, row.dy);
      const RowMemory::Entry* last = memory ? memory->Find(row.y) : nullptr;
      if (last && std::fabs(row.xk - last->laidAt) <= hold) {
        row.x0 = last->x0, row.n = last->n, row.laidAt = last->laidAt;
      } else {
        const double x0 = CeilFast(row.xk - band.outer), x1 = FloorFast(row.xk + band.outer);
        if (!(x0 >= 0 && x1 <= view.Width() - 1)) continue;
        row.x0 = static_cast<int>(x0), row.n = static_cast<int>(x1 - x0) + 1;
        row.laidAt = row.xk;
      }
      row.first = samples;
      samples += static_cast<size_t>(row.n);
      scratch.rows.push_back(row);
      ++arms[row.arm].rows;
    }
  }
  scratch.samples.resize(samples);
}

// On the transposed view a window runs down an image column; the rows of an
// arm are neighbouring columns, so their windows share cache lines.
void Gather(const GreyView& view, RowScratch& scratch) {
  for (const MeasuredRow& row : scratch.rows)
    view.ReadRun(row.x0, row.y, row.n, scratch.samples.data() + row.first);
}

// Per arm the background plane B0 + B1·s + B2·Y, fitted to the ring
// beside the band, subtracted from the grey levels. The illumination
// scales the line's ink as it scales the paper (vignetting, uneven
// lighting): its relative slope across the line, from the plane in grey
// levels, is divided out of the ink so that the line stays symmetric.
void SubtractBackground(const GreyView& view, const Band& band, RowScratch& scratch,
                        bool planeOk[2]) {
  PlaneSums ring[2];
  for (MeasuredRow& row : scratch.rows) {
    FindBand(row, band.inner);
    // Over the ring's pixels i, s = c + i: Σs, Σs² from Σi, Σi², and Σv,
    // Σi·v summed exactly (whole numbers).
    const double* v = scratch.samples.data() + row.first;
    double cv = 0, civ = 0;
    long cn = 0, ci = 0, cii = 0;
    auto add = [&](long from, long to) {  // the pixels from ... to − 1
      for (long i = from; i < to; ++i) cv += v[i], civ += static_cast<double>(i) * v[i];
      cn += to - from, ci += (from + to - 1) * (to - from) / 2;
      cii += ((to - 1) * to * (2 * to - 1) - (from - 1) * from * (2 * from - 1)) / 6;
    };
    add(0, row.bandFrom);
    add(row.bandTo + 1, row.n);
    const double c = row.x0 - row.xk, n = cn, i1 = ci, i2 = cii;
    ring[row.arm].AddRow(row.dy, n, n * c + i1, n * c * c + 2 * c * i1 + i2, cv, c * cv + civ);
  }
  double plane[2][3] = {};
  double relativeSlope[2] = {0, 0};
  for (int arm = 0; arm < 2; ++arm) {
    planeOk[arm] = ring[arm].Solve(plane[arm]);
    if (!planeOk[arm]) continue;
    const double level = view.LinesDark() ? view.White() - plane[arm][0] : plane[arm][0];
    const double slope = view.LinesDark() ? -plane[arm][1] : plane[arm][1];
    if (level > view.GreyLevel())
      relativeSlope[arm] = std::clamp(slope / level, -kMaxRelativeSlope, kMaxRelativeSlope);
  }
  for (MeasuredRow& row : scratch.rows) {
    row.planeOk = planeOk[row.arm];
    if (!row.planeOk) continue;
    const double* b = plane[row.arm];
    const double kappa = relativeSlope[row.arm];
    const double level = b[0] + b[2] * row.dy;
    const double c = row.x0 - row.xk;
    double* d = scratch.samples.data() + row.first;
    double sum = 0;
    for (int i = 0; i < row.n; ++i) {
      const double s = c + i;
      // (1 − κs) for 1/(1 + κs): the lighting is a plane to first order anyway.
      d[i] = (d[i] - (level + b[1] * s)) * (1 - kappa * s);
      sum += d[i];
    }
    row.sum = sum;
  }
}

// The background-subtracted centroid of a row with the tapered band weight
// ω = clip(inner − |s|, 0, 1): with 2·h1 whole the weights sum to 2·h1 at
// every sub-pixel phase, so the window itself adds no bias. Beyond the band
// ω is 0. The rounding floor only where no template will take its place.
void Centroid(MeasuredRow& row, const double* d, double inner, bool floor, double roundingSigma) {
  const double c = row.x0 - row.xk;
  double m = 0, ms = 0, ww = 0, wws = 0, wwss = 0;
  for (int i = row.bandFrom; i <= row.bandTo; ++i) {
    const double s = c + i;
    const double w = std::clamp(inner - std::fabs(s), 0.0, 1.0);
    m += w * d[i], ms += w * s * d[i];
    if (floor) ww += w * w, wws += w * w * s, wwss += w * w * s * s;
  }
  row.mass = m;
  row.centre = m > 0 ? ms / m : 0;
  if (!floor) return;
  // Σω²(s − c)², the spread a grey level's rounding moves the centre by.
  const double spread = wwss - 2 * row.centre * wws + row.centre * row.centre * ww;
  row.floor = m > 0 ? roundingSigma * std::sqrt(std::max(0.0, spread)) / m : INFINITY;
}

// Each row's centre (the centroid, then with a template the template's
// shift, started where the last fit of the row ended), its ink, and
// whether it counts: ink above a share of the median row's, centre within
// the band. Also each arm's median row ink.
void MeasureRows(const FamilyContext& family, const Band& band, const PreciseParams& params,
                 const RowMemory* memory, const bool planeOk[2], RowScratch& scratch,
                 ArmQuality arms[2]) {
  std::vector<double>& values = scratch.values;
  values.clear();
  for (MeasuredRow& row : scratch.rows) {
    if (!planeOk[row.arm]) continue;
    Centroid(row, scratch.samples.data() + row.first, band.inner, !family.lineTemplate,
             family.view->RoundingSigma());
    row.centroid = row.centre;
    values.push_back(row.mass);
  }
  const double medianMass = MedianOfFirst(values, values.size());
  for (MeasuredRow& row : scratch.rows) {
    if (!planeOk[row.arm]) continue;
    row.valid = row.mass > params.rowMassShare * medianMass && std::fabs(row.centre) < band.limit;
    if (row.valid && family.lineTemplate) {
      // The template's fit is the same wherever the window was placed, as
      // long as it holds the same pixels: then the last one stands.
      const RowMemory::Entry* last = memory ? memory->Find(row.y) : nullptr;
      if (last && !std::isnan(last->centre) && last->x0 == row.x0 && last->n == row.n) {
        row.centre = last->centre - row.xk;
        row.floor = last->floor;
        row.valid = std::fabs(row.centre) < band.limit;
      } else {
        double start = row.centre;
        if (last && std::fabs(last->centre - row.xk) < band.limit) start = last->centre - row.xk;
        row.valid = TemplateCentre(row, scratch.samples.data() + row.first, *family.lineTemplate,
                                   start, band.limit, params, family.view->RoundingSigma());
      }
    }
    row.inlier = row.valid;
  }
  for (int arm = 0; arm < 2; ++arm) {
    values.clear();
    for (const MeasuredRow& row : scratch.rows)
      if (row.arm == arm) values.push_back(planeOk[arm] ? row.mass : 0.0);
    arms[arm].medianMass = MedianOfFirst(values, values.size());
  }
}

// The shift d minimising Σ(D − β − A·T(s − d))² over the row's window:
// Gauss-Newton on (β, A, d) together from `d`, each step of d clipped.
// false when the fit leaves the band or finds no positive line. The normal
// equations come from the sums of T, T', their products and D's products
// with them, so each sample costs a handful of operations.
bool TemplateCentre(MeasuredRow& row, const double* dv, const LineTemplate& t, double d,
                    double limit, const PreciseParams& params, double roundingSigma) {
  const double s0 = row.x0 - row.xk;
  const double n = row.n;
  // The ink of a row is about A times the template's area, the box width;
  // β and A settle in the first step, the model being linear in them.
  double beta = 0, a = row.mass / std::max(t.Shape().w, 0.5);
  double slopes = 0;  // Σ T'², at the last step's d
  const double sD = row.sum;
  for (int step = 0; step < params.templateSteps; ++step) {
    const TemplateSums u = t.StepSums(s0 - d, row.n, dv);
    const double sT = u.t;
    // With g = −A·T' (the slope in d) and r = D − β − A·T (the residual).
    const double sG = -a * u.p, sTG = -a * u.tp, sGG = a * a * u.pp;
    const double sR = sD - beta * n - a * sT;
    const double sTR = u.dt - beta * sT - a * u.tt;
    const double sGR = -a * (u.dp - beta * u.p - a * u.tp);
    slopes = u.pp;
    const double m[9] = {n, sT, sG, sT, u.tt, sTG, sG, sTG, sGG};
    const double rhs[3] = {sR, sTR, sGR};
    double delta[3];
    if (!Solve3(m, rhs, delta)) return false;
    beta += delta[0], a += delta[1];
    d += std::clamp(delta[2], -params.templateStepClip, params.templateStepClip);
    if (std::fabs(delta[2]) < kTemplateSettled) break;
  }
  if (!(a > 0) || !(std::fabs(d) < limit)) return false;
  const double sensitivity = a * std::sqrt(slopes);
  if (!(sensitivity > 0)) return false;
  row.centre = d;
  row.floor = roundingSigma / sensitivity;
  return true;
}

MeasuredArm MeasureArm(const FamilyContext& family, Vec2 c, const LineGeometry& line, int arm,
                       const PreciseParams& params, const FitOptions& options) {
  const Band band = BandOf(family, line);
  ArmQuality unused[2];
  RowScratch& scratch = ThreadScratch();
  scratch.rows.clear(), scratch.samples.clear();
  LayRows(*family.view, family.core, c, line, band, options.rowStep, nullptr, params.windowHold,
          scratch, unused, arm);
  Gather(*family.view, scratch);
  bool planeOk[2] = {false, false};
  SubtractBackground(*family.view, band, scratch, planeOk);
  MeasuredArm out;
  scratch.values.clear();
  for (MeasuredRow& row : scratch.rows) {
    if (row.planeOk) {
      const double* d = scratch.samples.data() + row.first;
      Centroid(row, d, band.inner, !family.lineTemplate, family.view->RoundingSigma());
      row.centroid = row.centre;
      // Whether its ink suffices is for each crossing to say (against the
      // median of both its arms); the template fits every row in the band.
      row.measured = std::fabs(row.centre) < band.limit;
      if (row.measured && family.lineTemplate)
        row.measured = TemplateCentre(row, d, *family.lineTemplate, row.centre, band.limit, params,
                                      family.view->RoundingSigma());
    }
    scratch.values.push_back(row.planeOk ? row.mass : 0.0);
  }
  out.medianMass = MedianOfFirst(scratch.values, scratch.values.size());
  out.planeOk = planeOk[arm];
  out.rows.reserve(scratch.rows.size());
  for (const MeasuredRow& row : scratch.rows)
    out.rows.push_back(
        {row.y, row.planeOk, row.measured, row.xk + row.centre, row.floor, row.mass, row.laidAt});
  return out;
}

}  // namespace qova::precise
