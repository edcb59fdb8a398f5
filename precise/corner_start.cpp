#include "precise/corner_start.h"

#include <algorithm>
#include <cmath>

namespace qova::precise {
namespace {

// J between pixel centres, bilinear; false outside the image.
bool Bilinear(const GreyView& view, Vec2 p, double& value) {
  const double fx = std::floor(p.x), fy = std::floor(p.y);
  if (!(fx >= 0 && fy >= 0 && fx + 1 <= view.Width() - 1 && fy + 1 <= view.Height() - 1))
    return false;
  const int x = static_cast<int>(fx), y = static_cast<int>(fy);
  const double u = p.x - fx, v = p.y - fy;
  value = (1 - v) * ((1 - u) * view.At(x, y) + u * view.At(x + 1, y)) +
          v * ((1 - u) * view.At(x, y + 1) + u * view.At(x + 1, y + 1));
  return true;
}

// The mean of J along lines of constant u (across = false: of constant v)
// of the region, sampled at n + 1 places; rows spread evenly over the other
// axis. Empty when a place has no sample inside the image.
std::optional<std::vector<double>> Projection(const GreyView& view, const SquareHomography& h,
                                              int n, int m, bool alongV) {
  const int step = std::max(1, m / 512);
  std::vector<double> mean(static_cast<size_t>(n) + 1);
  for (int a = 0; a <= n; ++a) {
    double sum = 0;
    int count = 0;
    for (int b = 0; b <= m; b += step) {
      const double u = static_cast<double>(a) / n, v = static_cast<double>(b) / m;
      double value;
      if (Bilinear(view, alongV ? h.Map(u, v) : h.Map(v, u), value)) sum += value, ++count;
    }
    if (count == 0) return std::nullopt;
    mean[static_cast<size_t>(a)] = sum / count;
  }
  return mean;
}

// Smoothed by [1 1 1]/3 and with its least-squares straight trend removed.
std::vector<double> Flattened(const std::vector<double>& f) {
  const size_t n = f.size();
  std::vector<double> g(n);
  for (size_t i = 0; i < n; ++i) {
    const double l = f[i > 0 ? i - 1 : i], r = f[i + 1 < n ? i + 1 : i];
    g[i] = (l + f[i] + r) / 3;
  }
  double st = 0, sg = 0, stt = 0, stg = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i);
    st += t, sg += g[i], stt += t * t, stg += t * g[i];
  }
  const double nn = static_cast<double>(n), det = nn * stt - st * st;
  const double slope = det > 0 ? (nn * stg - st * sg) / det : 0.0;
  const double offset = (sg - slope * st) / nn;
  for (size_t i = 0; i < n; ++i) g[i] -= offset + slope * static_cast<double>(i);
  return g;
}

// The period: the first local maximum of the autocorrelation at a lag of at
// least minLag reaching half of the highest such maximum.
std::optional<double> Period(const std::vector<double>& g, double minLag) {
  const int n = static_cast<int>(g.size());
  const int maxLag = n / 2;
  std::vector<double> ac(static_cast<size_t>(maxLag) + 2, 0.0);
  for (int lag = 0; lag <= maxLag + 1 && lag < n; ++lag) {
    double s = 0;
    for (int i = 0; i + lag < n; ++i)
      s += g[static_cast<size_t>(i)] * g[static_cast<size_t>(i + lag)];
    ac[static_cast<size_t>(lag)] = s / (n - lag);
  }
  const int first = std::max(1, static_cast<int>(std::ceil(minLag)));
  double highest = 0;
  std::vector<int> peaks;
  for (int lag = first; lag <= maxLag; ++lag) {
    const double a = ac[static_cast<size_t>(lag)];
    if (a >= ac[static_cast<size_t>(lag - 1)] && a > ac[static_cast<size_t>(lag + 1)] && a > 0) {
      peaks.push_back(lag);
      highest = std::max(highest, a);
    }
  }
  for (int lag : peaks) {
    if (ac[static_cast<size_t>(lag)] < 0.5 * highest) continue;
    const double l = ac[static_cast<size_t>(lag - 1)], m = ac[static_cast<size_t>(lag)],
                 r = ac[static_cast<size_t>(lag + 1)];
    const double curve = l - 2 * m + r;
    return lag + (curve < 0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0.0);
  }
  return std::nullopt;
}

// Line k (of `cells` lines, the region's edges in mid-cell) at the highest
// point within half a cell of (k + ½)·N/cells.
std::vector<double> LinePlaces(const std::vector<double>& g, int cells) {
  const int n = static_cast<int>(g.size()) - 1;
  const double cell = static_cast<double>(n) / cells;
  std::vector<double> places;
  for (int k = 0; k < cells; ++k) {
    const double expected = (k + 0.5) * cell;
    const int from = std::max(1, static_cast<int>(std::ceil(expected - cell / 2)));
    const int to = std::min(n - 1, static_cast<int>(std::floor(expected + cell / 2)));
    if (from > to) continue;
    int best = from;
    for (int i = from; i <= to; ++i)
      if (g[static_cast<size_t>(i)] > g[static_cast<size_t>(best)]) best = i;
    const double l = g[static_cast<size_t>(best - 1)], m = g[static_cast<size_t>(best)],
                 r = g[static_cast<size_t>(best + 1)];
    const double curve = l - 2 * m + r;
    places.push_back(best + (curve < 0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0.0));
  }
  return places;
}

}  // namespace

std::optional<std::vector<Vec2>> StartsFromCorners(const GreyView& view, std::span<const Vec2, 4> c,
                                                   const PreciseParams& params,
                                                   CornerStartFailure& why) {
  const auto h = SquareHomography::Onto(c);
  if (!h) {
    why = CornerStartFailure::NotAQuadrilateral;
    return std::nullopt;
  }
  const double nu = std::max(Distance(c[0], c[1]), Distance(c[3], c[2]));
  const double nv = std::max(Distance(c[0], c[3]), Distance(c[1], c[2]));
  if (!(nu >= 8 && nv >= 8) || !(nu <= 60000 && nv <= 60000)) {
    why = CornerStartFailure::RegionSize;
    return std::nullopt;
  }
  const int n = static_cast<int>(std::lround(nu)), m = static_cast<int>(std::lround(nv));
  const auto columns = Projection(view, *h, n, m, true);
  const auto rows = Projection(view, *h, m, n, false);
  if (!columns || !rows) {
    why = CornerStartFailure::OutsideImage;
    return std::nullopt;
  }
  const std::vector<double> gu = Flattened(*columns), gv = Flattened(*rows);
  const auto pu = Period(gu, params.cornerMinLag), pv = Period(gv, params.cornerMinLag);
  if (!pu || !pv) {
    why = CornerStartFailure::NoPeriodicLines;
    return std::nullopt;
  }
  const int cellsU = static_cast<int>(std::lround(n / *pu)),
            cellsV = static_cast<int>(std::lround(m / *pv));
  if (cellsU < 2 || cellsV < 2) {
    why = CornerStartFailure::UnderTwoCells;
    return std::nullopt;
  }
  const std::vector<double> lu = LinePlaces(gu, cellsU), lv = LinePlaces(gv, cellsV);
  std::vector<Vec2> starts;
  for (double a : lu)
    for (double b : lv) starts.push_back(h->Map(a / n, b / m));
  return starts;
}

}  // namespace qova::precise
