#pragma once
// The geometry of the fragment grid: points dividing the sides of a
// quadrilateral, the grid lines through them and their crossings (the nodes).

#include <cstdint>
#include <vector>

namespace qova {

struct GridPoint {
  double x;
  double y;
};

// D0 … Dn of the side from a to b in n equal parts: D0 = a, Dn = b and
// Dk = k·((b − a)/n) + a, coordinate by coordinate.
std::vector<GridPoint> DivideSide(GridPoint a, GridPoint b, int32_t n);

// The straight line through two points, kept as a·x + b·y = −1 with
// a = (y2 − y1)/(x2·y1 − y2·x1) and b = (x1 − x2)/(x2·y1 − y2·x1). That form
// has no line through the origin (the denominator is 0); such a line keeps
// only its two points.
struct GridLine {
  GridPoint p1, p2;
  bool hasForm = false;  // a and b are valid
  double a = 0, b = 0;
};
GridLine LineThrough(GridPoint p1, GridPoint p2);

// The crossing of a row line and a column line: from the a·x + b·y = −1 forms,
// with e = ar·bc − ac·br, N = ((br − bc)/e, (ac − ar)/e). Where a line has no
// such form, by the general crossing of the lines through the two point pairs.
// Parallel lines raise ArithmeticError either way.
GridPoint CrossLines(const GridLine& row, const GridLine& column);

}  // namespace qova
