#include "binarize/compact_binarization.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "binarize/region_pixels.h"
#include "core/checked_math.h"
#include "core/qova_error.h"
#include "core/simd.h"

namespace qova {

void PixelBits::SetRun(int32_t x, int32_t first, int32_t last) {
  uint64_t* words = words_[x];
  for (int32_t y = first; y <= last;) {
    const int32_t bit = y & 63, n = std::min(64 - bit, last - y + 1);
    const uint64_t ones = n == 64 ? ~uint64_t{0} : ((uint64_t{1} << n) - 1) << bit;
    words[y >> 6] |= ones;
    y += n;
  }
}

void CompactWork::Allocate(int32_t width, int32_t height, bool steps) {
  try {
    BinaryMask.Allocate(width, height);
    Computed.Allocate(width, height);
    WorkBitmap = QImage();
    if (steps) {
      WorkBitmap = QImage(width, height, QImage::Format_Grayscale8);
      if (WorkBitmap.isNull() && width > 0 && height > 0) throw QovaError("Out of memory");
      WorkBitmap.fill(0);
    }
  } catch (...) {
    Release();
    throw;
  }
}

void CompactWork::Release() {
  BinaryMask.Release();
  Computed.Release();
  WorkBitmap = QImage();
}

BoxBounds SumsBox(const SearchRegion& region, int32_t width, int32_t height) {
  const PixelBox m = ClippedBox(region, 1, width, height);
  if (m.Empty()) return {};
  return {m.x0, m.y0, m.x1 + 1, m.y1 + 1};
}

namespace {

// The distance of the pixels a difference reads on either side.
constexpr int32_t kDifferenceStep = 1;

// (r + g + b)/3 of every sum of three 8-bit colours: the brightness as a
// double division, read from a table instead of divided again at each pixel.
const std::array<double, 766>& Brightness() {
  static const std::array<double, 766> table = [] {
    std::array<double, 766> t{};
    for (int s = 0; s < 766; ++s) t[size_t(s)] = static_cast<double>(s) / 3;
    return t;
  }();
  return table;
}

// G of a pixel from the brightness of its neighbours left and right, above
// and below: ((right − left)/2s, (below − above)/2s), its length.
inline double Gradient(double left, double right, double above, double below) {
  constexpr double twoSteps = 2 * kDifferenceStep;
  const double gx = (right - left) / twoSteps;
  const double gy = (below - above) / twoSteps;
  return std::sqrt(gx * gx + gy * gy);
}

// Calls each(y, G) for the pixels first ... last of column x, in growing y,
// with G computed exactly as the whole-image binarization computes it: where
// a neighbour lies outside the image the nearest pixel inside is read. The
// brightness is read from the sums through the table, so that a tall image's
// columns need no buffers of doubles beside them.
template <class Each>
void ForEachGradient(const BrightnessBox& sums, int32_t w, int32_t h, int32_t x, int32_t first,
                     int32_t last, Each each) {
  const std::array<double, 766>& b = Brightness();
  // Each column indexed by y − y0 of the sums' box.
  const size_t y0 = static_cast<size_t>(sums.Bounds().y0);
  const uint16_t* left = sums.Column<uint16_t>(std::max(x - kDifferenceStep, 0));
  const uint16_t* right = sums.Column<uint16_t>(std::min(x + kDifferenceStep, w - 1));
  const uint16_t* centre = sums.Column<uint16_t>(x);
  auto at = [y0](int32_t y) { return static_cast<size_t>(y) - y0; };
  auto one = [&](int32_t y) {
    return Gradient(b[left[at(y)]], b[right[at(y)]],
                    b[centre[at(std::max(y - kDifferenceStep, 0))]],
                    b[centre[at(std::min(y + kDifferenceStep, h - 1))]]);
  };
  int32_t y = first;
  for (; y <= last && y < kDifferenceStep; ++y) each(y, one(y));
  // Two rows at a time where neither needs the nearest-pixel rule.
  const int32_t pairsEnd = std::min(last, h - 1 - kDifferenceStep);
  for (; y + 1 <= pairsEnd; y += 2) {
    const size_t i = at(y);
    const double l[2] = {b[left[i]], b[left[i + 1]]};
    const double r[2] = {b[right[i]], b[right[i + 1]]};
    const double c[3] = {b[centre[i - 1]], b[centre[i]], b[centre[i + 1]]};
    const double d = b[centre[i + 2]];
    const double below[2] = {c[2], d};
    double g[2];
    simd::GradientPair(l, r, c, below, 2 * kDifferenceStep, g);
    each(y, g[0]);
    each(y + 1, g[1]);
  }
  for (; y <= last; ++y) each(y, one(y));
}

void CheckInputs(const BrightnessBox& sums, const SearchRegion& region, const CompactWork& work) {
  const int32_t w = work.Width(), h = work.Height();
  if (!work.BinaryMask.Allocated() || w <= 0 || h <= 0 || sums.ImageWidth() != w ||
      sums.ImageHeight() != h)
    throw QovaError("The working arrays are not allocated for the open image");
  if (sums.Type() != LevelType::kUint16 || sums.Order() != BrightnessBox::Layout::kColumns ||
      !sums.Bounds().Contains(SumsBox(region, w, h)))
    throw QovaError("The brightness kept does not cover the region");
  if (!work.WorkBitmap.isNull() && (work.WorkBitmap.width() != w || work.WorkBitmap.height() != h ||
                                    work.WorkBitmap.format() != QImage::Format_Grayscale8))
    throw QovaError("The gradient picture does not match the open image");
}

}  // namespace

GradientStatistics ComputeGradientStatistics(const BrightnessBox& sums, const SearchRegion& region,
                                             CompactWork& work) {
  CheckInputs(sums, region, work);
  const int32_t w = work.Width(), h = work.Height();
  const PixelBox box = ClippedBox(region, 0, w, h);
  const InteriorColumns interior(region, box);
  const bool picture = !work.WorkBitmap.isNull();
  uchar* bits = picture ? work.WorkBitmap.bits() : nullptr;
  const qsizetype stride = picture ? work.WorkBitmap.bytesPerLine() : 0;

  // MeanGradient's running sum, x outer and y inner.
  double sum = 0;
  for (int32_t x = box.x0; x <= box.x1 && !box.Empty(); ++x)
    for (const InteriorColumns::Span& run : interior.Column(x)) {
      ForEachGradient(sums, w, h, x, run.first, run.last, [&](int32_t y, double g) {
        sum = sum + g;
        if (picture) bits[y * stride + x] = static_cast<uchar>(g);
      });
      work.Computed.SetRun(x, run.first, run.last);
    }
  const int64_t n = interior.PixelCount();
  GradientStatistics statistics;
  // No interior pixel: 0/0, which ends the run.
  statistics.MeanGradient = Div(sum, static_cast<double>(n));
  // The squared deviations in the order of the mean's sum, G computed again.
  double squares = 0;
  const double mean = statistics.MeanGradient;
  for (int32_t x = box.x0; x <= box.x1 && !box.Empty(); ++x)
    for (const InteriorColumns::Span& run : interior.Column(x))
      ForEachGradient(sums, w, h, x, run.first, run.last, [&](int32_t, double g) {
        const double d = g - mean;
        squares = squares + d * d;
      });
  // One interior pixel: 0/0 again; the sample variance needs two.
  statistics.GradientVariance = Div(squares, static_cast<double>(n - 1));
  return statistics;
}

void BinarizeRegion(const BrightnessBox& sums, const SearchRegion& region, int32_t threshold,
                    CompactWork& work) {
  CheckInputs(sums, region, work);
  const int32_t w = work.Width(), h = work.Height();
  const PixelBox box = ClippedBox(region, 0, w, h);
  if (box.Empty()) return;
  // A pixel whose G was never computed holds 0, which exceeds a negative
  // threshold: then every pixel of the box is an edge, whatever its G.
  if (threshold < 0) {
    for (int32_t x = box.x0; x <= box.x1; ++x)
      std::fill(work.BinaryMask[x] + box.y0, work.BinaryMask[x] + box.y1 + 1, uint8_t{1});
    return;
  }
  const double t = threshold;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    uint8_t* mask = work.BinaryMask[x];
    // The runs of pixels whose G was computed, in growing y.
    work.Computed.ForEachRun(x, box.y0, box.y1, [&](int32_t first, int32_t last) {
      ForEachGradient(sums, w, h, x, first, last, [&](int32_t y, double g) {
        if (g > t) mask[y] = 1;
      });
    });
  }
}

}  // namespace qova
