#pragma once
// The pixels of a region that the binarization reads and writes: its bounding
// box clipped to the image, and the inside test answered once per row.

#include <cstdint>
#include <optional>

#include "app/state/state_record.h"
#include "core/search_region.h"

namespace qova {

// An inclusive pixel rectangle; empty when first > last on either axis.
struct PixelBox {
  int32_t x0, x1, y0, y1;
  bool Empty() const { return x0 > x1 || y0 > y1; }
};

// The region's bounding box widened by `margin` pixels on every side and
// clipped to width × height. A pixel outside the image has no brightness and
// no gradient, so no loop may reach it.
PixelBox ClippedBox(const SearchRegion& region, int32_t margin, int32_t width, int32_t height);

// PointInRegion's answer for the pixels of one region. The row table of
// RegionInterior costs memory per row of the region's box; for a region that
// reaches far beyond the image (a fragment of a strongly skewed quadrilateral)
// the per-pixel test over the clipped box is cheaper.
class InteriorTest {
 public:
  InteriorTest(const SearchRegion& region, int32_t imageHeight);
  bool operator()(int32_t x, int32_t y) const {
    return rows_ ? rows_->Contains(x, y) : PointInRegion(x, y, region_);
  }

 private:
  const SearchRegion& region_;
  std::optional<RegionInterior> rows_;
};

// Throws QovaError unless the working arrays exist with the open image's size
// and SourceBitmap and WorkBitmap are that size in the formats the stages read
// and write; every loop relies on it to stay inside them.
void CheckBinarizationInputs(const StateRecord& s);

}  // namespace qova
