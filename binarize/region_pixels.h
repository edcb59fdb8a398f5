#pragma once
// The pixels of a region that the binarization reads and writes: its bounding
// box clipped to the image, the inside test answered once per row, and the
// interior as runs of rows, column by column.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "binarize/working_arrays.h"
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

// PointInRegion's answer for the pixels of a clipped box, column by column:
// for every column the runs of interior rows, in growing y. The loops that
// go x outer and y inner then run over whole runs instead of asking pixel by
// pixel. Built from the edge crossings of each row of the box only, so its
// cost and memory follow the box, however far the region reaches beyond it.
class InteriorColumns {
 public:
  using Span = PixelRun;

  InteriorColumns(const SearchRegion& region, const PixelBox& box);

  // The runs of column x, box.x0 <= x <= box.x1.
  std::span<const Span> Column(int32_t x) const {
    const size_t c = static_cast<size_t>(x - x0_);
    return {spans_.data() + columnStart_[c], spans_.data() + columnStart_[c + 1]};
  }
  // The number of interior pixels of the box.
  int64_t PixelCount() const { return pixels_; }

 private:
  int32_t x0_;
  std::vector<uint32_t>
      columnStart_;  // runs of column x: [columnStart_[x-x0], columnStart_[x-x0+1])
  std::vector<Span> spans_;
  int64_t pixels_ = 0;
};

// Throws QovaError unless the working arrays exist and source and WorkBitmap
// are their size in the formats the stages read and write; every loop relies
// on it to stay inside them.
void CheckBinarizationInputs(const QImage& source, const WorkingArrays& work);

}  // namespace qova
