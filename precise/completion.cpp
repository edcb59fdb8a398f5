#include "precise/completion.h"

#include <array>
#include <cmath>
#include <vector>

#include "precise/numeric.h"
#include "precise/parallel_for.h"

namespace qova::precise {

double CrossingInk(const CrossingFit& fit) {
  std::vector<double> arms;
  for (const ArmQuality& a : fit.arms) arms.push_back(a.medianMass);
  return Median(arms);
}

double ReferenceInk(const NodeTable& table, int i, int j, const CrossingFit& own, double regionInk,
                    bool acceptedOnly) {
  std::vector<double> ink{CrossingInk(own)};
  for (int di = -1; di <= 1; ++di)
    for (int dj = -1; dj <= 1; ++dj) {
      if (di == 0 && dj == 0) continue;
      const Node* n = table.Find(i + di, j + dj);
      if (n && n->fit.ok && (!acceptedOnly || n->accepted)) ink.push_back(CrossingInk(n->fit));
    }
  return std::max(Median(ink), 0.5 * regionInk);
}

bool Verify(const CrossingFit& fit, Vec2 start, double reference, double pmin,
            const PreciseParams& params) {
  if (!fit.ok) return false;
  for (const ArmQuality& a : fit.arms) {
    if (!(a.usable >= params.acceptRowShare * a.rows) || a.rows == 0) return false;
    if (!(a.medianMass >= params.acceptArmMass * reference)) return false;
  }
  return fit.standardError <= params.acceptMaxError &&
         Distance(fit.position, start) <= params.acceptMaxMove * pmin;
}

namespace {

template <size_t N>
std::optional<Vec2> FitAndEvaluate(const std::vector<std::array<double, 3>>& near,
                                   const std::vector<Vec2>& at) {
  NormalEquations<N> ex, ey;
  for (size_t k = 0; k < near.size(); ++k) {
    const double di = near[k][0], dj = near[k][1];
    std::array<double, N> basis{};
    const double all[6] = {1, di, dj, di * di, di * dj, dj * dj};
    for (size_t t = 0; t < N; ++t) basis[t] = all[t];
    ex.Add(basis, at[k].x);
    ey.Add(basis, at[k].y);
  }
  std::array<double, N> cx{}, cy{};
  if (!ex.Solve(cx, 1e-9) || !ey.Solve(cy, 1e-9)) return std::nullopt;
  return Vec2{cx[0], cy[0]};  // the value at the offset (0, 0)
}

}  // namespace

std::optional<Vec2> PredictCrossing(const NodeTable& table, int i, int j, double tolerance) {
  std::vector<std::array<double, 3>> near;
  std::vector<Vec2> at;
  std::set<int> columns, rows;
  for (int di = -2; di <= 2; ++di)
    for (int dj = -2; dj <= 2; ++dj) {
      const Node* n = table.Find(i + di, j + dj);
      if (!n || !n->accepted || (di == 0 && dj == 0)) continue;
      near.push_back({static_cast<double>(di), static_cast<double>(dj), 0});
      at.push_back(n->fit.position);
      columns.insert(di), rows.insert(dj);
    }
  // One lattice step from an accepted 4-neighbour: the fallback, and the
  // check on the fits (a fit of too few offsets can extrapolate wildly).
  std::optional<Vec2> step;
  const int steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  for (const auto& s : steps) {
    const Node* n = table.Find(i + s[0], j + s[1]);
    if (n && n->accepted) {
      step = n->fit.position - n->localA * s[0] - n->localB * s[1];
      break;
    }
  }
  auto plausible = [&](const std::optional<Vec2>& p) {
    return p && (!step || Distance(*p, *step) <= tolerance);
  };
  // A quadratic needs three offsets along each axis, a plane two.
  if (near.size() >= 8 && columns.size() >= 3 && rows.size() >= 3)
    if (auto p = FitAndEvaluate<6>(near, at); plausible(p)) return p;
  if (near.size() >= 3 && columns.size() >= 2 && rows.size() >= 2)
    if (auto p = FitAndEvaluate<3>(near, at); plausible(p)) return p;
  return step;
}

void CompleteLattice(NodeTable& table, const Region& region, const RefineFrom& refine, double pmin,
                     double regionInk, const PreciseParams& params,
                     std::set<std::pair<int, int>>& tried) {
  for (;;) {
    // Every 4-neighbour of an accepted crossing that has none, in index order.
    std::set<std::pair<int, int>> wanted;
    for (const auto& [ij, n] : table.nodes) {
      if (!n.accepted) continue;
      for (const auto& s : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}}) {
        const std::pair<int, int> m{ij.first + s.first, ij.second + s.second};
        const Node* there = table.Find(m.first, m.second);
        if ((!there || !there->accepted) && !tried.count(m)) wanted.insert(m);
      }
    }
    if (wanted.empty()) return;
    struct Candidate {
      std::pair<int, int> ij;
      Node node;
    };
    std::vector<Candidate> candidates;
    for (const auto& ij : wanted) {
      tried.insert(ij);
      const auto p = PredictCrossing(table, ij.first, ij.second, params.indexTolerance * pmin);
      if (!p || !region.Contains(*p)) continue;
      Candidate c{ij, {}};
      c.node.start = *p;
      c.node.origin = PointOrigin::Added;
      // The lattice vectors of the accepted neighbour it grows from.
      for (const auto& s : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}}) {
        const Node* n = table.Find(ij.first + s.first, ij.second + s.second);
        if (n && n->accepted) {
          c.node.localA = n->localA, c.node.localB = n->localB;
          break;
        }
      }
      candidates.push_back(std::move(c));
    }
    if (candidates.empty()) return;
    // The lines of each candidate from the table as it stands, with the
    // slopes of its lattice vectors.
    std::vector<LineGeometry> gv(candidates.size()), gh(candidates.size());
    for (size_t k = 0; k < candidates.size(); ++k) {
      const auto ij = candidates[k].ij;
      const bool had = table.nodes.count(ij) > 0;
      Node saved;
      if (had) saved = table.nodes[ij];
      table.nodes[ij] = candidates[k].node;
      gv[k] = table.Vertical(ij.first, ij.second, true);
      gh[k] = table.Horizontal(ij.first, ij.second, true);
      if (had)
        table.nodes[ij] = saved;
      else
        table.nodes.erase(ij);
    }
    std::vector<CrossingFit> fits(candidates.size());
    ParallelFor(candidates.size(), params.threads,
                [&](size_t k) { fits[k] = refine(candidates[k].node.start, gv[k], gh[k]); });
    // Verified against the crossings accepted before this round only, so
    // that the order of the candidates does not matter.
    std::vector<bool> accept(candidates.size());
    for (size_t k = 0; k < candidates.size(); ++k) {
      const auto ij = candidates[k].ij;
      const double reference = ReferenceInk(table, ij.first, ij.second, fits[k], regionInk, true);
      accept[k] = Verify(fits[k], candidates[k].node.start, reference, pmin, params);
    }
    bool any = false;
    for (size_t k = 0; k < candidates.size(); ++k) {
      if (!accept[k]) continue;
      Node node = candidates[k].node;
      node.fit = fits[k];
      node.accepted = true;
      table.nodes[candidates[k].ij] = node;
      any = true;
    }
    if (!any) return;
  }
}

}  // namespace qova::precise
