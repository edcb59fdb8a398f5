#pragma once
// The coarse snap of a crossing, for starting points and predicted
// crossings that may lie pixels away: along each arm, the mean profile
// across the line over a wide window, its trend removed and smoothed; its
// highest point is the line. The two snapped lines are intersected.

#include <optional>

#include "precise/grey_view.h"
#include "precise/line_frame.h"
#include "precise/precise_refinement.h"

namespace qova::precise {

// The offset along rows that moves the line through c (frame coordinates)
// onto the ridge within ± window·spacing; empty without rows or a ridge.
std::optional<double> SnapLine(const GreyView& view, Vec2 c, const LineGeometry& line,
                               double window, const PreciseParams& params);

// The crossing near c (image coordinates) of the two snapped lines.
std::optional<Vec2> SnapCrossing(const GreyView& vertical, const GreyView& horizontal, Vec2 c,
                                 const LineGeometry& v, const LineGeometry& h, double window,
                                 const PreciseParams& params);

}  // namespace qova::precise
