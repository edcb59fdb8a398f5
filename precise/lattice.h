#pragma once
// The lattice of crossings from scattered starting points: two lattice
// vectors from the directions and lengths of the points' nearest neighbours,
// duplicates merged, and every point given its index (i, j) by a
// breadth-first walk with locally updated vectors.

#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "precise/geometry.h"
#include "precise/precise_refinement.h"

namespace qova::precise {

// A, the more horizontal lattice vector, points right (A.x > 0); B points
// down (B.y > 0); pmin = min(|A|, |B|), the pitch.
struct LatticeBasis {
  Vec2 a, b;
  double pmin = 0;
};

// Nearest neighbours in a uniform grid of buckets.
class PointIndex {
 public:
  PointIndex(std::span<const Vec2> points, double cell);
  // Up to k points nearest to p (not p's own index `self`, none closer than
  // minDistance), nearest first, ties by index.
  std::vector<int> Nearest(Vec2 p, int k, double minDistance = 0, int self = -1) const;
  // Every point within radius of p.
  std::vector<int> Within(Vec2 p, double radius) const;

 private:
  long Bucket(long cx, long cy) const { return cy * columns_ + cx; }
  std::span<const Vec2> points_;
  double cell_, x0_, y0_;
  long columns_ = 1, rows_ = 1;
  std::vector<int> start_, members_;  // bucket b holds members_[start_[b] .. start_[b+1])
};

// The two lattice vectors; empty when the points do not show two directions.
std::optional<LatticeBasis> EstimateBasis(std::span<const Vec2> points,
                                          const PreciseParams& params);

struct LatticeNode {
  int i = 0, j = 0;
  Vec2 position;             // the mean of its members
  Vec2 localA, localB;       // lattice vectors where the node is
  std::vector<int> members;  // indices of the points merged into this crossing
};

struct Lattice {
  LatticeBasis basis;
  std::vector<LatticeNode> nodes;
  std::map<std::pair<int, int>, int> at;  // (i, j) -> node
  int NodeAt(int i, int j) const {
    const auto it = at.find({i, j});
    return it == at.end() ? -1 : it->second;
  }
};

// Points closer than mergeDistance·pmin become one node; the walk starts at
// the node nearest the points' median and steps ±A, ±B; nodes it cannot
// reach (behind a missing row) are attached to the nearest indexed node when
// they lie within indexTolerance·pitch of a whole lattice step from it.
// Nodes that fit nowhere are left out.
Lattice BuildLattice(std::span<const Vec2> points, const LatticeBasis& basis,
                     const PreciseParams& params);

}  // namespace qova::precise
