#include "core/search_region.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

#include "core/checked_math.h"

namespace qova {

namespace {

template <class Better>
int32_t Extreme(const SearchRegion& region, double start, bool useX, Better better) {
  double m = start;
  for (int32_t i = 0; i < region.Count(); ++i) {
    const VT_Point* p = region.Get(i);
    const double v = useX ? p->x : p->y;
    if (better(m, v)) m = Trunc(v);
  }
  return static_cast<int32_t>(m);
}

bool Less(double m, double v) { return m < v; }
bool Greater(double m, double v) { return m > v; }

// For edge i of the region and row y: whether the edge can be crossed by the
// ray of a pixel in row y, and if so the greatest integer x for which it is.
// Mirrors the edge rules of PointInRegion step by step. A bound that is not
// a number counts for no x, as the comparison it stands for.
bool EdgeBound(const SearchRegion& region, int32_t i, double y, int32_t* bound) {
  const int32_t n = region.Count();
  const VT_Point* pi = region.Get(i);
  const VT_Point* pj = region.Get((i + 1) % n);
  const double yi = pi->y, yj = pj->y;
  if (yi == yj) return false;
  if (y < yi && y < yj) return false;
  if (y > yi && y > yj) return false;
  double b;
  if (y == std::max(yi, yj)) {
    b = std::ceil(yi > yj ? pi->x : pj->x) - 1.0;  // counted when x < that x
  } else {
    if (y == std::min(yi, yj)) return false;
    const double t = (y - yi) / (yj - yi);
    b = std::floor(pi->x + (pj->x - pi->x) * t);  // counted when x <= the crossing
  }
  if (std::isnan(b)) return false;
  *bound = static_cast<int32_t>(std::clamp(b, -2147483647.0, 2147483646.0));
  return true;
}

}  // namespace

int32_t RegionMinX(const SearchRegion& r) { return Extreme(r, 100000, true, Greater); }
int32_t RegionMaxX(const SearchRegion& r) { return Extreme(r, -100000, true, Less); }
int32_t RegionMinY(const SearchRegion& r) { return Extreme(r, 100000, false, Greater); }
int32_t RegionMaxY(const SearchRegion& r) { return Extreme(r, -100000, false, Less); }

bool PointInRegion(int32_t x, int32_t y, const SearchRegion& region) {
  const int32_t n = region.Count();
  int c = 0;
  const double px = x, py = y;
  for (int32_t i = 0; i < n; ++i) {
    const VT_Point* pi = region.Get(i);
    const VT_Point* pj = region.Get((i + 1) % n);
    const double xi = pi->x, yi = pi->y, xj = pj->x, yj = pj->y;
    if (yi == yj) continue;
    if (py < yi && py < yj) continue;
    if (py > yi && py > yj) continue;
    if (py == std::max(yi, yj)) {
      const double ex = yi > yj ? xi : xj;
      if (px < ex) ++c;
      continue;
    }
    if (py == std::min(yi, yj)) continue;
    const double t = (py - yi) / (yj - yi);
    const double xc = xi + (xj - xi) * t;
    if (px <= xc) ++c;
  }
  return c % 2 == 1;
}

void InteriorRowRuns(const SearchRegion& region, int32_t y, std::vector<int32_t>& bounds,
                     std::vector<PixelRun>& row) {
  bounds.clear();
  row.clear();
  for (int32_t i = 0; i < region.Count(); ++i) {
    int32_t b;
    if (EdgeBound(region, i, y, &b)) bounds.push_back(b);
  }
  // x is inside when an odd number of edges count for it, that is have a
  // bound >= x. From the greatest bound down the parity flips at each one:
  // (b1, b0] is inside, (b2, b1] outside, (b3, b2] inside, and so on.
  std::sort(bounds.begin(), bounds.end(), std::greater<int32_t>());
  for (size_t k = 0; k < bounds.size(); k += 2) {
    const int32_t last = bounds[k];
    const int32_t first = k + 1 < bounds.size() ? bounds[k + 1] + 1 : INT32_MIN;
    if (first <= last) row.push_back({first, last});
  }
  std::reverse(row.begin(), row.end());
}

RegionInterior::RegionInterior(const SearchRegion& region)
    : MinX(RegionMinX(region)),
      MaxX(RegionMaxX(region)),
      MinY(RegionMinY(region)),
      MaxY(RegionMaxY(region)),
      region_(&region) {
  if (MinY > MaxY) {
    rowStart_.assign(1, 0);
    return;
  }
  std::vector<int32_t> bounds;
  std::vector<PixelRun> row;
  rowStart_.reserve(static_cast<size_t>(MaxY - MinY) + 2);
  for (int32_t y = MinY; y <= MaxY; ++y) {
    rowStart_.push_back(static_cast<uint32_t>(spans_.size()));
    InteriorRowRuns(region, y, bounds, row);
    spans_.insert(spans_.end(), row.begin(), row.end());
  }
  rowStart_.push_back(static_cast<uint32_t>(spans_.size()));
}

}  // namespace qova
