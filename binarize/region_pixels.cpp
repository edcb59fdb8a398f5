#include "binarize/region_pixels.h"

#include <algorithm>

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

}  // namespace

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
