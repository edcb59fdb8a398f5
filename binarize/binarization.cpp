#include "binarize/binarization.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "binarize/region_pixels.h"
#include "core/checked_math.h"
#include "core/qova_error.h"

namespace qova {

namespace {

// The passes whose order is free go tile by tile: the arrays are columns and
// the bitmaps rows, so a whole column or a whole row at a time would touch a
// new page at nearly every pixel of a large image. A 64 × 64 tile keeps both
// within a few dozen pages and a few dozen kilobytes.
constexpr int32_t kTile = 64;

// Calls tile(x0, x1, y0, y1) for the inclusive tiles covering box.
template <class Tile>
void ForEachTile(const PixelBox& box, Tile tile) {
  for (int32_t tx = box.x0; tx <= box.x1; tx += std::min(kTile, box.x1 - tx + 1))
    for (int32_t ty = box.y0; ty <= box.y1; ty += std::min(kTile, box.y1 - ty + 1))
      tile(tx, std::min(tx + kTile - 1, box.x1), ty, std::min(ty + kTile - 1, box.y1));
}

// BrightnessArray[x][y] = (r + g + b)/3 over the box; each cell on its own.
void FillBrightness(StateRecord& s, const PixelBox& box) {
  const uchar* source = s.SourceBitmap.constBits();
  const qsizetype sourceStride = s.SourceBitmap.bytesPerLine();
  ForEachTile(box, [&](int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    for (int32_t x = x0; x <= x1; ++x) {
      double* cells = s.BrightnessArray[x];
      for (int32_t y = y0; y <= y1; ++y) {
        const QRgb p = reinterpret_cast<const QRgb*>(source + y * sourceStride)[x];
        cells[y] = static_cast<double>(qRed(p) + qGreen(p) + qBlue(p)) / 3;
      }
    }
  });
}

// G of every interior pixel of the box into GradientArray and, as a grey
// level, into WorkBitmap. Each G depends on the brightness alone, so the
// tiles may go in any order; the sums over G keep theirs (see below).
void FillGradient(StateRecord& s, const PixelBox& box, const InteriorTest& inside, int32_t step) {
  const int32_t w = s.ImageWidth, h = s.ImageHeight;
  uchar* work = s.WorkBitmap.bits();
  const qsizetype workStride = s.WorkBitmap.bytesPerLine();
  const double twoSteps = 2 * step;
  ForEachTile(box, [&](int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    for (int32_t x = x0; x <= x1; ++x) {
      // Where the margin falls outside the image the difference reads the
      // nearest pixel inside.
      const double* left = s.BrightnessArray[std::max(x - step, 0)];
      const double* centre = s.BrightnessArray[x];
      const double* right = s.BrightnessArray[std::min(x + step, w - 1)];
      double* gradient = s.GradientArray[x];
      for (int32_t y = y0; y <= y1; ++y) {
        if (!inside(x, y)) continue;
        const double gx = (right[y] - left[y]) / twoSteps;
        const double gy =
            (centre[std::min(y + step, h - 1)] - centre[std::max(y - step, 0)]) / twoSteps;
        // A sum of squares of brightness differences: never negative, never large.
        const double g = std::sqrt(gx * gx + gy * gy);
        work[y * workStride + x] = static_cast<uchar>(g);
        gradient[y] = g;
      }
    }
  });
}

}  // namespace

void ComputeGradientStatistics(StateRecord& s, const SearchRegion& region) {
  CheckBinarizationInputs(s);
  const int32_t w = s.ImageWidth, h = s.ImageHeight;
  s.DifferenceStep = 1;
  const int32_t step = s.DifferenceStep;

  // The margin lets every difference read brightness of this call.
  FillBrightness(s, ClippedBox(region, step, w, h));

  const PixelBox box = ClippedBox(region, 0, w, h);
  const InteriorTest inside(region, h);
  FillGradient(s, box, inside, step);

  // The sums in their own order, x outer and y inner, reading back the G just
  // stored: the same doubles added in the same order as if they were summed
  // where they are computed.
  s.MeanGradient = 0;
  s.GradientVariance = 0;
  double sum = 0;  // MeanGradient's running sum, kept local so it stays in a register
  int64_t n = 0;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const double* gradient = s.GradientArray[x];
    for (int32_t y = box.y0; y <= box.y1; ++y) {
      if (!inside(x, y)) continue;
      sum = sum + gradient[y];
      ++n;
    }
  }
  // No interior pixel: 0/0, which ends the run.
  s.MeanGradient = Div(sum, static_cast<double>(n));

  const double mean = s.MeanGradient;
  double squares = 0;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const double* gradient = s.GradientArray[x];
    for (int32_t y = box.y0; y <= box.y1; ++y) {
      if (!inside(x, y)) continue;
      const double d = gradient[y] - mean;
      squares = squares + d * d;
    }
  }
  // One interior pixel: 0/0 again; the sample variance needs two.
  s.GradientVariance = Div(squares, static_cast<double>(n - 1));
}

double ComputeThreshold(StateRecord& s, const SearchRegion& region) {
  CheckBinarizationInputs(s);
  const PixelBox box = ClippedBox(region, 0, s.ImageWidth, s.ImageHeight);
  const InteriorTest inside(region, s.ImageHeight);

  double n = 0, sum = 0;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const double* gradient = s.GradientArray[x];
    for (int32_t y = box.y0; y <= box.y1; ++y) {
      if (!inside(x, y)) continue;
      sum = sum + gradient[y];
      n = n + 1;
    }
  }
  const double mean = Div(sum, n);

  double variance = 0;  // only summed where the threshold needs it
  if (s.ThresholdStatistic == 2) {
    double squares = 0;
    for (int32_t x = box.x0; x <= box.x1; ++x) {
      const double* gradient = s.GradientArray[x];
      for (int32_t y = box.y0; y <= box.y1; ++y) {
        if (!inside(x, y)) continue;
        const double d = gradient[y] - mean;
        squares = squares + d * d;
      }
    }
    variance = Div(squares, n - 1);
  }
  return ThresholdOfStatistics(s, mean, variance);
}

double ThresholdOfStatistics(const StateRecord& s, double mean, double variance) {
  double statistic;
  if (s.ThresholdStatistic == 1)
    statistic = mean;
  else if (s.ThresholdStatistic == 2)
    statistic = variance;
  else
    throw QovaError("Unknown threshold statistic " + std::to_string(s.ThresholdStatistic));

  const double power = Finite(std::pow(statistic, s.ThresholdPowerExp));
  const double powerTerm = Finite(s.ThresholdPowerCoef * power);
  const double linearTerm = Finite(s.ThresholdLinearCoef * statistic);
  return Finite(Finite(powerTerm + linearTerm) + s.KontrastLevel);
}

void BinarizeRegion(StateRecord& s, const SearchRegion& region, int32_t threshold) {
  CheckBinarizationInputs(s);
  const PixelBox box = ClippedBox(region, 0, s.ImageWidth, s.ImageHeight);
  const double t = threshold;
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const double* gradient = s.GradientArray[x];
    uint8_t* mask = s.BinaryMask[x];
    for (int32_t y = box.y0; y <= box.y1; ++y)
      if (gradient[y] > t) mask[y] = 1;
  }
}

void ShowBinaryImage(StateRecord& s, const PixelArray<uint8_t>& mask, const SearchRegion& region) {
  QImage& picture = s.SourceBitmap;
  if (picture.isNull() || (picture.format() != QImage::Format_RGB32 &&
                           picture.format() != QImage::Format_ARGB32))
    throw QovaError("The source bitmap does not match the open image");
  picture.fill(ToQRgb(kBlack));

  const PixelBox box = ClippedBox(region, 0, std::min(picture.width(), mask.Width()),
                                  std::min(picture.height(), mask.Height()));
  uchar* bits = picture.bits();
  const qsizetype stride = picture.bytesPerLine();
  const QRgb white = ToQRgb(kWhite);
  for (int32_t x = box.x0; x <= box.x1; ++x) {
    const uint8_t* column = mask[x];
    for (int32_t y = box.y0; y <= box.y1; ++y)
      if (column[y] != 0) reinterpret_cast<QRgb*>(bits + y * stride)[x] = white;
  }

  s.Image1 = picture;  // shared: whichever is drawn on next gets pixels of its own
  s.Desktop.Repaint();
}

}  // namespace qova
