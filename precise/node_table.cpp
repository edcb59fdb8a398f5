#include "precise/node_table.h"

#include <cmath>

namespace qova::precise {
namespace {

// The distance from n to its neighbour (or one lattice step when there is
// none to go by).
double Arm(const NodeTable& table, const Node& n, int i, int j, Vec2 step, bool acceptedOnly) {
  const Node* m = table.Find(i, j);
  if (m && (!acceptedOnly || m->accepted))
    return Distance(NodeTable::Position(*m), NodeTable::Position(n));
  return Norm(step);
}

}  // namespace

LineGeometry NodeTable::Vertical(int i, int j, bool acceptedOnly) const {
  const Node& n = nodes.at({i, j});
  LineGeometry g;
  g.slope = n.fit.ok ? n.fit.slopeV : n.localB.x / n.localB.y;
  g.curvature = n.curveV;
  g.armBefore = Arm(*this, n, i, j - 1, n.localB, acceptedOnly);
  g.armAfter = Arm(*this, n, i, j + 1, n.localB, acceptedOnly);
  g.spacing = Norm(n.localA);
  return g;
}

LineGeometry NodeTable::Horizontal(int i, int j, bool acceptedOnly) const {
  const Node& n = nodes.at({i, j});
  LineGeometry g;
  g.slope = n.fit.ok ? n.fit.slopeH : n.localA.y / n.localA.x;
  g.curvature = n.curveH;
  g.armBefore = Arm(*this, n, i - 1, j, n.localA, acceptedOnly);
  g.armAfter = Arm(*this, n, i + 1, j, n.localA, acceptedOnly);
  g.spacing = Norm(n.localB);
  return g;
}

}  // namespace qova::precise
