// The four directional scans. All four are one routine: a window steps along
// a guide side of the region, one pixel of the step coordinate t at a time,
// and lies on a scan line t = s·q + e parallel to the neighbouring side. When
// the window's pixel count jumps up by more than IncreasePorog a band is
// entered; when it drops by more than IncreasePorog the band has been crossed,
// the scan steps back to the band's middle, fits a line through its pixels
// and records where that line meets the perpendicular through the window's
// centre. The table below says how the four scans differ.

#include "detect/scan_sides.h"

#include <cmath>
#include <cstdint>

#include "core/checked_math.h"
#include "core/procedures.h"
#include "detect/band_collectors.h"
#include "detect/line_fit.h"

namespace qova {

namespace {

struct ScanTable {
  bool stepAlongY;  // t = y, q = x (horizontal lines); else t = x, q = y
  int32_t slopeTo;  // the scan lines are parallel to the side from corner 0 to this one
  int32_t guideA;   // guide side: s2 = (A.t − B.t) / (A.q − B.q), b2 = A.t − A.q·s2
  int32_t guideB;
  int32_t start;  // the corner the scan starts at, one step before it
  BandSide side;  // the way the window reaches from its centre
  double sigma;   // direction of the window along the scan line
};

constexpr ScanTable kScan03{true, 1, 0, 3, 0, BandSide::RightOrUp, +1.0};
constexpr ScanTable kScan12{true, 1, 1, 2, 1, BandSide::LeftOrDown, -1.0};
constexpr ScanTable kScan23{false, 3, 2, 3, 3, BandSide::RightOrUp, -1.0};
constexpr ScanTable kScan01{false, 3, 1, 0, 0, BandSide::LeftOrDown, +1.0};

// A corner in the scan's own frame.
struct Frame {
  bool stepAlongY;
  double T(const VT_Point* p) const { return stepAlongY ? p->y : p->x; }
  double Q(const VT_Point* p) const { return stepAlongY ? p->x : p->y; }
};

// The guide side gives the cross coordinate q of each step t:
// q = RoundNearest((t − b2)/s2) on the guide line t = s2·q + b2, or the
// start's q throughout when the guide side is parallel to the t axis.
struct Guide {
  bool fixed;
  double q0, s2, b2;
  double CrossOf(double t) const {
    return fixed ? q0 : static_cast<double>(RoundNearest(Div(t - b2, s2)));
  }
};

Guide GuideOf(const SearchRegion& region, const ScanTable& table, const Frame& f) {
  const VT_Point* guideA = region.Get(table.guideA);
  const VT_Point* guideB = region.Get(table.guideB);
  Guide g{f.Q(guideA) == f.Q(guideB), f.Q(region.Get(table.start)), 0, 0};
  if (!g.fixed) {
    g.s2 = Div(f.T(guideA) - f.T(guideB), f.Q(guideA) - f.Q(guideB));
    g.b2 = f.T(guideA) - f.Q(guideA) * g.s2;
  }
  return g;
}

// The border point of a band whose fitted line is t + A·q + B = 0 (ab =
// (A, B)), for the window at (q, t) on a scan line of the given slope: the
// window's centre, half its length h along the scan line in direction sigma,
// and the point of the fitted line on the perpendicular through it. Returned
// as (x, y).
VT_Point BorderPoint(const VT_Point& ab, double q, double t, double slope, const ScanTable& table,
                     double h) {
  const double a = ab.x, b = ab.y;
  const double mq = q + table.sigma * std::cos(std::atan(slope)) * h;
  const double mt = t + table.sigma * std::sin(std::atan(slope)) * h;
  double borderQ, borderT;
  if (slope != 0) {
    const double p = Finite(std::tan(std::atan(slope) + kPi / 2));
    const double c = mt - p * mq;
    borderQ = Div(c + b, -a - p);
    borderT = Finite(-a * borderQ - b);
  } else {
    borderQ = mq;
    borderT = Finite(-a * mq - b);
  }
  return table.stepAlongY ? VT_Point(borderQ, borderT) : VT_Point(borderT, borderQ);
}

void ScanSide(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
              const StepMarker& marker, const ScanTable& table, VT_Points& output) {
  output.Clear();
  const Frame f{table.stepAlongY};
  const VT_Point* p0 = region.Get(0);
  const VT_Point* pSlope = region.Get(table.slopeTo);
  const double slope = Div(f.T(p0) - f.T(pSlope), f.Q(p0) - f.Q(pSlope));
  const Guide guide = GuideOf(region, table, f);
  double q = f.Q(region.Get(table.start));
  double t = f.T(region.Get(table.start)) - 1;

  const double maxDistance = params.SearchWindowHeight * 0.5;
  const double halfLength = params.SearchWindowWidth;
  const int64_t porog = params.IncreasePorog;
  Band band;
  auto collect = [&] {
    band.clear();
    const BandLine line{slope, t - slope * q};
    if (table.stepAlongY)
      CollectHorizontalBand(mask, table.side, line, {VT_Point(q, t), maxDistance, halfLength},
                            band);
    else
      CollectVerticalBand(mask, table.side, line, {VT_Point(t, q), maxDistance, halfLength}, band);
  };

  int32_t prev = 0;
  bool entered = false, leaving = false;
  int32_t rows = 0;
  const int32_t steps = table.stepAlongY ? mask.height : mask.width;
  for (int32_t step = 0; step < steps; ++step) {
    t = t + 1;
    q = guide.CrossOf(t);
    collect();
    const int64_t delta = static_cast<int64_t>(band.size()) - prev;
    if (delta > porog && !entered) entered = true;
    if (entered) {
      if (delta < -porog) leaving = true;
      if (leaving) {
        // Back to the middle of the band just crossed.
        t = t - (rows - 1) / 2;
        q = guide.CrossOf(t);
        collect();
        const VT_Point point =
            BorderPoint(FitLine(band), q, t, slope, table, params.SearchWindowWidth * 0.5);
        output.AddNew(point.x, point.y);
        if (params.Steps) marker(RoundNearest(point.x), RoundNearest(point.y));
        t = t + 2.0 * params.SearchWindowHeight;
        entered = false;
        leaving = false;
        rows = 0;
      }
      rows = rows + 1;
    }
    prev = static_cast<int32_t>(band.size());
  }
}

}  // namespace

void ScanSide03(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints03) {
  ScanSide(mask, region, params, marker, kScan03, SidePoints03);
}
void ScanSide12(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints12) {
  ScanSide(mask, region, params, marker, kScan12, SidePoints12);
}
void ScanSide23(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints23) {
  ScanSide(mask, region, params, marker, kScan23, SidePoints23);
}
void ScanSide01(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints01) {
  ScanSide(mask, region, params, marker, kScan01, SidePoints01);
}

}  // namespace qova
