#include "calib/point_grid.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace qova::calib {

PointGrid::PointGrid(std::span<const Vec2> points, double cell) : points_(points) {
  double x1 = 0, y1 = 0;
  if (!points.empty()) {
    x0_ = x1 = points[0].x(), y0_ = y1 = points[0].y();
    for (const Vec2& p : points) {
      x0_ = std::min(x0_, p.x()), x1 = std::max(x1, p.x());
      y0_ = std::min(y0_, p.y()), y1 = std::max(y1, p.y());
    }
  }
  const double n = static_cast<double>(std::max<size_t>(points.size(), 1));
  cell_ = std::max({cell, 1e-9, std::sqrt((x1 - x0_) * (y1 - y0_) / (4 * n)),
                    std::max(x1 - x0_, y1 - y0_) / (4 * n)});
  columns_ = static_cast<long>((x1 - x0_) / cell_) + 1;
  rows_ = static_cast<long>((y1 - y0_) / cell_) + 1;
  start_.assign(static_cast<size_t>(columns_ * rows_ + 1), 0);
  std::vector<long> bucketOf(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    const long cx = std::min(columns_ - 1, static_cast<long>((points[i].x() - x0_) / cell_));
    const long cy = std::min(rows_ - 1, static_cast<long>((points[i].y() - y0_) / cell_));
    bucketOf[i] = Bucket(cx, cy);
    ++start_[static_cast<size_t>(bucketOf[i]) + 1];
  }
  std::partial_sum(start_.begin(), start_.end(), start_.begin());
  members_.resize(points.size());
  std::vector<int> fill(start_.begin(), start_.end() - 1);
  for (size_t i = 0; i < points.size(); ++i)
    members_[static_cast<size_t>(fill[static_cast<size_t>(bucketOf[i])]++)] = static_cast<int>(i);
}

std::vector<int> PointGrid::Within(const Vec2& p, double radius) const {
  std::vector<int> inside;
  ForEachWithin(p, radius, [&](int i) { inside.push_back(i); });
  std::sort(inside.begin(), inside.end());
  return inside;
}

std::vector<int> PointGrid::Nearest(const Vec2& p, int k, int self) const {
  std::vector<std::pair<double, int>> found;
  std::vector<int> nearest;
  Nearest(p, k, self, found, nearest);
  return nearest;
}

void PointGrid::Nearest(const Vec2& p, int k, int self, std::vector<std::pair<double, int>>& found,
                        std::vector<int>& nearest) const {
  found.clear();
  nearest.clear();
  if (points_.empty() || k <= 0 || !p.allFinite()) return;
  // Rings of buckets about p until k points lie within the ring's reach.
  const long cx = static_cast<long>(std::floor((p.x() - x0_) / cell_));
  const long cy = static_cast<long>(std::floor((p.y() - y0_) / cell_));
  const long last = std::max({columns_, rows_, std::labs(cx) + columns_, std::labs(cy) + rows_});
  auto visit = [&](long bx, long by) {
    if (bx < 0 || by < 0 || bx >= columns_ || by >= rows_) return;
    const long b = Bucket(bx, by);
    for (int m = start_[static_cast<size_t>(b)]; m < start_[static_cast<size_t>(b) + 1]; ++m) {
      const int i = members_[static_cast<size_t>(m)];
      if (i != self) found.push_back({(points_[static_cast<size_t>(i)] - p).norm(), i});
    }
  };
  for (long r = 0; r <= last; ++r) {
    if (r == 0) {
      visit(cx, cy);
    } else {
      for (long d = -r; d <= r; ++d) visit(cx + d, cy - r), visit(cx + d, cy + r);
      for (long d = -r + 1; d <= r - 1; ++d) visit(cx - r, cy + d), visit(cx + r, cy + d);
    }
    if (static_cast<int>(found.size()) >= k) {
      std::nth_element(found.begin(), found.begin() + (k - 1), found.end());
      if (found[static_cast<size_t>(k - 1)].first <= static_cast<double>(r) * cell_) break;
    }
  }
  // Only the k nearest need their order.
  const size_t take = std::min(found.size(), static_cast<size_t>(k));
  std::partial_sort(found.begin(), found.begin() + static_cast<long>(take), found.end());
  for (size_t i = 0; i < take; ++i) nearest.push_back(found[i].second);
}

}  // namespace qova::calib
