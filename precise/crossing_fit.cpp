#include "precise/crossing_fit.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <span>
#include <vector>

#include "precise/numeric.h"

namespace qova::precise {
namespace {

// The standard deviation of rounding to whole grey levels, 1/√12 of a grey
// level, in the units of J.
constexpr double kRoundingSigma = 0.28867513459481287 * kThirds;
// A row's template fit stops once its centre moves less than this, pixels
// (the next step would move it by about the square of it).
constexpr double kTemplateSettled = 1e-3;
// Lines whose sub-pixel phases differ by a hundredth of a pixel round their
// grey levels differently (a sharp edge changes by a grey level in less).
constexpr int kPhaseBins = 100;

using Row = MeasuredRow;

// Buffers of one thread, reused by every line it fits.
struct Scratch {
  std::vector<Row> rows;
  std::vector<double> samples, z, values;
};
Scratch& ThreadScratch() {
  thread_local Scratch scratch;
  return scratch;
}

// Solves the symmetric 3×3 system m·x = b by Cramer's rule; false when it
// is singular or nearly so.
bool Solve3(const double m[9], const double b[3], double x[3]) {
  const double c0 = m[4] * m[8] - m[5] * m[7], c1 = m[3] * m[8] - m[5] * m[6],
               c2 = m[3] * m[7] - m[4] * m[6];
  const double det = m[0] * c0 - m[1] * c1 + m[2] * c2;
  if (!(std::fabs(det) > 1e-12 * std::fabs(m[0] * m[4] * m[8]))) return false;
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

// The least-squares line z = α + β·Y through the inlier rows, with the
// covariance s²·(XᵀX)⁻¹ of (α, β).
struct StraightFit {
  bool ok = false;
  double alpha = 0, beta = 0, varAlpha = 0, varBeta = 0, cov = 0;
};

StraightFit FitStraight(const std::vector<Row>& rows, const std::vector<double>& z) {
  double n = 0, sy = 0, syy = 0, sz = 0, syz = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (!rows[r].inlier) continue;
    const double y = rows[r].dy;
    n += 1, sy += y, syy += y * y, sz += z[r], syz += y * z[r];
  }
  StraightFit f;
  const double det = n * syy - sy * sy;
  if (n < 3 || !(det > 0)) return f;
  f.alpha = (syy * sz - sy * syz) / det;
  f.beta = (n * syz - sy * sz) / det;
  double sse = 0;
  for (size_t r = 0; r < rows.size(); ++r)
    if (rows[r].inlier) {
      const double e = z[r] - f.alpha - f.beta * rows[r].dy;
      sse += e * e;
    }
  const double s2 = sse / (n - 2);
  f.varAlpha = s2 * syy / det;
  f.varBeta = s2 * n / det;
  f.cov = -s2 * sy / det;
  f.ok = std::isfinite(f.alpha) && std::isfinite(f.beta);
  return f;
}

// The shift d minimising Σ(D − β − A·T(s − d))² over the row's window:
// Gauss-Newton on (β, A, d) together from `d`, each step of d clipped.
// false when the fit leaves the band or finds no positive line. The normal
// equations come from the sums of T, T', their products and D's products
// with them, so each sample costs a handful of operations.
bool TemplateCentre(Row& row, const double* dv, const LineTemplate& t, double d, double limit,
                    const PreciseParams& params) {
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
  row.floor = kRoundingSigma / sensitivity;
  return true;
}

// The grey levels of every row's window into out (at each row's first).
// On the transposed view a window runs down an image column; the rows of an
// arm are neighbouring columns, so their windows share cache lines.
void Gather(const GreyView& view, const std::vector<Row>& rows, double* out) {
  for (const Row& row : rows) view.ReadRun(row.x0, row.y, row.n, out + row.first);
}

// The median of the first n values of v (reordered).
double MedianOf(std::vector<double>& v, size_t n) {
  return MedianInPlace(std::span<double>(v.data(), n));
}

}  // namespace

namespace {

// A line's band in its rows (row units: widths stretched by √(1 + b²)):
// the centroid's taper ends at `inner`, the window at `outer`, a centre
// counts within `limit`; q is the bend held.
struct Band {
  double inner, outer, limit, q;
};

Band BandOf(const FamilyContext& family, const LineGeometry& line) {
  const double k = std::sqrt(1 + line.slope * line.slope);
  return {family.support.h1 * k + 0.5, family.support.h2 * k, family.support.h1 * k,
          line.curvature};
}

double LineAt(Vec2 c, const LineGeometry& line, double q, double dy) {
  return c.x + line.slope * dy + q * dy * dy;
}

// Whether the rows and windows are those of the last fit.
bool SameLayout(const std::vector<Row>& rows, const RowMemory& memory) {
  if (rows.size() != memory.layout.size()) return false;
  for (size_t r = 0; r < rows.size(); ++r) {
    const RowMemory::Window& w = memory.layout[r];
    if (rows[r].arm != w.arm || rows[r].y != w.y || rows[r].x0 != w.x0 || rows[r].n != w.n)
      return false;
  }
  return true;
}

// A line fit about c', x = c'.x + α + β·(y − c'.y) + q·(y − c'.y)², written
// about c.
LineFit MovedTo(const LineFit& fit, Vec2 from, Vec2 c, double q) {
  LineFit same = fit;
  const double shift = c.y - from.y;
  same.alpha = from.x - c.x + same.alpha + same.beta * shift + q * shift * shift;
  same.beta += 2 * q * shift;
  same.reused = true;
  return same;
}

LineFit Recentred(const RowMemory& memory, Vec2 c, double q) {
  return MovedTo(memory.lastFit, memory.lastCentre, c, q);
}

// The rows of both arms, from the crossing's core out to the next one's,
// with their windows (the last fit's where the line stayed within `hold`
// of where it was laid), and room for their grey levels.
void LayRows(const GreyView& view, double core, Vec2 c, const LineGeometry& line, const Band& band,
             int rowStep, const RowMemory* memory, double hold, Scratch& scratch, LineFit& fit,
             int onlyArm = -1) {
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
      Row row;
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
      ++fit.arms[row.arm].rows;
    }
  }
  scratch.samples.resize(samples);
}

// Which of a row's pixels lie in the band (|s| <= inner), the others
// being the background ring: a run in the middle of the window.
void FindBand(Row& row, double inner) {
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

// Per arm the background plane B0 + B1·s + B2·Y, fitted to the ring
// beside the band, subtracted from the grey levels. The illumination
// scales the line's ink as it scales the paper (vignetting, uneven
// lighting): its relative slope across the line, from the plane in grey
// levels, is divided out of the ink so that the line stays symmetric.
void SubtractBackground(const GreyView& view, const Band& band, Scratch& scratch, bool planeOk[2]) {
  PlaneSums ring[2];
  for (Row& row : scratch.rows) {
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
    const double level = view.LinesDark() ? 255 * kThirds - plane[arm][0] : plane[arm][0];
    const double slope = view.LinesDark() ? -plane[arm][1] : plane[arm][1];
    if (level > kThirds) relativeSlope[arm] = std::clamp(slope / level, -0.05, 0.05);
  }
  for (Row& row : scratch.rows) {
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
void Centroid(Row& row, const double* d, double inner, bool floor) {
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
  row.floor = m > 0 ? kRoundingSigma * std::sqrt(std::max(0.0, spread)) / m : INFINITY;
}

// Each row's centre (the centroid, then with a template the template's
// shift, started where the last fit of the row ended), its ink, and
// whether it counts: ink above a share of the median row's, centre within
// the band. Also each arm's median row ink.
void MeasureRows(const FamilyContext& family, const Band& band, const PreciseParams& params,
                 const RowMemory* memory, const bool planeOk[2], Scratch& scratch, LineFit& fit) {
  std::vector<double>& values = scratch.values;
  values.clear();
  for (Row& row : scratch.rows) {
    if (!planeOk[row.arm]) continue;
    Centroid(row, scratch.samples.data() + row.first, band.inner, !family.lineTemplate);
    row.centroid = row.centre;
    values.push_back(row.mass);
  }
  const double medianMass = MedianOf(values, values.size());
  for (Row& row : scratch.rows) {
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
                                   start, band.limit, params);
      }
    }
    row.inlier = row.valid;
  }
  for (int arm = 0; arm < 2; ++arm) {
    values.clear();
    for (const Row& row : scratch.rows)
      if (row.arm == arm) values.push_back(planeOk[arm] ? row.mass : 0.0);
    fit.arms[arm].medianMass = MedianOf(values, values.size());
  }
}

// z = x − c.x − q·Y² = α + β·Y through the row centres, refitted without
// the rows beyond a few robust σ (MAD at least madFloor).
StraightFit RobustLine(Vec2 c, double q, const PreciseParams& params, Scratch& scratch) {
  std::vector<Row>& rows = scratch.rows;
  std::vector<double>& z = scratch.z;
  z.resize(rows.size());
  for (size_t r = 0; r < rows.size(); ++r)
    z[r] = rows[r].xk + rows[r].centre - c.x - q * rows[r].dy * rows[r].dy;
  StraightFit f = FitStraight(rows, z);
  for (int round = 0; round < params.rejectRounds && f.ok; ++round) {
    scratch.values.clear();
    size_t withinFloor = 0;
    for (size_t r = 0; r < rows.size(); ++r)
      if (rows[r].valid) {
        const double e = std::fabs(z[r] - f.alpha - f.beta * rows[r].dy);
        scratch.values.push_back(e);
        withinFloor += e <= params.madFloor;
      }
    // When more than half lie within the floor, so does the median.
    const size_t count = scratch.values.size();
    const double mad = withinFloor > count / 2
                           ? params.madFloor
                           : std::max(MedianOf(scratch.values, count), params.madFloor);
    const double cut = params.rejectSigmas * 1.4826 * mad;
    bool changed = false;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (!rows[r].valid) continue;
      const bool keep = std::fabs(z[r] - f.alpha - f.beta * rows[r].dy) <= cut;
      changed = changed || keep != rows[r].inlier;
      rows[r].inlier = keep;
    }
    if (!changed) break;
    f = FitStraight(rows, z);
  }
  return f;
}

// The kept rows per arm, and the rounding floor of the intercept: the
// median row's floor over the number of different sub-pixel phases among
// the rows (rows whose lines lie at the same phase round alike).
bool CountRows(Vec2 c, double q, const StraightFit& f, const PreciseParams& params,
               Scratch& scratch, LineFit& fit) {
  std::bitset<kPhaseBins> phases;
  int kept = 0;
  scratch.values.clear();
  for (const Row& row : scratch.rows)
    if (row.inlier) {
      ++fit.arms[row.arm].usable, ++kept;
      scratch.values.push_back(row.floor);
      const double at = c.x + f.alpha + f.beta * row.dy + q * row.dy * row.dy;
      const double phase = at - FloorFast(at);
      phases.set(std::min(kPhaseBins - 1, static_cast<int>(phase * kPhaseBins)));
    }
  if (kept < params.minRows || fit.arms[0].usable < params.minRowsPerArm ||
      fit.arms[1].usable < params.minRowsPerArm)
    return false;
  const double floor = MedianOf(scratch.values, scratch.values.size());
  fit.floorVariance = floor * floor / static_cast<double>(phases.count());
  return true;
}

void Remember(const FamilyContext& family, Vec2 c, const LineFit& fit, const Scratch& scratch,
              RowMemory& memory) {
  memory.layout.clear();
  for (const Row& row : scratch.rows) {
    memory.layout.push_back({row.arm, row.y, row.x0, row.n});
    RowMemory::Entry e{row.x0, row.n, row.laidAt, NAN, 0};
    if (family.lineTemplate) {
      const RowMemory::Entry* last = memory.Find(row.y);
      if (row.valid)
        e.centre = row.xk + row.centre, e.floor = row.floor;
      else if (last && last->x0 == row.x0 && last->n == row.n)
        e.centre = last->centre, e.floor = last->floor;  // the same pixels' fit
    }
    memory.Set(row.y, e);
  }
  memory.lastFit = fit;
  memory.lastCentre = c;
}

// The kept rows' profiles about the fitted line, over their ink.
void PoolRows(const FamilyContext& family, Vec2 c, double q, const StraightFit& f,
              const Scratch& scratch, ProfilePool& pool) {
  for (const Row& row : scratch.rows) {
    if (!row.inlier) continue;
    const double fitted = c.x + f.alpha + f.beta * row.dy + q * row.dy * row.dy;
    const double offset = fitted - row.xk;
    const double* d = scratch.samples.data() + row.first;
    for (int i = 0; i < row.n; ++i) pool.Add(row.x0 + i - row.xk - offset, d[i] / row.mass);
    pool.AddRow(fitted);
    if (family.lineTemplate) pool.AddShift(fitted, row.centre - row.centroid);
  }
}

}  // namespace

LineFit FitLine(const FamilyContext& family, Vec2 c, const LineGeometry& line,
                const PreciseParams& params, const FitOptions& options, ProfilePool* pool,
                RowMemory* memory) {
  const Band band = BandOf(family, line);
  LineFit fit;
  Scratch& scratch = ThreadScratch();
  scratch.rows.clear(), scratch.samples.clear();
  LayRows(*family.view, family.core, c, line, band, options.rowStep, memory, params.windowHold,
          scratch, fit);
  // The same pixels in every window give every row the same template fit
  // and the line the same place: the last fit, about the new centre.
  if (memory && family.lineTemplate && memory->lastFit.ok && SameLayout(scratch.rows, *memory))
    return Recentred(*memory, c, band.q);

  Gather(*family.view, scratch.rows, scratch.samples.data());
  bool planeOk[2] = {false, false};
  SubtractBackground(*family.view, band, scratch, planeOk);
  MeasureRows(family, band, params, memory, planeOk, scratch, fit);
  const StraightFit f = RobustLine(c, band.q, params, scratch);
  if (!f.ok || !CountRows(c, band.q, f, params, scratch, fit)) return fit;
  fit.alpha = f.alpha, fit.beta = f.beta;
  fit.varAlpha = f.varAlpha, fit.varBeta = f.varBeta, fit.covAlphaBeta = f.cov;
  fit.ok = std::isfinite(fit.varAlpha) && std::isfinite(fit.floorVariance);
  if (memory) Remember(family, c, fit, scratch, *memory);
  if (pool && fit.ok) PoolRows(family, c, band.q, f, scratch, *pool);
  return fit;
}

namespace {

// The line through a crossing's measured arms, about c: each row counts
// when its ink exceeds a share of the median row's of both arms and the
// template fitted it.
LineFit FitToArms(const MeasuredArm* const arms[2], Vec2 c, const LineGeometry& line,
                  const PreciseParams& params) {
  LineFit fit;
  Scratch& scratch = ThreadScratch();
  scratch.rows.clear(), scratch.values.clear();
  for (int arm = 0; arm < 2; ++arm) {
    for (const MeasuredArm::Row& measured : arms[arm]->rows) {
      Row& row = scratch.rows.emplace_back();
      row.arm = arm, row.y = measured.y, row.dy = row.y - c.y;
      row.xk = measured.at, row.centre = 0;
      row.floor = measured.floor, row.mass = measured.mass;
      row.planeOk = measured.planeOk, row.measured = measured.measured;
    }
    fit.arms[arm].rows = static_cast<int>(arms[arm]->rows.size());
    fit.arms[arm].medianMass = arms[arm]->medianMass;
  }
  scratch.values.clear();
  // A row counts when its ink exceeds a share of the median of both arms'
  // inks. That median lies between the two arms' medians, so only a row
  // between the shares of those needs it worked out.
  const double share = params.rowMassShare;
  double low = 0, high = 0;
  if (arms[0]->planeOk || arms[1]->planeOk) {
    const double m0 = arms[0]->planeOk ? arms[0]->medianMass : arms[1]->medianMass;
    const double m1 = arms[1]->planeOk ? arms[1]->medianMass : arms[0]->medianMass;
    low = std::min(m0, m1), high = std::max(m0, m1);
  }
  bool undecided = false;
  for (const Row& row : scratch.rows)
    undecided = undecided || (row.planeOk && row.measured && row.mass > share * low &&
                              !(row.mass > share * high));
  double medianMass = low;
  if (undecided) {
    for (const Row& row : scratch.rows)
      if (row.planeOk) scratch.values.push_back(row.mass);
    medianMass = MedianOf(scratch.values, scratch.values.size());
  }
  for (Row& row : scratch.rows)
    row.inlier = row.valid = row.planeOk && row.mass > share * medianMass && row.measured;
  const double q = line.curvature;
  const StraightFit f = RobustLine(c, q, params, scratch);
  if (!f.ok || !CountRows(c, q, f, params, scratch, fit)) return fit;
  fit.alpha = f.alpha, fit.beta = f.beta;
  fit.varAlpha = f.varAlpha, fit.varBeta = f.varBeta, fit.covAlphaBeta = f.cov;
  fit.ok = std::isfinite(fit.varAlpha) && std::isfinite(fit.floorVariance);
  return fit;
}

// Whether the line lies within `hold` of where every window of the arms
// was laid.
bool ArmsHold(const MeasuredArm* const arms[2], Vec2 c, const LineFit& fit, double q, double hold) {
  for (int arm = 0; arm < 2; ++arm)
    for (const MeasuredArm::Row& row : arms[arm]->rows) {
      const double dy = row.y - c.y;
      if (!(std::fabs(c.x + fit.alpha + fit.beta * dy + q * dy * dy - row.laidAt) <= hold))
        return false;
    }
  return true;
}

// The crossing's standard errors and arms from its two final line fits,
// `move` being the last intersection's offset from the centre they were
// fitted about.
void Conclude(Vec2 c, Intersection move, const LineFit& lv, const LineFit& lh,
              CrossingFit& result) {
  // The covariance of the crossing through the intersection's Jacobian; each
  // line's rounding floor joins its intercept.
  const double d = 1 - lv.beta * lh.beta;
  const double x = move.x, y = move.y;
  const double varAv = lv.varAlpha + lv.floorVariance, varAh = lh.varAlpha + lh.floorVariance;
  const double lineV = varAv + y * y * lv.varBeta + 2 * y * lv.covAlphaBeta;
  const double lineH = varAh + x * x * lh.varBeta + 2 * x * lh.covAlphaBeta;
  const double varX = (lineV + lv.beta * lv.beta * lineH) / (d * d);
  const double varY = (lineH + lh.beta * lh.beta * lineV) / (d * d);
  result.sigmaX = std::sqrt(std::max(0.0, varX));
  result.sigmaY = std::sqrt(std::max(0.0, varY));
  result.standardError = std::sqrt(result.sigmaX * result.sigmaX + result.sigmaY * result.sigmaY);
  result.position = c;
  result.arms[0] = lv.arms[0], result.arms[1] = lv.arms[1];
  result.arms[2] = lh.arms[0], result.arms[3] = lh.arms[1];
  result.slopeV = lv.beta, result.slopeH = lh.beta;
  result.ok = std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(result.standardError);
}

}  // namespace

MeasuredArm MeasureArm(const FamilyContext& family, Vec2 c, const LineGeometry& line, int arm,
                       const PreciseParams& params, const FitOptions& options) {
  const Band band = BandOf(family, line);
  LineFit unused;
  Scratch& scratch = ThreadScratch();
  scratch.rows.clear(), scratch.samples.clear();
  LayRows(*family.view, family.core, c, line, band, options.rowStep, nullptr, params.windowHold,
          scratch, unused, arm);
  Gather(*family.view, scratch.rows, scratch.samples.data());
  bool planeOk[2] = {false, false};
  SubtractBackground(*family.view, band, scratch, planeOk);
  MeasuredArm out;
  scratch.values.clear();
  for (Row& row : scratch.rows) {
    if (row.planeOk) {
      const double* d = scratch.samples.data() + row.first;
      Centroid(row, d, band.inner, !family.lineTemplate);
      row.centroid = row.centre;
      // Whether its ink suffices is for each crossing to say (against the
      // median of both its arms); the template fits every row in the band.
      row.measured = std::fabs(row.centre) < band.limit;
      if (row.measured && family.lineTemplate)
        row.measured = TemplateCentre(row, d, *family.lineTemplate, row.centre, band.limit, params);
    }
    scratch.values.push_back(row.planeOk ? row.mass : 0.0);
  }
  out.medianMass = MedianOf(scratch.values, scratch.values.size());
  out.planeOk = planeOk[arm];
  out.rows.reserve(scratch.rows.size());
  for (const Row& row : scratch.rows)
    out.rows.push_back(
        {row.y, row.planeOk, row.measured, row.xk + row.centre, row.floor, row.mass, row.laidAt});
  return out;
}

CrossingFit FitCrossingFromArms(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                                const MeasuredArm* const armsV[2],
                                const MeasuredArm* const armsH[2], const PreciseParams& params,
                                const FitOptions& options) {
  CrossingFit result;
  Vec2 c = start, fittedAt = start;
  LineFit lv = FitToArms(armsV, start, v, params);
  LineFit lh = FitToArms(armsH, InFrame(start, true), h, params);
  Intersection move{0, 0};
  const double wander = 0.5 * std::min(v.spacing, h.spacing);
  for (int it = 1; it <= params.maxIterations; ++it) {
    // The same rows give the same lines: after the first fit, the lines
    // about the new centre.
    if (it > 1) {
      lv = MovedTo(lv, fittedAt, c, v.curvature);
      lh = MovedTo(lh, InFrame(fittedAt, true), InFrame(c, true), h.curvature);
      fittedAt = c;
    }
    if (!lv.ok || !lh.ok) return result;
    if (!Intersect(lv.alpha, lv.beta, v.curvature, lh.alpha, lh.beta, h.curvature, move))
      return result;
    c = c + Vec2{move.x, move.y};
    result.iterations = it;
    if (!(Distance(c, start) <= wander)) return result;
    if (std::hypot(move.x, move.y) < options.convergence) break;
  }
  if (!ArmsHold(armsV, fittedAt, lv, v.curvature, params.windowHold) ||
      !ArmsHold(armsH, InFrame(fittedAt, true), lh, h.curvature, params.windowHold))
    return result;
  Conclude(c, move, lv, lh, result);
  return result;
}

CrossingFit FitCrossing(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                        const FamilyContext& vertical, const FamilyContext& horizontal,
                        const PreciseParams& params, const FitOptions& options, ProfilePool* poolV,
                        ProfilePool* poolH) {
  CrossingFit result;
  Vec2 c = start;
  LineGeometry gv = v, gh = h;
  LineFit lv, lh;
  Intersection move{0, 0};
  ProfilePool lastV, lastH;
  RowMemory memoryV(start.y, std::max(v.armBefore, v.armAfter));
  RowMemory memoryH(start.x, std::max(h.armBefore, h.armAfter));
  const double wander = 0.5 * std::min(v.spacing, h.spacing);
  for (int it = 1; it <= params.maxIterations; ++it) {
    ProfilePool nextV, nextH;
    if (poolV) nextV = ProfilePool(poolV->bin, poolV->range);
    if (poolH) nextH = ProfilePool(poolH->bin, poolH->range);
    lv = FitLine(vertical, c, gv, params, options, poolV ? &nextV : nullptr, &memoryV);
    lh = FitLine(horizontal, InFrame(c, true), gh, params, options, poolH ? &nextH : nullptr,
                 &memoryH);
    // A line fitted again brings its rows' profiles; a reused one keeps the last.
    if (poolV && !lv.reused) lastV = std::move(nextV);
    if (poolH && !lh.reused) lastH = std::move(nextH);
    if (!lv.ok || !lh.ok) return result;
    if (!Intersect(lv.alpha, lv.beta, gv.curvature, lh.alpha, lh.beta, gh.curvature, move))
      return result;
    c = c + Vec2{move.x, move.y};
    gv.slope = lv.beta, gh.slope = lh.beta;
    result.iterations = it;
    if (!(Distance(c, start) <= wander)) return result;
    if (std::hypot(move.x, move.y) < options.convergence) break;
  }
  Conclude(c, move, lv, lh, result);
  if (result.ok && poolV) poolV->Merge(lastV);
  if (result.ok && poolH) poolH->Merge(lastH);
  return result;
}

}  // namespace qova::precise
