#pragma once
// The edge mask with rows and columns exchanged. A mask column is contiguous in
// y, so a band a few rows thick along x touches a column of memory for every
// pixel of its length; in the transposed mask those rows are columns.

#include <cstdint>

#include "core/pixel_array.h"
#include "detect/band.h"

namespace qova {

// The cells of a mask that may be set, x0 <= x < x1, y0 <= y < y1: every
// other cell is 0.
struct MaskBounds {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

class TransposedMask {
 public:
  // Copies the mask: Cells()[y][x] = mask.cells[x][y]. Throws QovaError when
  // the memory cannot be had. With occupied, only the tiles that meet it are
  // copied; the rest stays the fresh zeros it is, which costs no memory, so
  // the copy of a small region's mask in a huge scan stays small.
  explicit TransposedMask(const MaskView& mask, const MaskBounds* occupied = nullptr);

  // mask.height columns of mask.width cells.
  const PixelArray<uint8_t>& Cells() const { return cells_; }

 private:
  PixelArray<uint8_t> cells_;
};

}  // namespace qova
