#pragma once
// The edge mask with rows and columns exchanged. A mask column is contiguous in
// y, so a band a few rows thick along x touches a column of memory for every
// pixel of its length; in the transposed mask those rows are columns.

#include <cstdint>

#include "core/pixel_array.h"
#include "detect/band.h"

namespace qova {

class TransposedMask {
 public:
  // Copies the mask: Cells()[y][x] = mask.cells[x][y]. Throws QovaError when
  // the memory cannot be had.
  explicit TransposedMask(const MaskView& mask);

  // mask.height columns of mask.width cells.
  const PixelArray<uint8_t>& Cells() const { return cells_; }

 private:
  PixelArray<uint8_t> cells_;
};

}  // namespace qova
