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

using Span = InteriorColumns::Span;

// The interior runs of row y within [x0, x1], in growing x.
void RowSpans(const SearchRegion& region, int32_t y, int32_t x0, int32_t x1,
              std::vector<int32_t>& bounds, std::vector<Span>& row) {
  InteriorRowRuns(region, y, bounds, row);
  size_t kept = 0;
  for (const Span& s : row) {
    const Span clipped{std::max(s.first, x0), std::min(s.last, x1)};
    if (clipped.first <= clipped.last) row[kept++] = clipped;
  }
  row.resize(kept);
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

InteriorColumns::InteriorColumns(const SearchRegion& region, const PixelBox& box) : x0_(box.x0) {
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

void CheckBinarizationInputs(const QImage& source, const WorkingArrays& work) {
  const int32_t w = work.Width(), h = work.Height();
  auto sized = [&](const auto& a) { return a.Allocated() && a.Width() == w && a.Height() == h; };
  if (w <= 0 || h <= 0 || !sized(work.BrightnessArray) || !sized(work.GradientArray) ||
      !sized(work.BinaryMask))
    throw QovaError("The working arrays are not allocated for the open image");
  if (source.width() != w || source.height() != h || !Is32BitRgb(source))
    throw QovaError("The source bitmap does not match the open image");
  if (work.WorkBitmap.width() != w || work.WorkBitmap.height() != h ||
      work.WorkBitmap.format() != QImage::Format_Grayscale8)
    throw QovaError("The gradient bitmap does not match the open image");
}

}  // namespace qova
