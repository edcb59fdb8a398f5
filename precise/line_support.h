#pragma once
// How far a family's lines reach across: the mean cross profile of many
// crossings' arms, pooled in fine bins about the coarse lines, gives the
// half-width S where the profile falls to a few percent of its peak. From it
// the band [−h1, h1] that holds the line, the ring h1 < |s| <= h2 that holds
// the background beside it, and the core of a crossing, where the other
// family's line covers this one and no row is used.

#include <optional>
#include <span>

#include "precise/grey_view.h"
#include "precise/line_frame.h"
#include "precise/precise_refinement.h"

namespace qova::precise {

struct LineSupport {
  double h1 = 0;  // band half-width, perpendicular pixels; 2·h1 is a whole number
  double h2 = 0;  // outer edge of the background ring
};

// S of one family from the crossings c[k] (frame coordinates) with their
// lines; empty when the pooled profile shows no line.
std::optional<double> SupportHalfWidth(const GreyView& view, std::span<const Vec2> centres,
                                       std::span<const LineGeometry> lines,
                                       const PreciseParams& params);

// h1 = max(minHalfWidth, ceil(2(S + 0.5))/2), h2 = h1 + max(minRing, h1/2).
LineSupport SupportFromHalfWidth(double s, const PreciseParams& params);

// The core radius of a line of family `own` at a crossing with `other`.
inline double CoreRadius(const LineSupport& own, const LineSupport& other) {
  return other.h1 + 1 + 0.1 * own.h2;
}

}  // namespace qova::precise
