#pragma once
// One line of a crossing as every fit sees it: near-vertical, in its
// family's frame (the image itself for the near-vertical family, the
// transposed image for the near-horizontal one), with the crossing at c:
//   x = c.x + slope·Y + curvature·Y²,  Y = y − c.y.

#include <algorithm>
#include <cmath>

#include "precise/geometry.h"

namespace qova::precise {

struct LineGeometry {
  double slope = 0;      // dx/dy in the frame
  double curvature = 0;  // held fixed in the fits; 0 for a straight line
  double armBefore = 0;  // distance to the previous crossing along the line (y below c.y)
  double armAfter = 0;   // distance to the next crossing along the line
  double spacing = 0;    // distance to the neighbouring parallel lines
};

// The whole rows of one arm of the line (side −1: before c, +1: after c)
// from fromShare·arm + 1 to toShare·arm − 1 along the line, within the rows
// 0 .. height − 1; first > last when the arm is too short for any.
struct RowSpan {
  double first = 1, last = 0;
};
inline RowSpan ArmRows(Vec2 c, const LineGeometry& line, int side, double fromShare, double toShare,
                       int height) {
  const double stretch = std::sqrt(1 + line.slope * line.slope);
  const double arm = side < 0 ? line.armBefore : line.armAfter;
  const double from = (fromShare * arm + 1) / stretch;
  const double to = (toShare * arm - 1) / stretch;
  if (!(to >= from) || !(to < 1e6)) return {};
  const double lo = side < 0 ? c.y - to : c.y + from, hi = side < 0 ? c.y - from : c.y + to;
  return {std::max(0.0, std::ceil(lo)), std::min(height - 1.0, std::floor(hi))};
}

// A point of the image in a family's frame, and back.
inline Vec2 InFrame(Vec2 p, bool transposed) { return transposed ? Vec2{p.y, p.x} : p; }

// The increment of the crossing of x = cv + av + bv·Y + qv·Y² (near-vertical
// line, image frame) and y = ch + ah + bh·X + qh·X² (near-horizontal line, in
// image coordinates), relative to the point (cv, ch): the linear solution
// X = (av + bv·ah)/(1 − bv·bh), Y = (ah + bh·av)/(1 − bv·bh), then a few
// fixed-point steps for the bends. Empty when the lines are parallel.
struct Intersection {
  double x, y;
};
inline bool Intersect(double av, double bv, double qv, double ah, double bh, double qh,
                      Intersection& out) {
  const double d = 1 - bv * bh;
  if (!(std::fabs(d) > 1e-6)) return false;
  double x = (av + bv * ah) / d, y = (ah + bh * av) / d;
  for (int i = 0; i < 4 && (qv != 0 || qh != 0); ++i) {
    const double nx = av + bv * y + qv * y * y;
    y = ah + bh * nx + qh * nx * nx;
    x = nx;
  }
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  out = {x, y};
  return true;
}

}  // namespace qova::precise
