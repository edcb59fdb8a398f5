#include "detect/plain_refine.h"

#include <cmath>
#include <exception>

#include "core/checked_math.h"
#include "detect/band_collectors.h"
#include "detect/cross_nodes.h"
#include "detect/line_fit.h"

namespace qova {

namespace {

double Distance(double x1, double y1, double x2, double y2) {
  return std::sqrt((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2));
}

// One walk as the algorithm states it: move, collect, compare with the last
// size, until the band is crossed or the walk passes limit.
template <class Move, class Collect, class Walked>
void PlainCrossBand(Band& band, int32_t& prev, double threshold, double limit, Move move,
                    Collect collect, Walked walked, double maxDistance) {
  bool leaving = false, entered = false, first = true;
  int32_t g = 0;
  do {
    band.clear();
    move(1.0);
    collect(maxDistance);
    if (first) {
      first = false;
    } else {
      const double diff = static_cast<double>(static_cast<int64_t>(band.size()) - prev);
      if (diff > threshold && !entered) entered = true;
      if (entered) {
        if (diff < -threshold) leaving = true;
        if (leaving) {
          band.clear();
          move(-((g - 1) * 0.5));
          collect((g + 1) * 0.5);
        }
        g = g + 1;
      }
    }
    prev = static_cast<int32_t>(band.size());
    if (walked() > limit) leaving = true;
  } while (!leaving);
}

}  // namespace

PlainRefinement PlainRefineCrossPoints(const MaskView& mask,
                                       const DynamicArray<CrossNode>& CrossNodes,
                                       int32_t horizontalLines, const DetectionParams& params) {
  PlainRefinement out;
  try {
    Band horizontalBand, verticalBand;
    int32_t prev = 0;
    const int32_t nodes = CrossNodes.Length();
    const int32_t nH = horizontalLines;
    const double window = params.SearchWindowHeight * 0.5;
    auto crossing = [&](int32_t k) { return NodeCrossing(CrossNodes[k]); };
    auto cellSize = [&](const NodePixel& at, int32_t before, int32_t after) {
      if (before >= 0 && after >= 0)
        return Distance(crossing(before).x, crossing(before).y, crossing(after).x,
                        crossing(after).y) /
               2;
      const int32_t other = after >= 0 ? after : before;
      return Distance(at.x, at.y, crossing(other).x, crossing(other).y);
    };
    for (int32_t k = 0; k < nodes; ++k) {
      const CrossNode node = CrossNodes[k];
      const double sv = node.VerticalSlope, bv = node.VerticalOffset;
      const double sh = node.HorizontalSlope, bh = node.HorizontalOffset;
      const NodePixel at = NodeCrossing(node);
      const double x0 = at.x, y0 = at.y;
      // The plates below have at least two lines each way: a neighbour always exists.
      const double J = cellSize(at, k - nH >= 0 ? k - nH : -1, k + nH < nodes ? k + nH : -1) *
                       params.CrossWindowWidth;
      const double M = cellSize(at, k % nH == 0 ? -1 : k - 1, (k + 1) % nH == 0 ? -1 : k + 1) *
                       params.CrossWindowWidth;
      double ptX = x0, ptY = y0;
      do {
        ptY = ptY - 1;
        ptX = sv * ptY + bv;
      } while (M / (2 * params.CrossWindowWidth) > Distance(ptX, ptY, x0, y0));
      double w = 0;
      PlainCrossBand(
          horizontalBand, prev, params.CrossIncreasePorog * J, mask.height,
          [&](double d) {
            ptY = ptY + d;
            ptX = sv * ptY + bv;
            w = ptY - sh * ptX;
          },
          [&](double c) {
            CollectHorizontalBand(mask, BandSide::Both, {sh, w}, {VT_Point(ptX, ptY), c, J},
                                  horizontalBand);
          },
          [&] { return ptY; }, window);
      ptX = x0;
      do {
        ptX = ptX - 1;
        ptY = sh * ptX + bh;
      } while (J / (2 * params.CrossWindowWidth) > Distance(ptX, ptY, x0, y0));
      double u = 0;
      PlainCrossBand(
          verticalBand, prev, params.CrossIncreasePorog * M, mask.width,
          [&](double d) {
            ptX = ptX + d;
            ptY = sh * ptX + bh;
            u = ptX - sv * ptY;
          },
          [&](double c) {
            CollectVerticalBand(mask, BandSide::Both, {sv, u}, {VT_Point(ptX, ptY), c, M},
                                verticalBand);
          },
          [&] { return ptX; }, window);
      if (!(static_cast<double>(verticalBand.size()) > 1.6 * M &&
            static_cast<double>(horizontalBand.size()) > 1.6 * J))
        continue;
      const VT_Point fitV = FitLine(verticalBand);
      const VT_Point fitH = FitLine(horizontalBand);
      const double svFit = -fitV.x, bvFit = -fitV.y, shFit = -fitH.x, bhFit = -fitH.y;
      const double y = Div(shFit * bvFit + bhFit, 1 - svFit * shFit);
      out.points.emplace_back(Finite(svFit * y + bvFit), y);
    }
    out.ok = true;
  } catch (const std::exception&) {
    out.ok = false;
  }
  return out;
}

}  // namespace qova
