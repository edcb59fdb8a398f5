#pragma once
// Points, the region's polygon and the homography of its corners.

#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

namespace qova::precise {

struct Vec2 {
  double x = 0, y = 0;
};
inline Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
inline Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
inline Vec2 operator*(Vec2 a, double k) { return {a.x * k, a.y * k}; }
inline Vec2 operator*(double k, Vec2 a) { return {a.x * k, a.y * k}; }
inline double Dot(Vec2 a, Vec2 b) { return a.x * b.x + a.y * b.y; }
inline double Cross(Vec2 a, Vec2 b) { return a.x * b.y - a.y * b.x; }
inline double Norm(Vec2 a) { return std::sqrt(a.x * a.x + a.y * a.y); }
inline double Distance(Vec2 a, Vec2 b) { return Norm(a - b); }

// The search region: a polygon of its corners in the order clicked.
class Region {
 public:
  explicit Region(std::vector<Vec2> corners) : corners_(std::move(corners)) {}
  const std::vector<Vec2>& Corners() const { return corners_; }
  // Even-odd rule; a point on an edge counts as outside.
  bool Contains(Vec2 p) const;
  // Twice the signed area's magnitude / 2: the area in square pixels.
  double Area() const;
  // The x ranges [from, to] of row y inside the polygon, sorted.
  std::vector<std::pair<double, double>> RowSpans(double y) const;

 private:
  std::vector<Vec2> corners_;
};

// The projective map of the unit square (0,0), (1,0), (1,1), (0,1) onto four
// corners in that order; empty when the corners are degenerate.
class SquareHomography {
 public:
  static std::optional<SquareHomography> Onto(std::span<const Vec2, 4> corners);
  Vec2 Map(double u, double v) const;

 private:
  std::array<double, 9> h_{};  // row-major, h_[8] = 1
};

}  // namespace qova::precise
