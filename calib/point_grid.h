#pragma once
// Points in a uniform grid of buckets, for the nearest-neighbour questions
// of the lattice walk.

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "calib/model.h"

namespace qova::calib {

class PointGrid {
 public:
  // cell: the bucket's side, px (raised so that there are never many more
  // buckets than points).
  PointGrid(std::span<const Vec2> points, double cell);
  // The indices of every point within radius of p, in increasing order.
  std::vector<int> Within(const Vec2& p, double radius) const;
  // visit(i) for every point i within radius of p, bucket by bucket (in no
  // order of i): the walk's questions, asked thousands of times, with no list.
  template <class Visit>
  void ForEachWithin(const Vec2& p, double radius, Visit&& visit) const;
  // The k points nearest p, nearest first (ties by index), not `self`.
  std::vector<int> Nearest(const Vec2& p, int k, int self = -1) const;
  // The same into `nearest`, with `found` as scratch: a caller asking for
  // every point keeps both and allocates nothing per point.
  void Nearest(const Vec2& p, int k, int self, std::vector<std::pair<double, int>>& found,
               std::vector<int>& nearest) const;

 private:
  long Bucket(long cx, long cy) const { return cy * columns_ + cx; }
  std::span<const Vec2> points_;
  double cell_ = 1, x0_ = 0, y0_ = 0;
  long columns_ = 1, rows_ = 1;
  std::vector<int> start_, members_;  // bucket b holds members_[start_[b] .. start_[b + 1])
};

template <class Visit>
void PointGrid::ForEachWithin(const Vec2& p, double radius, Visit&& visit) const {
  if (points_.empty() || !(radius >= 0) || !p.allFinite()) return;
  const double fx0 = std::floor((p.x() - radius - x0_) / cell_);
  const double fy0 = std::floor((p.y() - radius - y0_) / cell_);
  const double fx1 = std::floor((p.x() + radius - x0_) / cell_);
  const double fy1 = std::floor((p.y() + radius - y0_) / cell_);
  if (fx1 < 0 || fy1 < 0 || fx0 > static_cast<double>(columns_ - 1) ||
      fy0 > static_cast<double>(rows_ - 1))
    return;
  const long bx0 = static_cast<long>(std::max(0.0, fx0)),
             by0 = static_cast<long>(std::max(0.0, fy0));
  const long bx1 = static_cast<long>(std::min(static_cast<double>(columns_ - 1), fx1));
  const long by1 = static_cast<long>(std::min(static_cast<double>(rows_ - 1), fy1));
  for (long by = by0; by <= by1; ++by)
    for (long bx = bx0; bx <= bx1; ++bx) {
      const long b = Bucket(bx, by);
      for (int m = start_[static_cast<size_t>(b)]; m < start_[static_cast<size_t>(b) + 1]; ++m) {
        const int i = members_[static_cast<size_t>(m)];
        if ((points_[static_cast<size_t>(i)] - p).norm() <= radius) visit(i);
      }
    }
}

}  // namespace qova::calib
