#pragma once
// The least-squares line fit and the band collectors shared by the scans and
// the refinement.

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "state/state_record.h"

namespace qova {

// π as the nearest double; angles in degrees become (deg·π)/180.
inline constexpr double kPi = 3.14159265358979323846;

// One collected mask pixel, as the point the collector appends. The scans and
// the refinement keep their bands in a plain vector that is emptied and
// refilled, so collecting allocates nothing per pixel; the VT_Points forms
// below append the very same points in the very same order.
struct BandPixel {
  double x;
  double y;
};
using Band = std::vector<BandPixel>;

// The slope of a band's line with the slope of its perpendiculars,
// tan(atan(s) + π/2), and the other values of s alone a band call needs:
// the tangent and the roots are the dearest part of a small call. A walk
// makes one per line and passes it to every step; a plain slope converts to
// it. The perpendicular is checked where a call uses it, as when computed
// there.
struct BandSlope {
  BandSlope(double slope)  // NOLINT(google-explicit-constructor): a slope is a band slope
      : s(slope),
        p(slope != 0 ? std::tan(std::atan(slope) + kPi / 2) : 0),
        n2(1 + slope * slope),
        k(std::sqrt(n2)),
        invK(1 / k),
        invN2(1 / n2),
        invS(slope != 0 ? 1 / slope : 0) {}
  double s;
  double p;
  double n2;    // 1 + s²
  double k;     // √(1 + s²)
  double invK;  // their reciprocals, and that of s (0 for s = 0)
  double invN2;
  double invS;
};

// Ordinary least squares of v on u over the points (u = x, v = y): the line
// v + A·u + B = 0, returned as the point (A, B).
VT_Point FitLine(const VT_Points& points);
VT_Point FitLine(std::span<const BandPixel> points);

// Appends to target every set BinaryMask pixel (i, j) within maxDistance of
// the line y = slope·x + intercept whose foot lies within halfLength of the
// centre; side 1 keeps feet at x >= centre.x, side 2 at x <= centre.x, any
// other code both. Pixels are appended as (i, j), column by column.
void CollectHorizontalBand(const StateRecord& s, int32_t side, VT_Points& target,
                           const VT_Point& centre, double maxDistance, double halfLength,
                           double intercept, double slope);
void CollectHorizontalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                           double maxDistance, double halfLength, double intercept, double slope);

// The same for the line x = slope·y + intercept; side 1 keeps feet at
// y <= centre.y, side 2 at y >= centre.y. Pixels are appended as (j, i).
void CollectVerticalBand(const StateRecord& s, int32_t side, VT_Points& target,
                         const VT_Point& centre, double maxDistance, double halfLength,
                         double intercept, double slope);
void CollectVerticalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                         double maxDistance, double halfLength, double intercept, double slope);

}  // namespace qova
