#include "detect/plain_band.h"

#include <algorithm>
#include <cmath>

#include "core/checked_math.h"

namespace qova {

Band PlainCollect(const MaskView& mask, bool horizontal, BandSide side, const BandLine& line,
                  const BandWindow& window) {
  const double slope = line.slope.s, e = line.intercept;
  const double c = window.maxDistance, d = window.halfLength;
  const VT_Point& centre = window.centre;
  Band out;
  const double l = d + 2;
  const int32_t i0 = std::max(Trunc(centre.x - l), 0),
                i1 = std::min(Trunc(centre.x + l), mask.width);
  const int32_t j0 = std::max(Trunc(centre.y - l), 0),
                j1 = std::min(Trunc(centre.y + l), mask.height);
  for (int32_t i = i0; i < i1; ++i) {
    for (int32_t j = j0; j < j1; ++j) {
      if (mask.cells[i][j] == 0) continue;
      const double px = i, py = j;
      // The foot (fx, fy) of the perpendicular from the pixel to the line.
      double fx, fy;
      if (horizontal) {
        if (slope != 0) {
          const double p = std::tan(std::atan(slope) + kPi / 2);
          fx = ((py - p * px) - e) / (slope - p);
          fy = slope * fx + e;
        } else {
          fx = px;
          fy = e;
        }
      } else {
        if (slope != 0) {
          const double p = std::tan(std::atan(slope) + kPi / 2);
          fy = ((px - p * py) - e) / (slope - p);
          fx = slope * fy + e;
        } else {
          fy = py;
          fx = e;
        }
      }
      const double E = std::sqrt((px - fx) * (px - fx) + (py - fy) * (py - fy));
      if (horizontal) {
        if (side == BandSide::RightOrUp && centre.x > fx) continue;
        if (side == BandSide::LeftOrDown && centre.x < fx) continue;
      } else {
        if (side == BandSide::RightOrUp && centre.y < fy) continue;
        if (side == BandSide::LeftOrDown && centre.y > fy) continue;
      }
      const double F =
          std::sqrt((centre.x - fx) * (centre.x - fx) + (centre.y - fy) * (centre.y - fy));
      if (E <= c && F <= d) horizontal ? out.push_back({px, py}) : out.push_back({py, px});
    }
  }
  return out;
}

}  // namespace qova
