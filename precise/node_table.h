#pragma once
// The crossings of a region by lattice index while they are refined: where
// each one started, what its fit gave, whether it is accepted, and the
// lines every fit of it needs, taken from its neighbours.

#include <map>
#include <utility>
#include <vector>

#include "precise/crossing_fit.h"
#include "precise/line_frame.h"
#include "precise/precise_refinement.h"

namespace qova::precise {

struct Node {
  Vec2 start;                // where its refinement starts (snapped start or prediction)
  std::vector<Vec2> starts;  // the starting points merged into it, snapped
  PointOrigin origin = PointOrigin::Added;
  Vec2 localA, localB;  // lattice vectors where it is
  CrossingFit fit;      // the best fit so far
  bool accepted = false;
  double curveV = 0, curveH = 0;  // bends of its two lines, held in the final fits
};

class NodeTable {
 public:
  // Ordered by (i, j): column by column, each top to bottom.
  std::map<std::pair<int, int>, Node> nodes;

  const Node* Find(int i, int j) const {
    const auto it = nodes.find({i, j});
    return it == nodes.end() ? nullptr : &it->second;
  }
  static Vec2 Position(const Node& n) { return n.fit.ok ? n.fit.position : n.start; }

  // The lines of crossing (i, j) for its next fit: the slopes of its last
  // fit (or of its lattice vectors), the arms out to the neighbouring
  // crossings (accepted ones only, when asked; else one lattice step) and
  // the spacing of the parallel lines.
  LineGeometry Vertical(int i, int j, bool acceptedOnly) const;
  LineGeometry Horizontal(int i, int j, bool acceptedOnly) const;
};

}  // namespace qova::precise
