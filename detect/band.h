#pragma once
// The band of a grid line: the edge-mask pixels near a line and near a centre
// point on it, which the scans and the refinement collect, count and fit.
// These are the types every band call shares.

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/data_structures.h"
#include "core/pixel_array.h"

namespace qova {

// π as the nearest double; angles in degrees become (deg·π)/180.
inline constexpr double kPi = 3.14159265358979323846;

// The edge mask a band call reads: cells[x][y] != 0 for an edge pixel, over
// width × height pixels (the image's part of the array).
struct MaskView {
  const PixelArray<uint8_t>& cells;
  int32_t width, height;
};

// The mask of an image of width × height pixels, clipped to the array.
inline MaskView ViewOf(const PixelArray<uint8_t>& mask, int32_t width, int32_t height) {
  return MaskView{mask, std::min(width, mask.Width()), std::min(height, mask.Height())};
}

// One collected mask pixel, as the point a collector appends. Bands are kept
// in a plain vector that is emptied and refilled, so collecting allocates
// nothing per pixel.
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

// The line of a band: y = slope·x + intercept for a horizontal band,
// x = slope·y + intercept for a vertical one.
struct BandLine {
  BandSlope slope;
  double intercept;
};

// Where along its line a band reaches: pixels within maxDistance of the line
// whose foot on it lies within halfLength of the centre.
struct BandWindow {
  VT_Point centre;
  double maxDistance;
  double halfLength;
};

// Which feet a band keeps, seen from the window's centre. A horizontal band
// (the scans from the left and right sides) reaches right or left; a
// vertical one (from the bottom and top sides) up or down.
enum class BandSide : int32_t {
  RightOrUp = 1,   // horizontal: x >= centre.x; vertical: y <= centre.y
  LeftOrDown = 2,  // horizontal: x <= centre.x; vertical: y >= centre.y
  Both = 3,
};

}  // namespace qova
