#pragma once
// The size of a band without building it: a walk across a grid line needs
// only that at every step.

#include <cstdint>

#include "detect/line_fit.h"
#include "detect/transposed_mask.h"
#include "state/state_record.h"

namespace qova {

// The number of pixels CollectHorizontalBand and CollectVerticalBand would
// append for the same arguments; raises where they would raise. A walk
// passes its slope as a BandSlope made once.
int64_t CountHorizontalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                            double maxDistance, double halfLength, double intercept,
                            const BandSlope& slope);
int64_t CountVerticalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                          double maxDistance, double halfLength, double intercept,
                          const BandSlope& slope);

// The same count as CountHorizontalBand, taken down the columns of the
// transposed mask: there the band's few rows are contiguous, where in
// BinaryMask every pixel of them lies in a column of its own.
int64_t CountHorizontalBand(const TransposedMask& rows, int32_t side, const VT_Point& centre,
                            double maxDistance, double halfLength, double intercept,
                            const BandSlope& slope);

}  // namespace qova
