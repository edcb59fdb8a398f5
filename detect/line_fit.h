#pragma once
// The least-squares line fit the scans and the refinement share.

#include <span>

#include "core/data_structures.h"
#include "detect/band.h"

namespace qova {

// Ordinary least squares of v on u over the points (u = x, v = y): the line
// v + A·u + B = 0, returned as the point (A, B). Fewer than two distinct u
// raise a division by zero.
VT_Point FitLine(const VT_Points& points);
VT_Point FitLine(std::span<const BandPixel> points);

}  // namespace qova
