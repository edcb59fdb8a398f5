#include "binarize/fragment_grid.h"

#include <string>

#include "core/checked_math.h"
#include "core/qova_error.h"

namespace qova {

std::vector<GridPoint> DivideSide(GridPoint a, GridPoint b, int32_t n) {
  if (n < 1) throw QovaError("A side cannot be divided into " + std::to_string(n) + " parts");
  std::vector<GridPoint> points(static_cast<size_t>(n) + 1);
  points.front() = a;
  points.back() = b;
  const double partX = Div(b.x - a.x, n);
  const double partY = Div(b.y - a.y, n);
  for (int32_t k = 1; k < n; ++k) {
    points[static_cast<size_t>(k)] = {Finite(k * partX + a.x), Finite(k * partY + a.y)};
  }
  return points;
}

GridLine LineThrough(GridPoint p1, GridPoint p2) {
  GridLine line;
  line.p1 = p1;
  line.p2 = p2;
  const double den = Finite(p2.x * p1.y - p2.y * p1.x);
  if (den != 0) {
    line.hasForm = true;
    line.a = Div(p2.y - p1.y, den);
    line.b = Div(p1.x - p2.x, den);
  }
  return line;
}

namespace {

// The crossing of the line through p1, p2 with the line through q1, q2, as
// p1 + t·(p2 − p1) with t from the cross products; d = 0 for parallel lines
// and for a line whose two points coincide.
GridPoint GeneralCrossing(const GridLine& p, const GridLine& q) {
  const double dpx = p.p2.x - p.p1.x, dpy = p.p2.y - p.p1.y;
  const double dqx = q.p2.x - q.p1.x, dqy = q.p2.y - q.p1.y;
  const double d = Finite(dpx * dqy - dpy * dqx);
  const double ox = q.p1.x - p.p1.x, oy = q.p1.y - p.p1.y;
  const double t = Div(Finite(ox * dqy - oy * dqx), d);
  return {Finite(p.p1.x + Finite(t * dpx)), Finite(p.p1.y + Finite(t * dpy))};
}

}  // namespace

GridPoint CrossLines(const GridLine& row, const GridLine& column) {
  if (!row.hasForm || !column.hasForm) return GeneralCrossing(row, column);
  const double e = Finite(Finite(row.a * column.b) - Finite(column.a * row.b));
  return {Div(row.b - column.b, e), Div(column.a - row.a, e)};
}

}  // namespace qova
