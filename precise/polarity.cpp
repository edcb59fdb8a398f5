#include "precise/polarity.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace qova::precise {
namespace {

// Rows counted: all of them up to about a million pixels in the region,
// then every k-th (a million pixels fix the percentiles to a fraction of a
// grey level).
int RowStep(const Region& region) {
  const double area = region.Area();
  return std::max(1, static_cast<int>(area / 1e6));
}

// The grey level (r + g + b)/3 below which a share q of the counts lies.
double Percentile(const std::array<long, 766>& histogram, long total, double q) {
  const double wanted = q * static_cast<double>(total);
  long running = 0;
  for (int s = 0; s < 766; ++s) {
    running += histogram[static_cast<size_t>(s)];
    if (static_cast<double>(running) >= wanted) return s / 3.0;
  }
  return 255;
}

}  // namespace

std::optional<Polarity> MeasurePolarity(const GreyView& view, double black, const Region& region) {
  std::array<long, 766> histogram{};
  long total = 0;
  const int w = view.Width(), h = view.Height();
  // J in thirds of a grey level above black: J itself for 8-bit images.
  const double thirds = kThirds / view.GreyLevel();
  std::vector<double> row;
  double top = h, bottom = -1;
  for (const Vec2& c : region.Corners()) top = std::min(top, c.y), bottom = std::max(bottom, c.y);
  const int yFrom = std::max(0, static_cast<int>(std::ceil(std::max(top, -1.0))));
  const int yTo = std::min(h - 1, static_cast<int>(std::floor(std::min(bottom, double(h)))));
  const int step = RowStep(region);
  for (int y = yFrom; y <= yTo; y += step) {
    for (const auto& [from, to] : region.RowSpans(y)) {
      const int x0 = std::max(0, static_cast<int>(std::floor(std::max(from, -1.0))) + 1);
      const int x1 = std::min(w - 1, static_cast<int>(std::ceil(std::min(to, double(w)))) - 1);
      if (x1 < x0) continue;
      row.resize(static_cast<size_t>(x1 - x0 + 1));
      view.ReadRun(x0, y, x1 - x0 + 1, row.data());
      for (const double j : row) {
        const double bin = std::floor((j - black) * thirds + 0.5);
        ++histogram[static_cast<size_t>(bin > 765 ? 765 : bin >= 0 ? bin : 0)];
        ++total;
      }
    }
  }
  if (total == 0) return std::nullopt;
  Polarity p;
  p.p2 = Percentile(histogram, total, 0.02);
  p.p50 = Percentile(histogram, total, 0.50);
  p.p98 = Percentile(histogram, total, 0.98);
  p.linesDark = p.p50 - p.p2 > p.p98 - p.p50;
  p.pixels = total;
  return p;
}

}  // namespace qova::precise
