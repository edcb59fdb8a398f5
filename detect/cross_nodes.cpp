// The crossings of every vertical with every horizontal line inside a region.

#include <exception>

#include "core/checked_math.h"
#include "core/procedures.h"
#include "detect/grid_lines.h"

namespace qova {

NodePixel NodeCrossing(const CrossNode& node) {
  const double sv = node.VerticalSlope, bv = node.VerticalOffset;
  const double sh = node.HorizontalSlope, bh = node.HorizontalOffset;
  const int32_t y = RoundNearest(Div(bh + sh * bv, 1 - sh * sv));
  const int32_t x = RoundNearest(sv * y + bv);
  return NodePixel{x, y};
}

void FindCrossNodes(StateRecord& s, int32_t regionIndex) {
  try {
    s.CrossNodes.SetLength(0);
    const SearchRegion& region = *s.Regions[regionIndex];
    for (int32_t v = 0; v < s.VerticalLines.Count(); ++v) {
      const VT_Point* vertical = s.VerticalLines.Get(v);
      for (int32_t h = 0; h < s.HorizontalLines.Count(); ++h) {
        const VT_Point* horizontal = s.HorizontalLines.Get(h);
        const CrossNode node{vertical->x, vertical->y, horizontal->x, horizontal->y};
        const NodePixel at = NodeCrossing(node);
        if (PointInRegion(at.x, at.y, region)) s.CrossNodes.Append(node);
      }
    }
  } catch (const std::exception&) {
    // The nodes found so far stay; the run goes on with them.
    s.Desktop.MessageBox(kNoCrossingsText, "Ошибка", MsgButtons::Ok);
  }
}

}  // namespace qova
