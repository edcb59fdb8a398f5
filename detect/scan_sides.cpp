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
#include "detect/line_fit.h"
#include "editor/markers.h"

namespace qova {

namespace {

struct ScanTable {
  bool stepAlongY;  // t = y, q = x (horizontal lines); else t = x, q = y
  int32_t slopeTo;  // the scan lines are parallel to the side from corner 0 to this one
  int32_t guideA;   // guide side: s2 = (A.t − B.t) / (A.q − B.q), b2 = A.t − A.q·s2
  int32_t guideB;
  int32_t start;  // the corner the scan starts at, one step before it
  int32_t side;   // side code of the collector
  double sigma;   // direction of the window along the scan line
  VT_Points StateRecord::*output;
};

constexpr ScanTable kScan03{true, 1, 0, 3, 0, 1, +1.0, &StateRecord::SidePoints03};
constexpr ScanTable kScan12{true, 1, 1, 2, 1, 2, -1.0, &StateRecord::SidePoints12};
constexpr ScanTable kScan23{false, 3, 2, 3, 3, 1, -1.0, &StateRecord::SidePoints23};
constexpr ScanTable kScan01{false, 3, 1, 0, 0, 2, +1.0, &StateRecord::SidePoints01};

// A corner in the scan's own frame.
struct Frame {
  bool stepAlongY;
  double T(const VT_Point* p) const { return stepAlongY ? p->y : p->x; }
  double Q(const VT_Point* p) const { return stepAlongY ? p->x : p->y; }
};

void ScanSide(StateRecord& s, int32_t regionIndex, const ScanTable& table) {
  VT_Points& output = s.*table.output;
  output.Clear();
  const SearchRegion& region = *s.Regions[regionIndex];
  const Frame f{table.stepAlongY};

  int32_t prev = 0;
  bool entered = false, leaving = false;
  int32_t rows = 0;

  const VT_Point* p0 = region.Get(0);
  const VT_Point* pSlope = region.Get(table.slopeTo);
  const double slope = Div(f.T(p0) - f.T(pSlope), f.Q(p0) - f.Q(pSlope));

  const VT_Point* guideA = region.Get(table.guideA);
  const VT_Point* guideB = region.Get(table.guideB);
  const bool guideFixed = f.Q(guideA) == f.Q(guideB);
  double s2 = 0, b2 = 0;
  if (!guideFixed) {
    s2 = Div(f.T(guideA) - f.T(guideB), f.Q(guideA) - f.Q(guideB));
    b2 = f.T(guideA) - f.Q(guideA) * s2;
  }

  const VT_Point* start = region.Get(table.start);
  double q = f.Q(start);
  double t = f.T(start) - 1;

  const double maxDistance = s.SearchWindowHeight * 0.5;
  const double halfLength = s.SearchWindowWidth;
  const double h = s.SearchWindowWidth * 0.5;
  const int64_t porog = s.IncreasePorog;

  Band band;
  // The guide line gives the cross coordinate of each step.
  auto crossOf = [&](double stepT) {
    return guideFixed ? q : static_cast<double>(RoundNearest(Div(stepT - b2, s2)));
  };
  auto collect = [&] {
    const double e = t - slope * q;
    if (table.stepAlongY)
      CollectHorizontalBand(s, table.side, band, VT_Point(q, t), maxDistance, halfLength, e, slope);
    else
      CollectVerticalBand(s, table.side, band, VT_Point(t, q), maxDistance, halfLength, e, slope);
  };

  const int32_t steps = table.stepAlongY ? s.ImageHeight : s.ImageWidth;
  for (int32_t step = 0; step < steps; ++step) {
    band.clear();
    t = t + 1;
    q = crossOf(t);
    collect();
    const int64_t delta = static_cast<int64_t>(band.size()) - prev;
    if (delta > porog && !entered) entered = true;
    if (entered) {
      if (delta < -porog) leaving = true;
      if (leaving) {
        // Back to the middle of the band just crossed.
        band.clear();
        t = t - (rows - 1) / 2;
        q = crossOf(t);
        collect();
        const VT_Point ab = FitLine(band);
        const double a = ab.x, b = ab.y;
        // The window centre, and the point of t = −A·q − B on the
        // perpendicular to the scan line through it.
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
        const double x = table.stepAlongY ? borderQ : borderT;
        const double y = table.stepAlongY ? borderT : borderQ;
        output.AddNew(x, y);
        if (s.Steps) {
          DrawPictureMarker(s, s.PassiveColor, RoundNearest(x), RoundNearest(y));
          s.Desktop.Repaint();  // so that each border point shows as soon as it is found
        }
        t = t + 2.0 * s.SearchWindowHeight;
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

void ScanSide03(StateRecord& s, int32_t regionIndex) { ScanSide(s, regionIndex, kScan03); }
void ScanSide12(StateRecord& s, int32_t regionIndex) { ScanSide(s, regionIndex, kScan12); }
void ScanSide23(StateRecord& s, int32_t regionIndex) { ScanSide(s, regionIndex, kScan23); }
void ScanSide01(StateRecord& s, int32_t regionIndex) { ScanSide(s, regionIndex, kScan01); }

}  // namespace qova
