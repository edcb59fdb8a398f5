#include "precise/robust_line.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <vector>

#include "precise/numeric.h"

namespace qova::precise {
namespace {

// The standard deviation of a normal distribution over its median absolute
// deviation, 1/Φ⁻¹(3/4): a robust σ from the MAD.
constexpr double kMadToSigma = 1.4826;
// Lines whose sub-pixel phases differ by a hundredth of a pixel round their
// grey levels differently (a sharp edge changes by a grey level in less).
constexpr int kPhaseBins = 100;

}  // namespace

StraightFit FitStraight(const std::vector<MeasuredRow>& rows, const std::vector<double>& z) {
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

StraightFit RobustLine(Vec2 c, double q, const PreciseParams& params, RowScratch& scratch) {
  std::vector<MeasuredRow>& rows = scratch.rows;
  std::vector<double>& z = scratch.z;
  z.resize(rows.size());
  for (size_t r = 0; r < rows.size(); ++r)
    z[r] = rows[r].xk + rows[r].centre - c.x - q * rows[r].dy * rows[r].dy;
  StraightFit f = FitStraight(rows, z);
  // The cut: rejectSigmas robust σ (the MAD over 0.6745), and never closer
  // than rejectFloor, so that a line whose rows agree to the last digit
  // (a noiseless axis-aligned line) keeps all but the rows truly off it.
  const double smallMad = params.rejectFloor / (params.rejectSigmas * kMadToSigma);
  for (int round = 0; round < params.rejectRounds && f.ok; ++round) {
    scratch.values.clear();
    size_t small = 0;
    for (size_t r = 0; r < rows.size(); ++r)
      if (rows[r].valid) {
        const double e = std::fabs(z[r] - f.alpha - f.beta * rows[r].dy);
        scratch.values.push_back(e);
        small += e <= smallMad;
      }
    // When more than half lie within smallMad, so does the median: the
    // floor is the cut.
    const size_t count = scratch.values.size();
    const double cut =
        small > count / 2
            ? params.rejectFloor
            : std::max(params.rejectSigmas * kMadToSigma * MedianOfFirst(scratch.values, count),
                       params.rejectFloor);
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
               RowScratch& scratch, ArmQuality arms[2], double& floorVariance) {
  std::bitset<kPhaseBins> phases;
  int kept = 0;
  scratch.values.clear();
  for (const MeasuredRow& row : scratch.rows)
    if (row.inlier) {
      ++arms[row.arm].usable, ++kept;
      scratch.values.push_back(row.floor);
      const double at = c.x + f.alpha + f.beta * row.dy + q * row.dy * row.dy;
      const double phase = at - FloorFast(at);
      phases.set(std::min(kPhaseBins - 1, static_cast<int>(phase * kPhaseBins)));
    }
  if (kept < params.minRows || arms[0].usable < params.minRowsPerArm ||
      arms[1].usable < params.minRowsPerArm)
    return false;
  const double floor = MedianOfFirst(scratch.values, scratch.values.size());
  floorVariance = floor * floor / static_cast<double>(phases.count());
  return true;
}

}  // namespace qova::precise
