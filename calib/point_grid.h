#pragma once
// Points in a uniform grid of buckets, for the nearest-neighbour questions
// of the lattice walk.

#include <span>
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
  // The k points nearest p, nearest first (ties by index), not `self`.
  std::vector<int> Nearest(const Vec2& p, int k, int self = -1) const;

 private:
  long Bucket(long cx, long cy) const { return cy * columns_ + cx; }
  std::span<const Vec2> points_;
  double cell_ = 1, x0_ = 0, y0_ = 0;
  long columns_ = 1, rows_ = 1;
  std::vector<int> start_, members_;  // bucket b holds members_[start_[b] .. start_[b + 1])
};

}  // namespace qova::calib
