#pragma once
// A search region is a polygon of corners in the order they were marked,
// closed implicitly from the last corner back to the first.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/data_structures.h"

namespace qova {

using SearchRegion = VT_Points;
// The user's regions, or the fragments of one, in order.
using RegionList = DynamicArray<std::unique_ptr<SearchRegion>>;

// Bounding box in whole pixels: the extreme corner coordinate truncated toward
// zero; an empty region gives 100000 for the minima and -100000 for the maxima,
// so that loops over its box do not run.
int32_t RegionMinX(const SearchRegion& region);
int32_t RegionMaxX(const SearchRegion& region);
int32_t RegionMinY(const SearchRegion& region);
int32_t RegionMaxY(const SearchRegion& region);

// Whether pixel (x, y) is inside the polygon, by counting the edges a ray
// toward growing x crosses. Each edge counts its endpoint with the greater y
// and not the one with the smaller y, so a pixel on the left side of a square
// is outside, on the right side inside.
bool PointInRegion(int32_t x, int32_t y, const SearchRegion& region);

// A run of whole numbers, first to last inclusive.
struct PixelRun {
  int32_t first;
  int32_t last;
};

// The runs of row y inside the polygon, in growing x: PointInRegion's answer
// for the whole row, from the greatest x each crossed edge counts for and
// their parity. bounds is room for the work, kept by the caller between rows.
void InteriorRowRuns(const SearchRegion& region, int32_t y, std::vector<int32_t>& bounds,
                     std::vector<PixelRun>& row);

// The inside test of PointInRegion computed once per row of the region's
// bounding box instead of once per pixel: for row y, the edge rules give for
// every crossed edge the greatest whole x it counts for, and the inside spans
// follow from their parity. Contains(x, y) answers exactly as PointInRegion.
class RegionInterior {
 public:
  explicit RegionInterior(const SearchRegion& region);
  bool Contains(int32_t x, int32_t y) const {
    if (y < MinY || y > MaxY) return PointInRegion(x, y, *region_);
    const size_t row = static_cast<size_t>(y - MinY);
    for (uint32_t k = rowStart_[row]; k < rowStart_[row + 1]; ++k)
      if (x >= spans_[k].first && x <= spans_[k].last) return true;
    return false;
  }

  const int32_t MinX, MaxX, MinY, MaxY;  // the bounding box

 private:
  const SearchRegion* region_;
  std::vector<uint32_t> rowStart_;  // spans of row y: [rowStart_[y-MinY], rowStart_[y-MinY+1])
  std::vector<PixelRun> spans_;
};

}  // namespace qova
