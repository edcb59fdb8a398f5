#pragma once
// The band collectors as the algorithm states them: every cell of the
// clipped box, column by column, the foot of the perpendicular computed per
// pixel, nothing skipped. The fast collectors and counts are checked against
// this twin; it is never called by the program.

#include "detect/band.h"

namespace qova {

Band PlainCollect(const MaskView& mask, bool horizontal, BandSide side, const BandLine& line,
                  const BandWindow& window);

}  // namespace qova
