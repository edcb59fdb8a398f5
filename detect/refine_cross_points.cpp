// Refinement of every crossing: walk along each guide line across the other
// grid line, collect that line's band of mask pixels near the crossing, fit
// it, and intersect the two fitted lines.

#include <cmath>
#include <cstring>
#include <exception>
#include <optional>

#include "core/checked_math.h"
#include "core/procedures.h"
#include "detect/band_count.h"
#include "detect/grid_lines.h"
#include "detect/line_fit.h"
#include "detect/transposed_mask.h"
#include "editor/markers.h"

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
double CellSize(const StateRecord& s, const NodePixel& at, int32_t before, int32_t after,
                FromCorners fromCorners) {
  if (before >= 0 && after >= 0)
    return Distance(NodeCrossing(s.CrossNodes[before]), NodeCrossing(s.CrossNodes[after])) / 2;
  if (after >= 0) return Distance(at, NodeCrossing(s.CrossNodes[after]));
  if (before >= 0) return Distance(at, NodeCrossing(s.CrossNodes[before]));
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

// The picture layer gets the source image. The markers drawn next need a
// picture of its own: when the layer already owns pixels of the same size
// (the image as opened, before it was read again), they are overwritten in
// place, which costs a copy into memory already in use instead of a whole
// scan's worth of fresh pages; otherwise the picture shares the source until
// the first marker gives it its own.
void ShowSourceImage(StateRecord& s) {
  QImage& picture = s.Image1;
  const QImage& source = s.SourceBitmap;
  if (picture.isDetached() && picture.size() == source.size() &&
      picture.format() == source.format() && picture.bytesPerLine() == source.bytesPerLine() &&
      !source.isNull()) {
    const size_t rowBytes = static_cast<size_t>(source.bytesPerLine());
    for (int y = 0; y < source.height(); ++y)
      std::memcpy(picture.scanLine(y), source.constScanLine(y), rowBytes);
  } else {
    picture = source;
  }
}

}  // namespace

bool RefineCrossPoints(StateRecord& s, int32_t regionIndex) {
  ShowSourceImage(s);
  s.Desktop.Repaint();
  try {
    // The walks down across horizontal lines count their bands in the
    // transposed mask; without the memory for it, in the mask itself.
    std::optional<TransposedMask> rows;
    try {
      rows.emplace(s);
    } catch (const std::exception&) {
      rows.reset();
    }
    auto countHorizontal = [&](const VT_Point& centre, double maxDistance, double halfLength,
                               double intercept, const BandSlope& slope) {
      return rows ? CountHorizontalBand(*rows, 3, centre, maxDistance, halfLength, intercept, slope)
                  : CountHorizontalBand(s, 3, centre, maxDistance, halfLength, intercept, slope);
    };
    Band horizontalBand, verticalBand;
    int32_t prev = 0;
    const int32_t nodes = s.CrossNodes.Length();
    const int32_t nH = s.HorizontalLines.Count();
    const double window = s.SearchWindowHeight * 0.5;
    for (int32_t k = 0; k < nodes; ++k) {
      if (nH == 0) ThrowZeroDivide();  // k mod nH
      const CrossNode node = s.CrossNodes[k];
      const double sv = node.VerticalSlope, bv = node.VerticalOffset;
      const double sh = node.HorizontalSlope, bh = node.HorizontalOffset;
      const NodePixel at = NodeCrossing(node);
      const double x0 = at.x, y0 = at.y;
      const BandSlope horizontalSlope(sh), verticalSlope(sv);  // for every step of the walks

      // Neighbours in the layout vertical line by vertical line; -1 for none.
      const int32_t nextColumn = k + nH < nodes ? k + nH : -1;  // C
      const int32_t prevColumn = k - nH >= 0 ? k - nH : -1;     // E
      const int32_t prevRow = k % nH == 0 ? -1 : k - 1;         // F
      const int32_t nextRow = (k + 1) % nH == 0 ? -1 : k + 1;   // G

      auto region = [&]() -> const SearchRegion& { return *s.Regions[regionIndex]; };
      const double b = CellSize(s, at, prevColumn, nextColumn, [&] {
        return (SideLength(region(), 0, 1) + SideLength(region(), 3, 2)) / 2;
      });
      const double J = b * s.CrossWindowWidth;
      const double c = CellSize(s, at, prevRow, nextRow, [&] {
        return (SideLength(region(), 0, 3) + SideLength(region(), 1, 2)) / 2;
      });
      const double M = c * s.CrossWindowWidth;

      // Up the vertical guide line to half a cell height above the crossing.
      double ptX = x0, ptY = y0;
      double e;
      do {
        ptY = ptY - 1;
        ptX = sv * ptY + bv;
        e = Distance(ptX, ptY, x0, y0);
      } while (Div(M, 2 * s.CrossWindowWidth) > e);

      // Down across the horizontal line.
      double w = 0;
      CrossBand(
          horizontalBand, prev, s.CrossIncreasePorog * J, s.ImageHeight,
          [&](double d) {
            ptY = ptY + d;
            ptX = sv * ptY + bv;
            w = ptY - sh * ptX;
          },
          [&](double maxDistance) {
            return countHorizontal(VT_Point(ptX, ptY), maxDistance, J, w, horizontalSlope);
          },
          [&](double maxDistance, int32_t steps) {
            double yEnd = ptY;  // where steps − 1 more moves take the point
            for (int32_t t = 1; t < steps; ++t) yEnd = yEnd + 1;
            const double xEnd = sv * yEnd + bv;
            const CoveringBand c =
                Covering(ptX, ptY, w, xEnd, yEnd, yEnd - sh * xEnd, maxDistance, J);
            return CoveringCount([&] {
              return countHorizontal(c.centre, c.maxDistance, c.halfLength, c.intercept,
                                     horizontalSlope);
            });
          },
          [&](double maxDistance) {
            CollectHorizontalBand(s, 3, horizontalBand, VT_Point(ptX, ptY), maxDistance, J, w, sh);
          },
          [&] { return ptY; }, window);

      // Left along the horizontal guide line to half a cell width.
      ptX = x0;
      do {
        ptX = ptX - 1;
        ptY = sh * ptX + bh;
        e = Distance(ptX, ptY, x0, y0);
      } while (Div(J, 2 * s.CrossWindowWidth) > e);

      // Right across the vertical line.
      double u = 0;
      CrossBand(
          verticalBand, prev, s.CrossIncreasePorog * M, s.ImageWidth,
          [&](double d) {
            ptX = ptX + d;
            ptY = sh * ptX + bh;
            u = ptX - sv * ptY;
          },
          [&](double maxDistance) {
            return CountVerticalBand(s, 3, VT_Point(ptX, ptY), maxDistance, M, u, verticalSlope);
          },
          [&](double maxDistance, int32_t steps) {
            double xEnd = ptX;  // where steps − 1 more moves take the point
            for (int32_t t = 1; t < steps; ++t) xEnd = xEnd + 1;
            const double yEnd = sh * xEnd + bh;
            const CoveringBand c =
                Covering(ptX, ptY, u, xEnd, yEnd, xEnd - sv * yEnd, maxDistance, M);
            return CoveringCount([&] {
              return CountVerticalBand(s, 3, c.centre, c.maxDistance, c.halfLength, c.intercept,
                                       verticalSlope);
            });
          },
          [&](double maxDistance) {
            CollectVerticalBand(s, 3, verticalBand, VT_Point(ptX, ptY), maxDistance, M, u, sv);
          },
          [&] { return ptX; }, window);

      if (!(static_cast<double>(verticalBand.size()) > 1.6 * M &&
            static_cast<double>(horizontalBand.size()) > 1.6 * J))
        continue;

      // The vertical band is stored (y, x): its fit is x = sv'·y + bv'.
      const VT_Point fitV = FitLine(verticalBand);
      const double svFit = -fitV.x, bvFit = -fitV.y;
      const VT_Point fitH = FitLine(horizontalBand);
      const double shFit = -fitH.x, bhFit = -fitH.y;
      const double y = Div(shFit * bvFit + bhFit, 1 - svFit * shFit);
      const double x = Finite(svFit * y + bvFit);
      if (s.Steps) {
        DrawPictureMarker(s, s.PassiveColor, RoundNearest(x), RoundNearest(y));
        s.Desktop.Repaint();
      }
      s.FoundPoints.AddNew(x, y);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace qova
