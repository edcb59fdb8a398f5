// Refinement of every crossing: walk along each guide line across the other
// grid line, collect that line's band of mask pixels near the crossing, fit
// it, and intersect the two fitted lines.

#include "detect/refine_cross_points.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <optional>

#include "core/checked_math.h"
#include "core/procedures.h"
#include "detect/band_collectors.h"
#include "detect/band_count.h"
#include "detect/cross_nodes.h"
#include "detect/line_fit.h"
#include "detect/transposed_mask.h"

namespace qova {

namespace {

double Distance(double x1, double y1, double x2, double y2) {
  return Sqrt((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2));
}

double Distance(const NodePixel& a, const NodePixel& b) { return Distance(a.x, a.y, b.x, b.y); }

double SideLength(const SearchRegion& region, int32_t from, int32_t to) {
  const VT_Point* a = region.Get(from);
  const VT_Point* b = region.Get(to);
  return Distance(a->x, a->y, b->x, b->y);
}

// The cell size along one direction of the node layout: half the distance
// between the two neighbours when both exist, else the distance to the one
// that exists, else the region's mean side length in that direction. The
// corners are read only in that last case.
template <class FromCorners>
double CellSize(const DynamicArray<CrossNode>& nodes, const NodePixel& at, int32_t before,
                int32_t after, FromCorners fromCorners) {
  if (before >= 0 && after >= 0)
    return Distance(NodeCrossing(nodes[before]), NodeCrossing(nodes[after])) / 2;
  if (after >= 0) return Distance(at, NodeCrossing(nodes[after]));
  if (before >= 0) return Distance(at, NodeCrossing(nodes[before]));
  return fromCorners();
}

// The window count of one walk across a band. entered, leaving, g and first
// follow the algorithm's names; g counts the steps since the band was
// entered, the entering step included.
struct BandCrossing {
  bool leaving = false;
  bool entered = false;
  int32_t g = 0;
  bool first = true;
};

// Steps walked at a time before the band is entered, where their counts can
// be shown too small to enter it.
constexpr int32_t kStretch = 8;

// Walks a window along a guide line, one pixel of the walking coordinate per
// step, until it has crossed a band whose count rises by more than threshold
// and then falls by more than threshold, or until it passes limit. move(d)
// moves the walking point by d along the walking coordinate and recomputes the
// other coordinate and the intercept of the window's line; count(maxDistance)
// gives the size of the band there and collect(maxDistance) refills it. Only
// the band the walk ends on is kept, so the steps before count without
// building it.
//
// Before the band is entered, most steps need no count at all: when no step
// of a stretch can count more than threshold (bound(maxDistance, n) is a
// count none of the n steps from here exceeds, or -1), no count in it rises
// by more than threshold, so none enters the band, and only the last step's
// count is needed, as the one the step after compares with. A stretch that
// cannot be shown so is walked step by step, and the next try waits as long.
template <class Move, class Count, class Bound, class Collect, class Walked>
void CrossBand(Band& band, int32_t& prev, double threshold, double limit, Move move, Count count,
               Bound bound, Collect collect, Walked walked, double maxDistance) {
  BandCrossing w;
  int32_t nextTry = 0;  // steps until the next stretch may be tried
  do {
    move(1.0);
    int64_t size;
    bool collected = false;
    if (!w.first && !w.entered && nextTry-- <= 0) {
      const int64_t most = bound(maxDistance, kStretch);
      if (most >= 0 && static_cast<double>(most) <= threshold) {
        for (int32_t t = 1; t < kStretch && !(walked() > limit); ++t) move(1.0);
        prev = static_cast<int32_t>(count(maxDistance));
        if (walked() > limit) {
          band.clear();
          collect(maxDistance);  // the band this step counted
          return;
        }
        continue;
      }
      nextTry = kStretch;
    }
    size = count(maxDistance);
    if (w.first) {
      w.first = false;
    } else {
      const double diff = static_cast<double>(size - prev);
      if (diff > threshold && !w.entered) w.entered = true;
      if (w.entered) {
        if (diff < -threshold) w.leaving = true;
        if (w.leaving) {
          // Back to the middle of the band, by half the steps spent in it.
          move(-((w.g - 1) * 0.5));
          band.clear();
          collect((w.g + 1) * 0.5);
          size = static_cast<int64_t>(band.size());
          collected = true;
        }
        w.g = w.g + 1;
      }
    }
    prev = static_cast<int32_t>(size);
    if (walked() > limit) w.leaving = true;
    if (w.leaving && !collected) {
      band.clear();
      collect(maxDistance);  // the band this step counted
    }
  } while (!w.leaving);
}

// A band holding every band of a stretch of a walk, from the window at
// (x0, y0) on the line of intercept e0 to that at (x1, y1) on the line of
// intercept e1: the lines are parallel and their intercepts and centres lie
// in order along the guide line, so the line halfway, wider by half the
// spread of the intercepts, and longer by that and half the distance of the
// centres, holds them all, with a margin for rounding.
struct CoveringBand {
  VT_Point centre;
  double maxDistance, halfLength, intercept;
};

CoveringBand Covering(double x0, double y0, double e0, double x1, double y1, double e1,
                      double maxDistance, double halfLength) {
  const double margin =
      1e-6 + 1e-9 * (std::fabs(x0) + std::fabs(y0) + std::fabs(e0) + std::fabs(e1) + halfLength);
  const double spread = std::fabs(e1 - e0) / 2;
  const double apart = std::sqrt((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0)) / 2;
  return CoveringBand{VT_Point((x0 + x1) / 2, (y0 + y1) / 2), maxDistance + spread + margin,
                      halfLength + spread + apart + margin, (e0 + e1) / 2};
}

// A bound for CrossBand from a count of the covering band; -1 where that
// count cannot be had (it is only an aid: the walk then counts every step).
template <class CountBand>
int64_t CoveringCount(CountBand countBand) {
  try {
    return countBand();
  } catch (const std::exception&) {
    return -1;
  }
}

// One of a node's two walks in its own frame. The walk steps t along its
// guide line q = guideSlope·t + guideOffset across the band of the other
// line, t = band.slope·q + intercept: down across a horizontal line (t = y,
// q = x) or right across a vertical one (t = x, q = y).
struct Walk {
  bool alongY;
  double guideSlope, guideOffset;
  BandSlope band;
  double reach;       // the walk starts this far before the crossing
  double halfLength;  // of the band window
  double limit;       // the walk ends past this t
  VT_Point At(double q, double t) const { return alongY ? VT_Point(q, t) : VT_Point(t, q); }
};

// The band counts and collections of a walk's band: horizontal bands for a
// walk along y (counted down the transposed mask where there is one),
// vertical ones otherwise. The refinement's bands reach both ways.
struct WalkBands {
  const MaskView& mask;
  const TransposedMask* rows;

  int64_t Count(const Walk& walk, const BandLine& line, const BandWindow& window) const {
    if (!walk.alongY) return CountVerticalBand(mask, BandSide::Both, line, window);
    return rows ? CountHorizontalBand(*rows, BandSide::Both, line, window)
                : CountHorizontalBand(mask, BandSide::Both, line, window);
  }
  void Collect(const Walk& walk, const BandLine& line, const BandWindow& window, Band& band) const {
    if (walk.alongY)
      CollectHorizontalBand(mask, BandSide::Both, line, window, band);
    else
      CollectVerticalBand(mask, BandSide::Both, line, window, band);
  }
};

// Walks one line of the node at (t0, q0) back to walk.reach before it, then
// across the other line's band (CrossBand), and leaves that band in band.
void WalkAcross(const WalkBands& bands, const Walk& walk, double t0, double q0, double threshold,
                double maxDistance, Band& band) {
  double t = t0, q = q0, e;
  do {
    t = t - 1;
    q = walk.guideSlope * t + walk.guideOffset;
    e = Distance(q, t, q0, t0);
  } while (walk.reach > e);

  double intercept = 0;
  auto window = [&](double distance) {
    return BandWindow{walk.At(q, t), distance, walk.halfLength};
  };
  int32_t prev = 0;
  CrossBand(
      band, prev, threshold, walk.limit,
      [&](double d) {
        t = t + d;
        q = walk.guideSlope * t + walk.guideOffset;
        intercept = t - walk.band.s * q;
      },
      [&](double distance) {
        return bands.Count(walk, {walk.band, intercept}, window(distance));
      },
      [&](double distance, int32_t steps) {
        double tEnd = t;  // where steps − 1 more moves take the point
        for (int32_t n = 1; n < steps; ++n) tEnd = tEnd + 1;
        const double qEnd = walk.guideSlope * tEnd + walk.guideOffset;
        const VT_Point from = walk.At(q, t), to = walk.At(qEnd, tEnd);
        const CoveringBand c = Covering(from.x, from.y, intercept, to.x, to.y,
                                        tEnd - walk.band.s * qEnd, distance, walk.halfLength);
        return CoveringCount([&] {
          return bands.Count(walk, {walk.band, c.intercept},
                             {c.centre, c.maxDistance, c.halfLength});
        });
      },
      [&](double distance) {
        bands.Collect(walk, {walk.band, intercept}, window(distance), band);
      },
      [&] { return t; }, maxDistance);
}

// The mean length of two opposite sides of the region.
double MeanSide(const SearchRegion& region, int32_t a0, int32_t a1, int32_t b0, int32_t b1) {
  return (SideLength(region, a0, a1) + SideLength(region, b0, b1)) / 2;
}

}  // namespace

std::optional<VT_Point> RefineCrossNode(const MaskView& mask, const TransposedMask* rows,
                                        const DynamicArray<CrossNode>& nodes,
                                        int32_t horizontalLines, int32_t k,
                                        const SearchRegion& region, const DetectionParams& params) {
  const int32_t nH = horizontalLines;
  const int32_t count = nodes.Length();
  if (nH == 0) ThrowZeroDivide();  // k mod nH
  const CrossNode node = nodes[k];
  const double sv = node.VerticalSlope, bv = node.VerticalOffset;
  const double sh = node.HorizontalSlope, bh = node.HorizontalOffset;
  const NodePixel at = NodeCrossing(node);
  const double x0 = at.x, y0 = at.y;

  // Neighbours in the layout vertical line by vertical line; -1 for none.
  const int32_t nextColumn = k + nH < count ? k + nH : -1;  // C
  const int32_t prevColumn = k - nH >= 0 ? k - nH : -1;     // E
  const int32_t prevRow = k % nH == 0 ? -1 : k - 1;         // F
  const int32_t nextRow = (k + 1) % nH == 0 ? -1 : k + 1;   // G
  const double b =
      CellSize(nodes, at, prevColumn, nextColumn, [&] { return MeanSide(region, 0, 1, 3, 2); });
  const double J = b * params.CrossWindowWidth;
  const double c =
      CellSize(nodes, at, prevRow, nextRow, [&] { return MeanSide(region, 0, 3, 1, 2); });
  const double M = c * params.CrossWindowWidth;

  // Down the vertical line across the horizontal one, from half a cell
  // height above the crossing; then right along the horizontal line across
  // the vertical one, from half a cell width to its left.
  const WalkBands bands{mask, rows};
  const double window = params.SearchWindowHeight * 0.5;
  const Walk down{true, sv, bv, sh, Div(M, 2 * params.CrossWindowWidth), J, double(mask.height)};
  Band horizontalBand, verticalBand;
  WalkAcross(bands, down, y0, x0, params.CrossIncreasePorog * J, window, horizontalBand);
  const Walk right{false, sh, bh, sv, Div(J, 2 * params.CrossWindowWidth), M, double(mask.width)};
  WalkAcross(bands, right, x0, y0, params.CrossIncreasePorog * M, window, verticalBand);

  if (!(static_cast<double>(verticalBand.size()) > 1.6 * M &&
        static_cast<double>(horizontalBand.size()) > 1.6 * J))
    return std::nullopt;

  // The vertical band is stored (y, x): its fit is x = sv'·y + bv'.
  const VT_Point fitV = FitLine(verticalBand);
  const double svFit = -fitV.x, bvFit = -fitV.y;
  const VT_Point fitH = FitLine(horizontalBand);
  const double shFit = -fitH.x, bhFit = -fitH.y;
  const double y = Div(shFit * bvFit + bhFit, 1 - svFit * shFit);
  const double x = Finite(svFit * y + bvFit);
  return VT_Point(x, y);
}

RefineOutcome RefineCrossPoints(const MaskView& mask, const DynamicArray<CrossNode>& nodes,
                                int32_t horizontalLines, const SearchRegion& region,
                                const DetectionParams& params, const StepMarker& marker,
                                VT_Points& FoundPoints, const MaskBounds* occupied) {
  try {
    // The walks down across horizontal lines count their bands in the
    // transposed mask; without the memory for it, in the mask itself.
    std::optional<TransposedMask> rows;
    try {
      rows.emplace(mask, occupied);
    } catch (const std::exception&) {
      rows.reset();
    }
    const TransposedMask* transposed = rows ? &*rows : nullptr;
    for (int32_t k = 0; k < nodes.Length(); ++k) {
      const std::optional<VT_Point> point =
          RefineCrossNode(mask, transposed, nodes, horizontalLines, k, region, params);
      if (!point) continue;
      if (params.Steps) marker(RoundNearest(point->x), RoundNearest(point->y));
      FoundPoints.AddNew(point->x, point->y);
    }
    return RefineOutcome::Complete;
  } catch (const std::exception&) {
    return RefineOutcome::StoppedByError;
  }
}

}  // namespace qova
