#include "precise/crossing_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <vector>

#include "precise/numeric.h"

namespace qova::precise {
namespace {

// The standard deviation of rounding to whole grey levels: 1/√12.
constexpr double kRoundingSigma = 0.28867513459481287;
// Lines whose sub-pixel phases differ by a hundredth of a pixel round their
// grey levels differently (a sharp edge changes by a grey level in less).
constexpr double kPhaseBins = 100;

struct Row {
  int arm = 0;          // 0: before the crossing, 1: after
  double y = 0;         // Y, the row's offset from the crossing
  double xk = 0;        // the current line in this row
  int x0 = 0, n = 0;    // first pixel and count of the window
  size_t first = 0;     // its first sample
  double mass = 0;      // Σω·D
  double centre = 0;    // the line's centre, from xk
  double centroid = 0;  // the centroid's centre, from xk
  double floor = 0;     // the centre's rounding floor
  bool valid = false, inlier = false;
};

// The least-squares line z = α + β·Y through the chosen rows, with the
// covariance s²·(XᵀX)⁻¹ of (α, β).
struct StraightFit {
  bool ok = false;
  double alpha = 0, beta = 0, varAlpha = 0, varBeta = 0, cov = 0;
};

StraightFit FitStraight(const std::vector<Row>& rows, const std::vector<double>& z) {
  double n = 0, sy = 0, syy = 0, sz = 0, syz = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (!rows[r].inlier) continue;
    const double y = rows[r].y;
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
      const double e = z[r] - f.alpha - f.beta * rows[r].y;
      sse += e * e;
    }
  const double s2 = sse / (n - 2);
  f.varAlpha = s2 * syy / det;
  f.varBeta = s2 * n / det;
  f.cov = -s2 * sy / det;
  f.ok = std::isfinite(f.alpha) && std::isfinite(f.beta);
  return f;
}

// The background-subtracted centroid of a row with the tapered band weight
// ω = clip(inner − |s|, 0, 1): with 2·h1 whole the weights sum to 2·h1 at
// every sub-pixel phase, so the window itself adds no bias.
void Centroid(Row& row, const double* d, double inner) {
  double m = 0, ms = 0;
  for (int i = 0; i < row.n; ++i) {
    const double s = row.x0 + i - row.xk;
    const double w = std::clamp(inner - std::fabs(s), 0.0, 1.0);
    m += w * d[i], ms += w * s * d[i];
  }
  row.mass = m;
  row.centre = m > 0 ? ms / m : 0;
  double spread = 0;
  for (int i = 0; i < row.n; ++i) {
    const double s = row.x0 + i - row.xk;
    const double w = std::clamp(inner - std::fabs(s), 0.0, 1.0);
    spread += w * w * (s - row.centre) * (s - row.centre);
  }
  row.floor = m > 0 ? kRoundingSigma * std::sqrt(spread) / m : INFINITY;
}

// The shift d minimising Σ(D − β − A·T(s − d))² over the row's window:
// Gauss-Newton on (β, A, d) together, each step of d clipped. false when
// the fit leaves the band or finds no positive line.
bool TemplateCentre(Row& row, const double* dv, const LineTemplate& t, double limit,
                    const PreciseParams& params) {
  double d = row.centre, beta = 0, a = 0;
  // β and A for the starting d, by linear least squares.
  {
    double sw = 0, st = 0, stt = 0, sv = 0, stv = 0;
    for (int i = 0; i < row.n; ++i) {
      double tv, ts;
      t.At(row.x0 + i - row.xk - d, tv, ts);
      sw += 1, st += tv, stt += tv * tv, sv += dv[i], stv += tv * dv[i];
    }
    const double det = sw * stt - st * st;
    if (!(det > 0)) return false;
    a = (sw * stv - st * sv) / det;
    beta = (sv - a * st) / sw;
  }
  for (int step = 0; step < params.templateSteps; ++step) {
    NormalEquations<3> eq;
    for (int i = 0; i < row.n; ++i) {
      double tv, ts;
      t.At(row.x0 + i - row.xk - d, tv, ts);
      eq.Add({1, tv, -a * ts}, dv[i] - beta - a * tv);
    }
    std::array<double, 3> delta{};
    if (!eq.Solve(delta)) return false;
    beta += delta[0], a += delta[1];
    d += std::clamp(delta[2], -params.templateStepClip, params.templateStepClip);
    if (std::fabs(delta[2]) < 1e-9) break;
  }
  if (!(a > 0) || !(std::fabs(d) < limit)) return false;
  double slopes = 0;
  for (int i = 0; i < row.n; ++i) {
    double tv, ts;
    t.At(row.x0 + i - row.xk - d, tv, ts);
    slopes += ts * ts;
  }
  const double sensitivity = a * std::sqrt(slopes);
  if (!(sensitivity > 0)) return false;
  row.centre = d;
  row.floor = kRoundingSigma / sensitivity;
  return true;
}

}  // namespace

LineFit FitLine(const FamilyContext& family, Vec2 c, const LineGeometry& line,
                const PreciseParams& params, ProfilePool* pool) {
  LineFit fit;
  const GreyView& view = *family.view;
  const double k = std::sqrt(1 + line.slope * line.slope);
  const double inner = family.support.h1 * k + 0.5;
  const double outer = family.support.h2 * k;
  const double limit = family.support.h1 * k;
  const double q = line.curvature;

  // The rows of both arms, their windows' grey levels, and per arm a
  // background plane B0 + B1·s + B2·Y fitted to the ring beside the band.
  std::vector<Row> rows;
  std::vector<double> samples;
  std::array<std::array<double, 3>, 2> plane{};
  std::array<bool, 2> planeOk{};
  for (int arm = 0; arm < 2; ++arm) {
    const double length = arm == 0 ? line.armBefore : line.armAfter;
    const double lo = family.core / k, hi = (length - family.core) / k;
    if (!(hi >= lo) || !(hi < 1e6)) continue;
    const double from = arm == 0 ? c.y - hi : c.y + lo, to = arm == 0 ? c.y - lo : c.y + hi;
    const double yFrom = std::max(0.0, std::ceil(from));
    const double yTo = std::min(view.Height() - 1.0, std::floor(to));
    NormalEquations<3> ring;
    for (double yy = yFrom; yy <= yTo; ++yy) {
      Row row;
      row.arm = arm;
      row.y = yy - c.y;
      row.xk = c.x + line.slope * row.y + q * row.y * row.y;
      const double x0 = std::ceil(row.xk - outer), x1 = std::floor(row.xk + outer);
      if (!(x0 >= 0 && x1 <= view.Width() - 1)) continue;
      row.x0 = static_cast<int>(x0);
      row.n = static_cast<int>(x1 - x0) + 1;
      row.first = samples.size();
      const int y = static_cast<int>(yy);
      for (int i = 0; i < row.n; ++i) {
        const double v = view.At(row.x0 + i, y);
        samples.push_back(v);
        const double s = row.x0 + i - row.xk;
        if (std::fabs(s) > inner) ring.Add({1, s, row.y}, v);
      }
      rows.push_back(row);
      ++fit.arms[arm].rows;
    }
    planeOk[static_cast<size_t>(arm)] =
        ring.count >= 6 && ring.Solve(plane[static_cast<size_t>(arm)]);
  }

  // The illumination beside each arm scales the line's ink as it scales the
  // paper (vignetting, uneven lighting): its relative slope across the line,
  // from the ring's plane in grey levels, is divided out of the ink so that
  // the line stays symmetric.
  std::array<double, 2> relativeSlope{};
  for (size_t arm = 0; arm < 2; ++arm) {
    if (!planeOk[arm]) continue;
    const double level = view.LinesDark() ? 255 - plane[arm][0] : plane[arm][0];
    const double slope = view.LinesDark() ? -plane[arm][1] : plane[arm][1];
    if (level > 1) relativeSlope[arm] = std::clamp(slope / level, -0.05, 0.05);
  }
  // Centres: the centroid, then (with a template) the template's shift.
  std::vector<double> masses;
  for (Row& row : rows) {
    if (!planeOk[static_cast<size_t>(row.arm)]) continue;
    const auto& b = plane[static_cast<size_t>(row.arm)];
    const double kappa = relativeSlope[static_cast<size_t>(row.arm)];
    double* d = samples.data() + row.first;
    for (int i = 0; i < row.n; ++i) {
      const double s = row.x0 + i - row.xk;
      d[i] = (d[i] - (b[0] + b[1] * s + b[2] * row.y)) / (1 + kappa * s);
    }
    Centroid(row, d, inner);
    row.centroid = row.centre;
    masses.push_back(row.mass);
  }
  const double medianMass = Median(masses);
  for (Row& row : rows) {
    if (!planeOk[static_cast<size_t>(row.arm)]) continue;
    row.valid = row.mass > params.rowMassShare * medianMass && std::fabs(row.centre) < limit;
    if (row.valid && family.lineTemplate)
      row.valid =
          TemplateCentre(row, samples.data() + row.first, *family.lineTemplate, limit, params);
    row.inlier = row.valid;
  }
  for (int arm = 0; arm < 2; ++arm) {
    std::vector<double> armMasses;
    for (const Row& row : rows)
      if (row.arm == arm) armMasses.push_back(planeOk[static_cast<size_t>(arm)] ? row.mass : 0.0);
    fit.arms[arm].medianMass = Median(armMasses);
  }

  // z = x − c.x − q·Y² = α + β·Y through the row centres, refitted without
  // the rows beyond a few robust σ.
  std::vector<double> z(rows.size());
  for (size_t r = 0; r < rows.size(); ++r)
    z[r] = rows[r].xk + rows[r].centre - c.x - q * rows[r].y * rows[r].y;
  StraightFit f = FitStraight(rows, z);
  for (int round = 0; round < params.rejectRounds && f.ok; ++round) {
    std::vector<double> residuals;
    for (size_t r = 0; r < rows.size(); ++r)
      if (rows[r].valid) residuals.push_back(std::fabs(z[r] - f.alpha - f.beta * rows[r].y));
    const double mad = std::max(Median(residuals), params.madFloor);
    const double cut = params.rejectSigmas * 1.4826 * mad;
    bool changed = false;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (!rows[r].valid) continue;
      const bool keep = std::fabs(z[r] - f.alpha - f.beta * rows[r].y) <= cut;
      changed = changed || keep != rows[r].inlier;
      rows[r].inlier = keep;
    }
    if (!changed) break;
    f = FitStraight(rows, z);
  }
  if (!f.ok) return fit;
  std::vector<double> floors;
  std::set<long> phases;
  int kept = 0;
  for (const Row& row : rows)
    if (row.inlier) {
      ++fit.arms[row.arm].usable, ++kept;
      floors.push_back(row.floor);
      const double at = c.x + f.alpha + f.beta * row.y + q * row.y * row.y;
      phases.insert(static_cast<long>(std::floor((at - std::floor(at)) * kPhaseBins)));
    }
  if (kept < params.minRows || fit.arms[0].usable < params.minRowsPerArm ||
      fit.arms[1].usable < params.minRowsPerArm)
    return fit;
  fit.alpha = f.alpha, fit.beta = f.beta;
  fit.varAlpha = f.varAlpha, fit.varBeta = f.varBeta, fit.covAlphaBeta = f.cov;
  // Rows whose lines lie at the same sub-pixel phase round alike: only rows
  // at different phases average the rounding out.
  const double floor = Median(floors);
  fit.floorVariance = floor * floor / static_cast<double>(phases.size());
  fit.ok = std::isfinite(fit.varAlpha) && std::isfinite(fit.floorVariance);

  if (pool && fit.ok) {
    for (const Row& row : rows) {
      if (!row.inlier) continue;
      const double fitted = c.x + f.alpha + f.beta * row.y + q * row.y * row.y;
      const double offset = fitted - row.xk;
      const double* d = samples.data() + row.first;
      for (int i = 0; i < row.n; ++i) pool->Add(row.x0 + i - row.xk - offset, d[i] / row.mass);
      pool->AddRow(fitted);
      if (family.lineTemplate) pool->AddShift(fitted, row.centre - row.centroid);
    }
  }
  return fit;
}

CrossingFit FitCrossing(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                        const FamilyContext& vertical, const FamilyContext& horizontal,
                        const PreciseParams& params, ProfilePool* poolV, ProfilePool* poolH) {
  CrossingFit result;
  Vec2 c = start;
  LineGeometry gv = v, gh = h;
  LineFit lv, lh;
  Intersection move{0, 0};
  ProfilePool lastV, lastH;
  const double wander = 0.5 * std::min(v.spacing, h.spacing);
  for (int it = 1; it <= params.maxIterations; ++it) {
    if (poolV) lastV = ProfilePool(poolV->bin, poolV->range);
    if (poolH) lastH = ProfilePool(poolH->bin, poolH->range);
    lv = FitLine(vertical, c, gv, params, poolV ? &lastV : nullptr);
    lh = FitLine(horizontal, InFrame(c, true), gh, params, poolH ? &lastH : nullptr);
    if (!lv.ok || !lh.ok) return result;
    if (!Intersect(lv.alpha, lv.beta, gv.curvature, lh.alpha, lh.beta, gh.curvature, move))
      return result;
    c = c + Vec2{move.x, move.y};
    gv.slope = lv.beta, gh.slope = lh.beta;
    result.iterations = it;
    if (!(Distance(c, start) <= wander)) return result;
    if (std::hypot(move.x, move.y) < params.convergence) break;
  }
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
  if (result.ok && poolV) poolV->Merge(lastV);
  if (result.ok && poolH) poolH->Merge(lastH);
  return result;
}

}  // namespace qova::precise
