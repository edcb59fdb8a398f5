#pragma once
// The crossings of every vertical with every horizontal line of a region.

#include <cstdint>

#include "core/search_region.h"
#include "detect/grid_lines.h"

namespace qova {

// The crossing of a node's two lines as a whole pixel: y rounded first, then
// x from the rounded y. Parallel lines raise.
struct NodePixel {
  int32_t x;
  int32_t y;
};
NodePixel NodeCrossing(const CrossNode& node);

enum class NodesOutcome {
  Complete,        // every pair of lines tried
  StoppedByError,  // an arithmetic error (two parallel lines) ended the search there
};

struct CrossNodes {
  DynamicArray<CrossNode> nodes;
  NodesOutcome outcome = NodesOutcome::Complete;
};

// The nodes of every vertical line with every horizontal line whose crossing
// pixel lies inside region, vertical line by vertical line. An error ends
// the search with the nodes found so far (the run reports it and goes on
// with them).
[[nodiscard]] CrossNodes FindCrossNodes(const GridLines& lines, const SearchRegion& region);

}  // namespace qova
