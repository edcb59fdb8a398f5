#include "bench/self_consistency.h"

#include <array>
#include <cmath>
#include <vector>

#include "precise/lattice.h"
#include "precise/numeric.h"

namespace qova {

using precise::Vec2;

std::optional<SelfConsistency> MeasureSelfConsistency(std::span<const Vec2> points) {
  if (points.size() < 10) return std::nullopt;
  const PreciseParams params;
  const auto basis = precise::EstimateBasis(points, params);
  if (!basis) return std::nullopt;
  const precise::Lattice lattice = precise::BuildLattice(points, *basis, params);
  SelfConsistency out;
  out.points = static_cast<int>(points.size());
  out.indexed = static_cast<int>(lattice.nodes.size());
  if (lattice.nodes.size() < 10) return std::nullopt;

  // One cubic, Σ c_ab·u^a·v^b with a + b <= 3, in the index centred and
  // scaled by its spread.
  double mi = 0, mj = 0;
  for (const precise::LatticeNode& n : lattice.nodes) mi += n.i, mj += n.j;
  const double count = static_cast<double>(lattice.nodes.size());
  mi /= count, mj /= count;
  double spread = 0;
  for (const precise::LatticeNode& n : lattice.nodes)
    spread += (n.i - mi) * (n.i - mi) + (n.j - mj) * (n.j - mj);
  const double scale = std::max(1.0, std::sqrt(spread / (2 * count)));
  auto cubic = [&](const precise::LatticeNode& n) {
    const double u = (n.i - mi) / scale, v = (n.j - mj) / scale;
    std::array<double, 10> t{};
    int k = 0;
    for (int a = 0; a <= 3; ++a)
      for (int b = 0; b <= 3 - a; ++b)
        t[static_cast<size_t>(k++)] = std::pow(u, a) * std::pow(v, b);
    return t;
  };
  precise::NormalEquations<10> gx, gy;
  for (const precise::LatticeNode& n : lattice.nodes)
    gx.Add(cubic(n), n.position.x), gy.Add(cubic(n), n.position.y);
  std::array<double, 10> cx{}, cy{};
  if (gx.Solve(cx) && gy.Solve(cy)) {
    double sum = 0;
    for (const precise::LatticeNode& n : lattice.nodes) {
      const auto t = cubic(n);
      double x = 0, y = 0;
      for (size_t k = 0; k < 10; ++k) x += cx[k] * t[k], y += cy[k] * t[k];
      sum += std::pow(n.position.x - x, 2) + std::pow(n.position.y - y, 2);
    }
    out.globalCubic = std::sqrt(sum / count);
  }

  // Each crossing from its neighbours: 1, di, dj, di², di·dj, dj²; the
  // prediction is the constant term.
  double sum = 0;
  for (const precise::LatticeNode& n : lattice.nodes) {
    precise::NormalEquations<6> ex, ey;
    int neighbours = 0;
    for (int di = -2; di <= 2; ++di)
      for (int dj = -2; dj <= 2; ++dj) {
        const int m = (di || dj) ? lattice.NodeAt(n.i + di, n.j + dj) : -1;
        if (m < 0) continue;
        const Vec2 q = lattice.nodes[static_cast<size_t>(m)].position;
        const std::array<double, 6> t{1.0,           1.0 * di,      1.0 * dj,
                                      1.0 * di * di, 1.0 * di * dj, 1.0 * dj * dj};
        ex.Add(t, q.x), ey.Add(t, q.y);
        ++neighbours;
      }
    if (neighbours < 12) continue;
    std::array<double, 6> px{}, py{};
    if (!ex.Solve(px) || !ey.Solve(py)) continue;
    sum += std::pow(n.position.x - px[0], 2) + std::pow(n.position.y - py[0], 2);
    ++out.predicted;
  }
  if (out.predicted > 0) out.leaveOut = std::sqrt(sum / out.predicted);

  const precise::PointIndex index(points, basis->pmin);
  for (size_t k = 0; k < points.size(); ++k)
    for (int m : index.Within(points[k], 0.25 * basis->pmin))
      out.duplicates += m > static_cast<int>(k);
  return out;
}

}  // namespace qova
