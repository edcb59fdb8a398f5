#pragma once
// The band collectors: every edge pixel near a line and near a centre point
// on it, for the scans and the end of every refinement walk.

#include "core/data_structures.h"
#include "detect/band.h"

namespace qova {

// Appends to target every set mask pixel (i, j) within window.maxDistance of
// the line y = slope·x + intercept whose foot lies within window.halfLength
// of the centre and on the given side of it. Pixels are appended as (i, j),
// column by column.
void CollectHorizontalBand(const MaskView& mask, BandSide side, const BandLine& line,
                           const BandWindow& window, Band& target);
void CollectHorizontalBand(const MaskView& mask, BandSide side, const BandLine& line,
                           const BandWindow& window, VT_Points& target);

// The same for the line x = slope·y + intercept. Pixels are appended as
// (j, i): the vertical band is stored with its coordinates exchanged, so that
// FitLine gives x as a function of y.
void CollectVerticalBand(const MaskView& mask, BandSide side, const BandLine& line,
                         const BandWindow& window, Band& target);
void CollectVerticalBand(const MaskView& mask, BandSide side, const BandLine& line,
                         const BandWindow& window, VT_Points& target);

}  // namespace qova
