#include "precise/geometry.h"

#include <algorithm>

namespace qova::precise {

bool Region::Contains(Vec2 p) const {
  const size_t n = corners_.size();
  if (n < 3) return false;
  bool inside = false;
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const Vec2 a = corners_[i], b = corners_[j];
    const Vec2 ab = b - a, ap = p - a;
    if (Cross(ab, ap) == 0 && Dot(ap, ab) >= 0 && Dot(ap, ab) <= Dot(ab, ab)) return false;
    if ((a.y > p.y) != (b.y > p.y)) {
      const double xCross = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
      if (p.x < xCross) inside = !inside;
    }
  }
  return inside;
}

double Region::Area() const {
  double twice = 0;
  const size_t n = corners_.size();
  for (size_t i = 0, j = n - 1; i < n; j = i++) twice += Cross(corners_[j], corners_[i]);
  return std::fabs(twice) / 2;
}

std::vector<std::pair<double, double>> Region::RowSpans(double y) const {
  std::vector<double> xs;
  const size_t n = corners_.size();
  for (size_t i = 0, j = n - 1; i < n && n >= 3; j = i++) {
    const Vec2 a = corners_[i], b = corners_[j];
    if ((a.y > y) != (b.y > y)) xs.push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
  }
  std::sort(xs.begin(), xs.end());
  std::vector<std::pair<double, double>> spans;
  for (size_t i = 0; i + 1 < xs.size(); i += 2) spans.push_back({xs[i], xs[i + 1]});
  return spans;
}

// The square-to-quadrilateral map in closed form (Heckbert): with the sums
// and differences of the corners, the projective terms g, h come from a 2×2
// system that is singular exactly when three corners are collinear.
std::optional<SquareHomography> SquareHomography::Onto(std::span<const Vec2, 4> c) {
  const double sx = c[0].x - c[1].x + c[2].x - c[3].x;
  const double sy = c[0].y - c[1].y + c[2].y - c[3].y;
  const double dx1 = c[1].x - c[2].x, dx2 = c[3].x - c[2].x;
  const double dy1 = c[1].y - c[2].y, dy2 = c[3].y - c[2].y;
  const double det = dx1 * dy2 - dx2 * dy1;
  const double scale = std::max({std::fabs(dx1), std::fabs(dx2), std::fabs(dy1), std::fabs(dy2)});
  if (!(std::fabs(det) > 1e-9 * scale * scale) || !std::isfinite(det)) return std::nullopt;
  const double g = (sx * dy2 - dx2 * sy) / det;
  const double h = (dx1 * sy - sx * dy1) / det;
  SquareHomography m;
  m.h_ = {c[1].x - c[0].x + g * c[1].x,
          c[3].x - c[0].x + h * c[3].x,
          c[0].x,
          c[1].y - c[0].y + g * c[1].y,
          c[3].y - c[0].y + h * c[3].y,
          c[0].y,
          g,
          h,
          1};
  // Every corner must map back with a positive denominator, or the map folds.
  for (double u : {0.0, 1.0})
    for (double v : {0.0, 1.0})
      if (!(m.h_[6] * u + m.h_[7] * v + 1 > 1e-9)) return std::nullopt;
  return m;
}

Vec2 SquareHomography::Map(double u, double v) const {
  const double w = h_[6] * u + h_[7] * v + h_[8];
  return {(h_[0] * u + h_[1] * v + h_[2]) / w, (h_[3] * u + h_[4] * v + h_[5]) / w};
}

}  // namespace qova::precise
