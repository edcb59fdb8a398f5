#pragma once
// A start without starting points. The region's four corners lie in cell
// centres, so the homography of the unit square onto the region carries the
// grid to a nearly regular one: the grey levels resampled on it, averaged
// down the columns and along the rows, show the lines as peaks. Their period
// (the autocorrelation's first strong peak) gives the number of cells, and
// the peak nearest each line's expected place its position; the crossings
// mapped back are the starting points.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "precise/geometry.h"
#include "precise/grey_view.h"
#include "precise/precise_refinement.h"

namespace qova::precise {

// The starting points, or empty with the reason in `why`.
std::optional<std::vector<Vec2>> StartsFromCorners(const GreyView& view,
                                                   std::span<const Vec2, 4> corners,
                                                   const PreciseParams& params,
                                                   CornerStartFailure& why);

}  // namespace qova::precise
