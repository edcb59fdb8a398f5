#include "detect/line_fit.h"

#include "core/checked_math.h"

namespace qova {

namespace {

// A = (Su·Sv − n·Suv) / (n·Suu − Su²), B = (−Sv − A·Su) / n, the sums taken
// in list order. Fewer than two distinct u (an empty band included) leave
// the denominator 0, which raises.
template <class Points, class At>
VT_Point FitLineOver(const Points& points, int32_t n, At at) {
  double sumU = 0, sumV = 0, sumUV = 0, sumUU = 0;
  for (int32_t k = 0; k < n; ++k) {
    const auto [u, v] = at(points, k);
    sumU = sumU + u;
    sumV = sumV + v;
    sumUV = sumUV + u * v;
    sumUU = sumUU + u * u;
  }
  const double count = n;
  const double a = Div(sumU * sumV - count * sumUV, count * sumUU - sumU * sumU);
  const double b = Div(-sumV - a * sumU, count);
  return VT_Point(a, b);
}

}  // namespace

VT_Point FitLine(const VT_Points& points) {
  return FitLineOver(points, points.Count(), [](const VT_Points& p, int32_t k) {
    const VT_Point* q = p.Get(k);
    return std::pair<double, double>(q->x, q->y);
  });
}

VT_Point FitLine(std::span<const BandPixel> points) {
  return FitLineOver(points, static_cast<int32_t>(points.size()),
                     [](std::span<const BandPixel> p, int32_t k) {
                       const BandPixel& q = p[static_cast<size_t>(k)];
                       return std::pair<double, double>(q.x, q.y);
                     });
}

}  // namespace qova
