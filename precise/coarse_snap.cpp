#include "precise/coarse_snap.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace qova::precise {

std::optional<double> SnapLine(const GreyView& view, Vec2 c, const LineGeometry& line,
                               double window, const PreciseParams& params) {
  const int reach = std::max(2, static_cast<int>(window * line.spacing));
  if (!(reach < 100000)) return std::nullopt;
  std::vector<double> ink(static_cast<size_t>(2 * reach + 1), 0);
  int rows = 0;
  double rounding = 0;  // Σ (rounded line − line) over the rows
  for (int side : {-1, 1}) {
    const RowSpan span =
        ArmRows(c, line, side, params.snapArmFrom, params.snapArmTo, view.Height());
    for (double yy = span.first; yy <= span.last; yy += params.snapRowStep) {
      const int y = static_cast<int>(yy);
      const double dy = y - c.y;
      const double xk = c.x + line.slope * dy + line.curvature * dy * dy;
      const double x0 = std::floor(xk + 0.5);
      if (!(x0 - reach >= 0 && x0 + reach <= view.Width() - 1)) continue;
      view.AddRun(static_cast<int>(x0) - reach, y, 2 * reach + 1, ink.data());
      rounding += x0 - xk;
      ++rows;
    }
  }
  if (rows < 2) return std::nullopt;
  const int n = 2 * reach + 1;
  std::vector<double> m(ink.size());
  for (int i = 0; i < n; ++i) m[static_cast<size_t>(i)] = ink[static_cast<size_t>(i)] / rows;
  // The trend: the straight line through the means of the two end eighths.
  const int end = std::max(1, n / 8);
  double leftX = 0, leftY = 0, rightX = 0, rightY = 0;
  for (int i = 0; i < end; ++i) {
    leftX += i, leftY += m[static_cast<size_t>(i)];
    rightX += n - 1 - i, rightY += m[static_cast<size_t>(n - 1 - i)];
  }
  leftX /= end, leftY /= end, rightX /= end, rightY /= end;
  const double slope = (rightY - leftY) / (rightX - leftX);
  std::vector<double> flat(m.size());
  for (int i = 0; i < n; ++i)
    flat[static_cast<size_t>(i)] = m[static_cast<size_t>(i)] - (leftY + slope * (i - leftX));
  std::vector<double> smooth(flat.size());
  for (int i = 0; i < n; ++i) {
    const double l = flat[static_cast<size_t>(std::max(0, i - 1))];
    const double r = flat[static_cast<size_t>(std::min(n - 1, i + 1))];
    smooth[static_cast<size_t>(i)] = 0.25 * l + 0.5 * flat[static_cast<size_t>(i)] + 0.25 * r;
  }
  int best = 1;
  for (int i = 2; i < n - 1; ++i)
    if (smooth[static_cast<size_t>(i)] > smooth[static_cast<size_t>(best)]) best = i;
  const double l = smooth[static_cast<size_t>(best - 1)], mid = smooth[static_cast<size_t>(best)],
               r = smooth[static_cast<size_t>(best + 1)];
  if (!(mid > 0)) return std::nullopt;
  const double curve = l - 2 * mid + r;
  const double step = curve < 0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0.0;
  // Bins are offsets from each row's rounded line: back to the line itself.
  return best - reach + step + rounding / rows;
}

std::optional<Vec2> SnapCrossing(const GreyView& vertical, const GreyView& horizontal, Vec2 c,
                                 const LineGeometry& v, const LineGeometry& h, double window,
                                 const PreciseParams& params) {
  const auto dv = SnapLine(vertical, c, v, window, params);
  const auto dh = SnapLine(horizontal, InFrame(c, true), h, window, params);
  if (!dv || !dh) return std::nullopt;
  Intersection move;
  if (!Intersect(*dv, v.slope, 0, *dh, h.slope, 0, move)) return std::nullopt;
  return c + Vec2{move.x, move.y};
}

}  // namespace qova::precise
