#pragma once
// The refinement's walks as the algorithm states them: every step collects
// its band and compares the sizes, nothing is counted instead of collected
// and no stretch of steps is skipped. The refinement is checked bit for bit
// against this twin; it is never called by the program.

#include <vector>

#include "core/data_structures.h"
#include "detect/band.h"
#include "state/detection_params.h"

namespace qova {

struct PlainRefinement {
  bool ok = false;  // false when an error stopped it
  std::vector<VT_Point> points;
};

// As RefineCrossPoints, for nodes whose neighbours always exist (at least
// two lines each way), so that the region's corners are never needed.
PlainRefinement PlainRefineCrossPoints(const MaskView& mask, const DynamicArray<CrossNode>& nodes,
                                       int32_t horizontalLines, const DetectionParams& params);

}  // namespace qova
