#include "binarize/region_pixels.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "core/qova_error.h"

namespace qova {

namespace {

// [lo, hi] intersected with [0, size - 1]; 64-bit so that a box edge near the
// int limits cannot overflow when widened.
void Clip(int64_t lo, int64_t hi, int32_t size, int32_t* first, int32_t* last) {
  *first = static_cast<int32_t>(std::max<int64_t>(lo, 0));
  *last = static_cast<int32_t>(std::min<int64_t>(hi, int64_t{size} - 1));
}

bool Is32BitRgb(const QImage& image) {
  return image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
}

// For edge i and row y: whether the ray of a pixel in row y can cross the
// edge, and if so the greatest whole x for which it does. The same steps as
// PointInRegion, so that the answers agree on every pixel: the endpoint with
// the greater y counts when x < its x, a crossing when x <= its x. A bound
// that is not a number counts for no x, as the comparison it stands for.
bool CrossingBound(const SearchRegion& region, int32_t i, double y, int32_t* bound) {
  const int32_t n = region.Count();
  const VT_Point* pi = region.Get(i);
  const VT_Point* pj = region.Get((i + 1) % n);
  const double yi = pi->y, yj = pj->y;
  if (yi == yj) return false;
  if (y < yi && y < yj) return false;
  if (y > yi && y > yj) return false;
  double b;
  if (y == std::max(yi, yj)) {
    b = std::ceil(yi > yj ? pi->x : pj->x) - 1.0;
  } else {
    if (y == std::min(yi, yj)) return false;
    const double t = (y - yi) / (yj - yi);
    b = std::floor(pi->x + (pj->x - pi->x) * t);
  }
  if (std::isnan(b)) return false;
  *bound = static_cast<int32_t>(std::clamp(b, -2147483647.0, 2147483646.0));
  return true;
}

using Span = InteriorColumns::Span;

// The interior runs of row y within [x0, x1], in growing x. A pixel is inside
// when an odd number of edges count for it, that is have a bound >= x: from
// the greatest bound down, (b1, b0] is inside, (b2, b1] outside, and so on.
void RowSpans(const SearchRegion& region, int32_t y, int32_t x0, int32_t x1,
              std::vector<int32_t>& bounds, std::vector<Span>& row) {
  bounds.clear();
  row.clear();
  for (int32_t i = 0; i < region.Count(); ++i) {
    int32_t b;
    if (CrossingBound(region, i, y, &b)) bounds.push_back(b);
  }
  std::sort(bounds.begin(), bounds.end(), std::greater<int32_t>());
  for (size_t k = 0; k < bounds.size(); k += 2) {
    const int32_t last = std::min(bounds[k], x1);
    const int32_t first = std::max(k + 1 < bounds.size() ? bounds[k + 1] + 1 : INT32_MIN, x0);
    if (first <= last) row.push_back({first, last});
  }
  std::reverse(row.begin(), row.end());
}

// Calls f(first, last) for the runs of the pixels of a that are not in b;
// both in growing x, each without overlaps.
template <class F>
void ForEachDifference(const std::vector<Span>& a, const std::vector<Span>& b, F f) {
  size_t j = 0;
  for (const Span& s : a) {
    int32_t from = s.first;
    while (j < b.size() && b[j].last < from) ++j;
    for (size_t k = j; k < b.size() && b[k].first <= s.last && from <= s.last; ++k) {
      if (b[k].first > from) f(from, b[k].first - 1);
      from = std::max(from, b[k].last + 1);
    }
    if (from <= s.last) f(from, s.last);
  }
}

}  // namespace

InteriorColumns::InteriorColumns(const SearchRegion& region, const PixelBox& box)
    : x0_(box.x0) {
  // Every column of the box has its (possibly empty) list, also when the
  // box has no rows.
  const size_t width = box.x0 > box.x1 ? 0 : static_cast<size_t>(box.x1 - box.x0) + 1;
  columnStart_.assign(width + 1, 0);
  if (box.Empty()) return;

  // From row to row only the pixels where the inside answer changes open or
  // close a column's run, so the work follows the region's outline rather
  // than its area.
  struct Run {
    int32_t x, first, last;
  };
  std::vector<Run> runs;
  std::vector<int32_t> openedAt(width), bounds;
  std::vector<Span> previous, current;
  auto open = [&](int32_t y) {
    return [&, y](int32_t first, int32_t last) {
      for (int32_t x = first; x <= last; ++x) openedAt[static_cast<size_t>(x - box.x0)] = y;
    };
  };
  auto close = [&](int32_t y) {
    return [&, y](int32_t first, int32_t last) {
      for (int32_t x = first; x <= last; ++x)
        runs.push_back({x, openedAt[static_cast<size_t>(x - box.x0)], y - 1});
    };
  };
  for (int32_t y = box.y0; y <= box.y1; ++y) {
    RowSpans(region, y, box.x0, box.x1, bounds, current);
    ForEachDifference(previous, current, close(y));
    ForEachDifference(current, previous, open(y));
    std::swap(previous, current);
  }
  ForEachDifference(previous, {}, close(box.y1 + 1));

  // Grouped by column; each column's runs were closed in growing y.
  for (const Run& r : runs) ++columnStart_[static_cast<size_t>(r.x - box.x0) + 1];
  for (size_t c = 0; c < width; ++c) columnStart_[c + 1] += columnStart_[c];
  spans_.resize(runs.size());
  std::vector<uint32_t> next(columnStart_.begin(), columnStart_.end() - 1);
  for (const Run& r : runs) {
    spans_[next[static_cast<size_t>(r.x - box.x0)]++] = {r.first, r.last};
    pixels_ += int64_t{r.last} - r.first + 1;
  }
}

PixelBox ClippedBox(const SearchRegion& region, int32_t margin, int32_t width, int32_t height) {
  PixelBox box;
  Clip(int64_t{RegionMinX(region)} - margin, int64_t{RegionMaxX(region)} + margin, width, &box.x0,
       &box.x1);
  Clip(int64_t{RegionMinY(region)} - margin, int64_t{RegionMaxY(region)} + margin, height, &box.y0,
       &box.y1);
  return box;
}

InteriorTest::InteriorTest(const SearchRegion& region, int32_t imageHeight) : region_(region) {
  const int64_t rows = int64_t{RegionMaxY(region)} - RegionMinY(region) + 1;
  if (rows <= 2 * int64_t{imageHeight} + 2) rows_.emplace(region);
}

void CheckBinarizationInputs(const StateRecord& s) {
  const int32_t w = s.ImageWidth, h = s.ImageHeight;
  auto sized = [&](const auto& a) { return a.Allocated() && a.Width() == w && a.Height() == h; };
  if (!s.ArraysAllocated || w <= 0 || h <= 0 || !sized(s.BrightnessArray) ||
      !sized(s.GradientArray) || !sized(s.BinaryMask))
    throw QovaError("The working arrays are not allocated for the open image");
  if (s.SourceBitmap.width() != w || s.SourceBitmap.height() != h || !Is32BitRgb(s.SourceBitmap))
    throw QovaError("The source bitmap does not match the open image");
  if (s.WorkBitmap.width() != w || s.WorkBitmap.height() != h ||
      s.WorkBitmap.format() != QImage::Format_Grayscale8)
    throw QovaError("The gradient bitmap does not match the open image");
}

}  // namespace qova
