#include "binarize/binarization.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "binarize/region_pixels.h"
#include "core/checked_math.h"
#include "core/qova_error.h"
#include "core/simd.h"
#include "state/qrgb.h"

namespace qova {

namespace {

// The passes whose order is free go tile by tile: the arrays are columns and
// the bitmaps rows, so a whole column or a whole row at a time would touch a
// new page at nearly every pixel of a large image. A 64 × 64 tile keeps both
// within a few dozen pages and a few dozen kilobytes.
constexpr int32_t kTile = 64;

// The distance of the pixels a difference reads on either side.
constexpr int32_t kDifferenceStep = 1;

// Calls tile(x0, x1, y0, y1) for the inclusive tiles covering box.
template <class Tile>
void ForEachTile(const PixelBox& box, Tile tile) {
  for (int32_t tx = box.x0; tx <= box.x1; tx += std::min(kTile, box.x1 - tx + 1))
    for (int32_t ty = box.y0; ty <= box.y1; ty += std::min(kTile, box.y1 - ty + 1))
      tile(tx, std::min(tx + kTile - 1, box.x1), ty, std::min(ty + kTile - 1, box.y1));
}

// BrightnessArray[x][y] = (r + g + b)/3 over the box; each cell on its own.
void FillBrightness(const QImage& image, PixelArray<double>& BrightnessArray, const PixelBox& box) {
  const uchar* source = image.constBits();
  const qsizetype sourceStride = image.bytesPerLine();
  ForEachTile(box, [&](int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    for (int32_t x = x0; x <= x1; ++x) {
      double* cells = BrightnessArray[x];
      for (int32_t y = y0; y <= y1; ++y) {
        const QRgb p = reinterpret_cast<const QRgb*>(source + y * sourceStride)[x];
        cells[y] = static_cast<double>(qRed(p) + qGreen(p) + qBlue(p)) / 3;
      }
    }
  });
}

// Columns of brightness filled at a time before their gradients: a strip of
// a tall image stays within the second-level cache while its columns are read
// again for the differences.
constexpr int32_t kStrip = 32;

// The most columns whose gradients one strip completes: its own and those
// the strip before could not, lacking their right neighbours. The rows of
// the grey buffer are this long.
constexpr int32_t kGreyRow = kStrip + kDifferenceStep;

// G of a pixel from the brightness of its neighbours left and right, above
// and below.
inline double Gradient(double left, double right, double above, double below) {
  constexpr double twoSteps = 2 * kDifferenceStep;
  const double gx = (right - left) / twoSteps;
  const double gy = (below - above) / twoSteps;
  // A sum of squares of brightness differences: never negative, never large.
  return std::sqrt(gx * gx + gy * gy);
}

// G of the interior pixels of column x into GradientArray and, as a grey
// level, into grey at y * kGreyRow, each G added to sum as it is computed: the
// columns come in growing x and each column's runs in growing y, the order of
// the sum, so no pass of its own reads the G back for it.
// Kept out of line: inlined into the strip loop, whose calls the sum lives
// across, the sum got a stack slot and every addition of the chain went
// through memory.
[[gnu::noinline]] double GradientColumn(WorkingArrays& work, int32_t x,
                                        std::span<const InteriorColumns::Span> runs, uchar* grey,
                                        double sum) {
  const int32_t w = work.Width(), h = work.Height();
  // Where the margin falls outside the image the difference reads the
  // nearest pixel inside.
  const double* left = work.BrightnessArray[std::max(x - kDifferenceStep, 0)];
  const double* centre = work.BrightnessArray[x];
  const double* right = work.BrightnessArray[std::min(x + kDifferenceStep, w - 1)];
  double* gradient = work.GradientArray[x];
  // The sum is added outside the lambda: a variable the lambda referred to
  // would need an address, and a byte store to grey may alias any address.
  auto one = [&](int32_t y) {
    const double g = Gradient(left[y], right[y], centre[std::max(y - kDifferenceStep, 0)],
                              centre[std::min(y + kDifferenceStep, h - 1)]);
    grey[static_cast<size_t>(y) * kGreyRow] = static_cast<uchar>(g);
    gradient[y] = g;
    return g;
  };
  for (const InteriorColumns::Span& run : runs) {
    const int32_t last = run.last;
    int32_t y = run.first;
    for (; y <= last && y < kDifferenceStep; ++y) sum = sum + one(y);
    // Two rows at a time where neither needs the nearest-pixel rule, both
    // added to the sum in row order.
    const int32_t pairsEnd = std::min(last, h - 1 - kDifferenceStep);
    for (; y + 1 <= pairsEnd; y += 2) {
      double g[2];
      simd::GradientPair(left + y, right + y, centre + y - kDifferenceStep,
                         centre + y + kDifferenceStep, 2 * kDifferenceStep, g);
      gradient[y] = g[0];
      gradient[y + 1] = g[1];
      grey[static_cast<size_t>(y) * kGreyRow] = static_cast<uchar>(g[0]);
      grey[static_cast<size_t>(y + 1) * kGreyRow] = static_cast<uchar>(g[1]);
      sum = sum + g[0];
      sum = sum + g[1];
    }
    for (; y <= last; ++y) sum = sum + one(y);
  }
  return sum;
}

// Marks a pixel of the grey buffer that is not interior. G is at most
// sqrt(2) * 255 / 2 < 181 (brightness lies in [0, 255]), so no grey level
// is ever this.
constexpr uchar kNoGrey = 255;

// The grey levels of columns x0..x1 (grey holds row y, from x0 on, at
// y * kGreyRow; kNoGrey off the interior) into WorkBitmap, row by row: written
// column by column, every byte would land on a row, and a page, of its own.
void StoreGreyLevels(QImage& WorkBitmap, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                     const uchar* grey) {
  uchar* work = WorkBitmap.bits();
  const qsizetype workStride = WorkBitmap.bytesPerLine();
  const int32_t n = x1 - x0 + 1;
  for (int32_t y = y0; y <= y1; ++y) {
    uchar* row = work + y * workStride + x0;
    const uchar* levels = grey + static_cast<size_t>(y) * kGreyRow;
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) simd::StoreExcept16(levels + i, row + i, kNoGrey);
    for (; i < n; ++i)
      if (levels[i] != kNoGrey) row[i] = levels[i];
  }
}

// The sum of squared deviations from mean, in the order of the mean's sum.
double SquaredDeviations(const PixelArray<double>& GradientArray, const PixelBox& box,
                         const InteriorColumns& interior, double mean) {
  double squares = 0;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const double* gradient = GradientArray[x];
    for (const InteriorColumns::Span& run : interior.Column(x))
      for (int32_t y = run.first; y <= run.last; ++y) {
        const double d = gradient[y] - mean;
        squares = squares + d * d;
      }
  }
  return squares;
}

}  // namespace

GradientStatistics ComputeGradientStatistics(const QImage& source, const SearchRegion& region,
                                             WorkingArrays& work) {
  CheckBinarizationInputs(source, work);
  const int32_t w = work.Width(), h = work.Height();

  // The margin lets every difference read brightness of this call.
  const PixelBox margin = ClippedBox(region, kDifferenceStep, w, h);
  const PixelBox box = ClippedBox(region, 0, w, h);
  const InteriorColumns interior(region, box);

  // Strip by strip from the left: the brightness of a strip, then the
  // gradients of the columns whose right neighbour it completes.
  double sum = 0;  // MeanGradient's running sum, x outer and y inner
  std::vector<uchar> grey(box.Empty() ? 0 : static_cast<size_t>(kGreyRow) * static_cast<size_t>(h));
  int32_t x = box.x0;
  for (int32_t first = margin.x0; first <= margin.x1; first += kStrip) {
    const int32_t last = std::min(first + kStrip - 1, margin.x1);
    FillBrightness(source, work.BrightnessArray, {first, last, margin.y0, margin.y1});
    const int32_t ready = std::min(last == margin.x1 ? last : last - kDifferenceStep, box.x1);
    if (x > ready) continue;
    const int32_t x0 = x;  // at most kGreyRow columns
    std::fill(grey.begin(), grey.end(), kNoGrey);
    for (; x <= ready; ++x)
      sum = GradientColumn(work, x, interior.Column(x), grey.data() + (x - x0), sum);
    StoreGreyLevels(work.WorkBitmap, x0, ready, box.y0, box.y1, grey.data());
  }
  const int64_t n = interior.PixelCount();
  GradientStatistics statistics;
  // No interior pixel: 0/0, which ends the run.
  statistics.MeanGradient = Div(sum, static_cast<double>(n));
  const double squares =
      SquaredDeviations(work.GradientArray, box, interior, statistics.MeanGradient);
  // One interior pixel: 0/0 again; the sample variance needs two.
  statistics.GradientVariance = Div(squares, static_cast<double>(n - 1));
  return statistics;
}

double ComputeThreshold(const PixelArray<double>& GradientArray, const SearchRegion& region,
                        const DetectionParams& params) {
  const int32_t w = GradientArray.Width(), h = GradientArray.Height();
  if (!GradientArray.Allocated() || w <= 0 || h <= 0)
    throw QovaError("The working arrays are not allocated for the open image");
  const PixelBox box = ClippedBox(region, 0, w, h);
  const InteriorTest inside(region, h);

  double n = 0, sum = 0;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const double* gradient = GradientArray[x];
    for (int32_t y = box.y0; y <= box.y1; ++y) {
      if (!inside(x, y)) continue;
      sum = sum + gradient[y];
      n = n + 1;
    }
  }
  GradientStatistics statistics;
  statistics.MeanGradient = Div(sum, n);
  if (params.ThresholdStatistic == 2) {  // only summed where the threshold needs it
    double squares = 0;
    for (int32_t x = box.x0; x <= box.x1; ++x) {
      const double* gradient = GradientArray[x];
      for (int32_t y = box.y0; y <= box.y1; ++y) {
        if (!inside(x, y)) continue;
        const double d = gradient[y] - statistics.MeanGradient;
        squares = squares + d * d;
      }
    }
    statistics.GradientVariance = Div(squares, n - 1);
  }
  return ThresholdOfStatistics(params, statistics);
}

double ThresholdOfStatistics(const DetectionParams& params, const GradientStatistics& statistics) {
  double statistic;
  if (params.ThresholdStatistic == 1)
    statistic = statistics.MeanGradient;
  else if (params.ThresholdStatistic == 2)
    statistic = statistics.GradientVariance;
  else
    throw QovaError("Unknown threshold statistic " + std::to_string(params.ThresholdStatistic));

  const double power = Finite(std::pow(statistic, params.ThresholdPowerExp));
  const double powerTerm = Finite(params.ThresholdPowerCoef * power);
  const double linearTerm = Finite(params.ThresholdLinearCoef * statistic);
  return Finite(Finite(powerTerm + linearTerm) + params.KontrastLevel);
}

void BinarizeRegion(const PixelArray<double>& GradientArray, const SearchRegion& region,
                    int32_t threshold, PixelArray<uint8_t>& BinaryMask) {
  const int32_t w = std::min(GradientArray.Width(), BinaryMask.Width());
  const int32_t h = std::min(GradientArray.Height(), BinaryMask.Height());
  const PixelBox box = ClippedBox(region, 0, w, h);
  const double t = threshold;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const double* gradient = GradientArray[x];
    uint8_t* mask = BinaryMask[x];
    for (int32_t y = box.y0; y <= box.y1; ++y)
      if (gradient[y] > t) mask[y] = 1;
  }
}

QImage BinaryImage(const PixelArray<uint8_t>& mask, const SearchRegion& region, int32_t width,
                   int32_t height) {
  QImage picture(width, height, QImage::Format_RGB32);
  if (picture.isNull()) throw QovaError("Out of memory");
  picture.fill(ToQRgb(kBlack));
  const PixelBox box =
      ClippedBox(region, 0, std::min(width, mask.Width()), std::min(height, mask.Height()));
  uchar* bits = picture.bits();
  const qsizetype stride = picture.bytesPerLine();
  const QRgb white = ToQRgb(kWhite);
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const uint8_t* column = mask[x];
    for (int32_t y = box.y0; y <= box.y1; ++y)
      if (column[y] != 0) reinterpret_cast<QRgb*>(bits + y * stride)[x] = white;
  }
  return picture;
}

}  // namespace qova
