#include "precise/line_support.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "precise/numeric.h"

namespace qova::precise {

std::optional<double> SupportHalfWidth(const GreyView& view, std::span<const Vec2> centres,
                                       std::span<const LineGeometry> lines,
                                       const PreciseParams& params) {
  if (centres.empty()) return std::nullopt;
  double spacing = INFINITY;
  for (const LineGeometry& g : lines) spacing = std::min(spacing, g.spacing);
  const double reach = params.supportWindow * spacing;
  if (!(reach >= 1 && reach < 1e5)) return std::nullopt;
  const double bin = params.supportBin;
  const int half = static_cast<int>(std::ceil(reach / bin)) + 1;
  std::vector<double> sum(static_cast<size_t>(2 * half + 1)), count(sum.size()), row;
  for (size_t k = 0; k < centres.size(); ++k) {
    const Vec2 c = centres[k];
    const LineGeometry& g = lines[k];
    const double stretch = std::sqrt(1 + g.slope * g.slope);
    const double perBin = 1 / (stretch * bin);  // bins a pixel along the row
    for (int side : {-1, 1}) {
      const RowSpan rows = ArmRows(c, g, side, params.snapArmFrom, params.snapArmTo, view.Height());
      for (double yy = rows.first; yy <= rows.last; ++yy) {
        const int y = static_cast<int>(yy);
        const double dy = y - c.y;
        const double xk = c.x + g.slope * dy + g.curvature * dy * dy;
        const double x0 = std::ceil(xk - reach * stretch), x1 = std::floor(xk + reach * stretch);
        if (!(x0 >= 0 && x1 <= view.Width() - 1)) continue;
        const int first = static_cast<int>(x0), n = static_cast<int>(x1 - x0) + 1;
        row.resize(static_cast<size_t>(n));
        view.ReadRun(first, y, n, row.data());
        for (int i = 0; i < n; ++i) {
          const int b = static_cast<int>(FloorFast((first + i - xk) * perBin + 0.5)) + half;
          if (b < 0 || b >= static_cast<int>(sum.size())) continue;
          sum[static_cast<size_t>(b)] += row[static_cast<size_t>(i)];
          count[static_cast<size_t>(b)] += 1;
        }
      }
    }
  }
  // Mean per bin; the background is the median of the bins well away from
  // the line.
  std::vector<double> profile(sum.size(), NAN), outside;
  for (size_t b = 0; b < sum.size(); ++b) {
    if (count[b] == 0) continue;
    profile[b] = sum[b] / count[b];
    const double s = (static_cast<int>(b) - half) * bin;
    if (std::fabs(s) > 0.25 * spacing) outside.push_back(profile[b]);
  }
  if (outside.empty()) return std::nullopt;
  const double background = Median(outside);
  int peak = -1;
  for (int b = 0; b < static_cast<int>(profile.size()); ++b) {
    const double s = (b - half) * bin;
    if (std::fabs(s) > 0.25 * spacing || std::isnan(profile[static_cast<size_t>(b)])) continue;
    if (peak < 0 || profile[static_cast<size_t>(b)] > profile[static_cast<size_t>(peak)]) peak = b;
  }
  if (peak < 0) return std::nullopt;
  const double height = profile[static_cast<size_t>(peak)] - background;
  if (!(height > 0)) return std::nullopt;
  // Outward from the peak to the first filled bin below the level (a line on
  // whole pixels fills only every few bins).
  auto below = [&](int b) {
    const double v = profile[static_cast<size_t>(b)];
    return !std::isnan(v) && v - background < params.supportLevel * height;
  };
  int left = peak, right = peak;
  while (left > 0 && !below(left)) --left;
  while (right < static_cast<int>(profile.size()) - 1 && !below(right)) ++right;
  return (right - left) * bin / 2;
}

LineSupport SupportFromHalfWidth(double s, const PreciseParams& params) {
  LineSupport support;
  support.h1 = std::max(params.minHalfWidth, std::ceil(2 * (s + 0.5)) / 2);
  support.h2 = support.h1 + std::max(params.minRing, support.h1 / 2);
  return support;
}

}  // namespace qova::precise
