#pragma once
// The size of a band without building it: a walk across a grid line needs
// only that at every step.

#include <cstdint>

#include "detect/band.h"
#include "detect/transposed_mask.h"

namespace qova {

// The number of pixels CollectHorizontalBand and CollectVerticalBand would
// append for the same arguments; raises where they would raise. A walk
// builds its BandLine's slope once.
int64_t CountHorizontalBand(const MaskView& mask, BandSide side, const BandLine& line,
                            const BandWindow& window);
int64_t CountVerticalBand(const MaskView& mask, BandSide side, const BandLine& line,
                          const BandWindow& window);

// The same count as CountHorizontalBand, taken down the columns of the
// transposed mask: there the band's few rows are contiguous, where in the
// mask every pixel of them lies in a column of its own.
int64_t CountHorizontalBand(const TransposedMask& rows, BandSide side, const BandLine& line,
                            const BandWindow& window);

}  // namespace qova
