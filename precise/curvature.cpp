#include "precise/curvature.h"

#include <array>
#include <cmath>
#include <map>
#include <vector>

#include "precise/numeric.h"

namespace qova::precise {
namespace {

// A chain is straight when its crossings scatter about a straight line by
// no more than twice their standard errors (χ² per degree of freedom up to
// 4), errors taken as at least a thousandth of a pixel.
constexpr double kStraightChi2 = 4;
constexpr double kLeastError = 1e-3;

// Half the second derivative, at each t, of the least-squares polynomial
// z = p(t) through the points (quartic from 8 points, cubic from 6,
// quadratic from 4; none below). t is centred and scaled for a well-conditioned fit.
std::vector<double> HalfSecondDerivatives(const std::vector<double>& t,
                                          const std::vector<double>& z) {
  std::vector<double> out(t.size(), 0.0);
  const size_t n = t.size();
  if (n < 4) return out;
  double mean = 0;
  for (double v : t) mean += v;
  mean /= static_cast<double>(n);
  double scale = 0;
  for (double v : t) scale = std::max(scale, std::fabs(v - mean));
  if (!(scale > 0)) return out;
  auto solve = [&](auto eq, auto coefficients, int degree) -> bool {
    for (size_t k = 0; k < n; ++k) {
      const double u = (t[k] - mean) / scale;
      decltype(coefficients) basis{};
      double power = 1;
      for (int d = 0; d <= degree; ++d) basis[static_cast<size_t>(d)] = power, power *= u;
      eq.Add(basis, z[k]);
    }
    if (!eq.Solve(coefficients, 1e-10)) return false;
    for (size_t k = 0; k < n; ++k) {
      const double u = (t[k] - mean) / scale;
      double second = 2 * coefficients[2];
      if (degree >= 3) second += 6 * coefficients[3] * u;
      if (degree >= 4) second += 12 * coefficients[4] * u * u;
      out[k] = second / (scale * scale) / 2;
    }
    return true;
  };
  if (n >= 8 && solve(NormalEquations<5>{}, std::array<double, 5>{}, 4)) return out;
  if (n >= 6 && solve(NormalEquations<4>{}, std::array<double, 4>{}, 3)) return out;
  if (!solve(NormalEquations<3>{}, std::array<double, 3>{}, 2)) out.assign(n, 0.0);
  return out;
}

// Whether a straight line explains the chain within its crossings' errors:
// then its bend is noise, and holding it would only add that noise.
bool Straight(const std::vector<double>& t, const std::vector<double>& z,
              const std::vector<double>& errors) {
  const double n = static_cast<double>(t.size());
  double st = 0, sz = 0, stt = 0, stz = 0;
  for (size_t k = 0; k < t.size(); ++k)
    st += t[k], sz += z[k], stt += t[k] * t[k], stz += t[k] * z[k];
  const double det = n * stt - st * st;
  if (!(det > 0) || n < 4) return true;
  const double b = (n * stz - st * sz) / det, a = (sz - b * st) / n;
  double chi2 = 0;
  for (size_t k = 0; k < t.size(); ++k) {
    const double e = (z[k] - a - b * t[k]) / std::max(errors[k], kLeastError);
    chi2 += e * e;
  }
  return chi2 / (n - 2) <= kStraightChi2;
}

}  // namespace

void EstimateCurvature(NodeTable& table) {
  std::map<int, std::vector<Node*>> columns, rows;
  for (auto& [ij, n] : table.nodes) {
    n.curveV = n.curveH = 0;
    if (!n.accepted) continue;
    columns[ij.first].push_back(&n);  // in j order: the map is ordered by (i, j)
    rows[ij.second].push_back(&n);    // in i order
  }
  for (auto& [i, chain] : columns) {
    std::vector<double> y, x, e;
    for (const Node* n : chain) {
      y.push_back(n->fit.position.y), x.push_back(n->fit.position.x);
      e.push_back(n->fit.sigmaX);
    }
    if (Straight(y, x, e)) continue;
    const auto c = HalfSecondDerivatives(y, x);
    for (size_t k = 0; k < chain.size(); ++k) chain[k]->curveV = c[k];
  }
  for (auto& [j, chain] : rows) {
    std::vector<double> x, y, e;
    for (const Node* n : chain) {
      x.push_back(n->fit.position.x), y.push_back(n->fit.position.y);
      e.push_back(n->fit.sigmaY);
    }
    if (Straight(x, y, e)) continue;
    const auto c = HalfSecondDerivatives(x, y);
    for (size_t k = 0; k < chain.size(); ++k) chain[k]->curveH = c[k];
  }
}

}  // namespace qova::precise
