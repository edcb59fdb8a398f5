#pragma once
// What the scans and the line validation of a region produce: the points
// where grid lines cross the region's sides, and the grid lines paired from
// them.

#include "core/data_structures.h"

namespace qova {

// Border points of one region, by the side pair each scan works along:
// 0–3 (left) and 1–2 (right) cross the horizontal lines, 2–3 (bottom) and
// 0–1 (top) the vertical ones.
struct BorderPoints {
  VT_Points SidePoints03{1};
  VT_Points SidePoints12{1};
  VT_Points SidePoints23{1};
  VT_Points SidePoints01{1};
};

// Grid lines as (slope, offset) points: a horizontal line is
// y = x·slope + offset, a vertical one x = y·slope + offset.
struct GridLines {
  VT_Points HorizontalLines{1};
  VT_Points VerticalLines{1};
};

}  // namespace qova
