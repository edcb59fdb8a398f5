#pragma once
// The crossings of every vertical with every horizontal line of a region.

#include <cstdint>

#include "core/search_region.h"
#include "detect/grid_lines.h"
#include "detect/run_observer.h"

namespace qova {

inline constexpr const char* kNoCrossingsText =
    "Невозможно найти пересечения. Попробуйте изменить параметры.";

// The crossing of a node's two lines as a whole pixel: y rounded first, then
// x from the rounded y. Parallel lines raise.
struct NodePixel {
  int32_t x;
  int32_t y;
};
NodePixel NodeCrossing(const CrossNode& node);

// The nodes of every vertical line with every horizontal line whose crossing
// pixel lies inside region, vertical line by vertical line. An error is
// reported to the observer and ends the search with the nodes found so far.
DynamicArray<CrossNode> FindCrossNodes(const GridLines& lines, const SearchRegion& region,
                                       RunObserver& observer);

}  // namespace qova
