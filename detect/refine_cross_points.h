#pragma once
// Refinement of every crossing of a region into a final point: a walk along
// each of its two lines across the other line, a least-squares fit of the
// band of edge pixels the walk ends on, and the crossing of the two fits.

#include <cstdint>
#include <optional>

#include "core/search_region.h"
#include "detect/band.h"
#include "detect/step_marker.h"
#include "detect/transposed_mask.h"
#include "state/detection_params.h"

namespace qova {

class TransposedMask;

// Refines nodes (the crossings of a region's lines, vertical line by vertical
// line, horizontalLines crossings each) on the mask and appends the points
// whose bands are large enough to FoundPoints, in node order. The region's
// corners give the cell size of a node without neighbours. In step mode each
// point is shown through marker as it is found.
enum class RefineOutcome {
  Complete,        // every node refined or refused
  StoppedByError,  // an arithmetic error at one node: the nodes after it were not refined, the
                   // points appended before it stay
};
[[nodiscard]] RefineOutcome RefineCrossPoints(const MaskView& mask,
                                              const DynamicArray<CrossNode>& nodes,
                                              int32_t horizontalLines, const SearchRegion& region,
                                              const DetectionParams& params,
                                              const StepMarker& marker, VT_Points& FoundPoints,
                                              const MaskBounds* occupied = nullptr);

// The refined point of node k of nodes, or nullopt when either band is too
// small to fit. rows: the transposed mask for the horizontal bands' counts,
// or null to count them in the mask. Raises on arithmetic errors.
[[nodiscard]] std::optional<VT_Point> RefineCrossNode(
    const MaskView& mask, const TransposedMask* rows, const DynamicArray<CrossNode>& nodes,
    int32_t horizontalLines, int32_t k, const SearchRegion& region, const DetectionParams& params);

}  // namespace qova
