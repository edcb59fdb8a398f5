// Verification and completion: the prediction of a missing crossing from
// its accepted neighbours against the lattice that made them, the checks
// of a crossing's fit, and the completion of a lattice inside its region.
#include "precise/completion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <mutex>

namespace qova::precise {
namespace {

// A gently distorted lattice: quadratic in the index.
Vec2 Lattice(int i, int j) {
  return {100 + 40 * i + 0.3 * j + 0.2 * i * i - 0.1 * i * j + 0.05 * j * j,
          80 - 0.4 * i + 38 * j + 0.07 * i * i + 0.12 * i * j - 0.15 * j * j};
}

CrossingFit GoodFit(Vec2 at) {
  CrossingFit f;
  f.ok = true;
  f.position = at;
  f.standardError = 0.01;
  for (ArmQuality& a : f.arms) a = {20, 20, 100};
  return f;
}

Node Accepted(int i, int j) {
  Node n;
  n.start = Lattice(i, j);
  n.fit = GoodFit(n.start);
  n.accepted = true;
  n.localA = Lattice(i + 1, j) - Lattice(i, j);
  n.localB = Lattice(i, j + 1) - Lattice(i, j);
  return n;
}

TEST(Completion, PredictionReproducesTheLatticeThatMadeTheNeighbours) {
  NodeTable table;
  for (int i = -2; i <= 2; ++i)
    for (int j = -2; j <= 2; ++j)
      if (i != 0 || j != 0) table.nodes[{i, j}] = Accepted(i, j);
  // Quadratic in the offsets, from the 24 around it: exact.
  auto p = PredictCrossing(table, 0, 0, 12);
  ASSERT_TRUE(p);
  EXPECT_NEAR(p->x, Lattice(0, 0).x, 1e-9);
  EXPECT_NEAR(p->y, Lattice(0, 0).y, 1e-9);
  // At the lattice's edge, from the 2 × 3 block beside it (a plane): within
  // the lattice's bend.
  NodeTable edge;
  for (int i = 0; i <= 1; ++i)
    for (int j = -1; j <= 1; ++j) edge.nodes[{i, j}] = Accepted(i, j);
  p = PredictCrossing(edge, -1, 0, 12);
  ASSERT_TRUE(p);
  EXPECT_NEAR(p->x, Lattice(-1, 0).x, 1.0);
  EXPECT_NEAR(p->y, Lattice(-1, 0).y, 1.0);
  // One neighbour: one of its lattice steps.
  NodeTable one;
  one.nodes[{3, 3}] = Accepted(3, 3);
  p = PredictCrossing(one, 4, 3, 12);
  ASSERT_TRUE(p);
  EXPECT_NEAR(p->x, (Lattice(3, 3) + Accepted(3, 3).localA).x, 1e-9);
  // An accepted false point far off: the fit is not believed, the step is.
  NodeTable wild = edge;
  wild.nodes[{1, 1}].fit.position = wild.nodes[{1, 1}].fit.position + Vec2{0, 60};
  p = PredictCrossing(wild, -1, 0, 12);
  ASSERT_TRUE(p);
  EXPECT_NEAR(p->x, (Lattice(0, 0) - Accepted(0, 0).localA).x, 1e-9);
  // No accepted neighbour: nothing.
  EXPECT_FALSE(PredictCrossing(NodeTable{}, 0, 0, 12));
}

TEST(Completion, VerifyNeedsRowsInkPrecisionAndNoWandering) {
  const PreciseParams params;
  const Vec2 at{50, 60};
  const CrossingFit good = GoodFit(at);
  EXPECT_TRUE(Verify(good, at + Vec2{2, 1}, 100, 40, params));
  CrossingFit f = good;
  f.arms[2].usable = 9;  // fewer than half its rows kept
  EXPECT_FALSE(Verify(f, at, 100, 40, params));
  f = good;
  f.arms[1].medianMass = 30;  // under 0.35 of the reference ink
  EXPECT_FALSE(Verify(f, at, 100, 40, params));
  EXPECT_TRUE(Verify(f, at, 80, 40, params));
  f = good;
  f.standardError = 0.6;
  EXPECT_FALSE(Verify(f, at, 100, 40, params));
  EXPECT_FALSE(Verify(good, at + Vec2{13, 0}, 100, 40, params));  // moved over 0.3 pitch
  f = good;
  f.ok = false;
  EXPECT_FALSE(Verify(f, at, 100, 40, params));
  // The reference ink of a lone crossing is never below half the region's.
  NodeTable table;
  table.nodes[{0, 0}] = Accepted(0, 0);
  CrossingFit faint = good;
  for (ArmQuality& a : faint.arms) a.medianMass = 10;
  EXPECT_DOUBLE_EQ(ReferenceInk(table, 1, 0, faint, 100, true), 55);
  EXPECT_DOUBLE_EQ(ReferenceInk(table, 1, 0, faint, 400, true), 200);
}

// From one accepted crossing the lattice grows to every position inside
// the region; a position whose fit fails stays empty and is tried once.
TEST(Completion, GrowsTheLatticeInsideTheRegionTryingEachPlaceOnce) {
  NodeTable table;
  table.nodes[{0, 0}] = Accepted(0, 0);
  // Corners in the cells around the 6 × 5 crossings (0..5, 0..4).
  const Region region({Lattice(0, 0) + Vec2{-20, -19}, Lattice(5, 0) + Vec2{20, -19},
                       Lattice(5, 4) + Vec2{20, 19}, Lattice(0, 4) + Vec2{-20, 19}});
  std::mutex lock;
  std::map<std::pair<int, int>, int> calls;
  const RefineFrom refine = [&](Vec2 start, const LineGeometry&, const LineGeometry&) {
    // The lattice position nearest the start; (2, 3) cannot be refined.
    int bi = 0, bj = 0;
    for (int i = -2; i <= 8; ++i)
      for (int j = -2; j <= 7; ++j)
        if (Distance(Lattice(i, j), start) < Distance(Lattice(bi, bj), start)) bi = i, bj = j;
    {
      const std::lock_guard<std::mutex> hold(lock);
      ++calls[{bi, bj}];
    }
    if (bi == 2 && bj == 3) return CrossingFit{};
    return GoodFit(Lattice(bi, bj));
  };
  std::set<std::pair<int, int>> tried;
  const PreciseParams params;
  CompleteLattice(table, region, refine, 38, 100, params, tried);
  for (int i = 0; i <= 5; ++i)
    for (int j = 0; j <= 4; ++j) {
      const Node* n = table.Find(i, j);
      if (i == 2 && j == 3) {
        EXPECT_TRUE(!n || !n->accepted);
        continue;
      }
      ASSERT_TRUE(n && n->accepted) << i << "," << j;
      EXPECT_NEAR(n->fit.position.x, Lattice(i, j).x, 1e-9);
      EXPECT_EQ(n->origin, PointOrigin::Added);
    }
  for (const auto& [ij, n] : table.nodes)
    EXPECT_TRUE(region.Contains(n.fit.position)) << ij.first << "," << ij.second;
  for (const auto& [ij, count] : calls) EXPECT_EQ(count, 1) << ij.first << "," << ij.second;
  EXPECT_EQ(calls.count({2, 3}), 1u);
}

}  // namespace
}  // namespace qova::precise
