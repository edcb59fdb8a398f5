// The crossings of every vertical with every horizontal line inside a region.

#include "detect/cross_nodes.h"

#include <exception>

#include "core/checked_math.h"
#include "core/procedures.h"

namespace qova {

NodePixel NodeCrossing(const CrossNode& node) {
  const double sv = node.VerticalSlope, bv = node.VerticalOffset;
  const double sh = node.HorizontalSlope, bh = node.HorizontalOffset;
  const int32_t y = RoundNearest(Div(bh + sh * bv, 1 - sh * sv));
  const int32_t x = RoundNearest(sv * y + bv);
  return NodePixel{x, y};
}

CrossNodes FindCrossNodes(const GridLines& lines, const SearchRegion& region) {
  CrossNodes found;
  try {
    for (int32_t v = 0; v < lines.VerticalLines.Count(); ++v) {
      const VT_Point* vertical = lines.VerticalLines.Get(v);
      for (int32_t h = 0; h < lines.HorizontalLines.Count(); ++h) {
        const VT_Point* horizontal = lines.HorizontalLines.Get(h);
        const CrossNode node{vertical->x, vertical->y, horizontal->x, horizontal->y};
        const NodePixel at = NodeCrossing(node);
        if (PointInRegion(at.x, at.y, region)) found.nodes.Append(node);
      }
    }
  } catch (const std::exception&) {
    found.outcome = NodesOutcome::StoppedByError;  // the nodes found so far stay
  }
  return found;
}

}  // namespace qova
