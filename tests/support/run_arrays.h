#pragma once
// For tests of the stages: an image opened for a run with the run's working
// arrays, the parameters the stages are called with, and the statistics of
// the last region.

#include <QImage>
#include <cstdint>

#include "binarize/binarization.h"
#include "core/checked_math.h"

namespace qova {

struct RunArrays {
  QImage source;
  WorkingArrays work;
  DetectionParams params;
  GradientStatistics stats;

  explicit RunArrays(const QImage& image) : source(image.convertToFormat(QImage::Format_RGB32)) {
    work.Allocate(source.width(), source.height());
  }

  GradientStatistics Statistics(const SearchRegion& region) {
    return stats = ComputeGradientStatistics(source, region, work);
  }
  double Threshold(const SearchRegion& region) const {
    return ComputeThreshold(work.GradientArray, region, params);
  }
  void BinarizeAt(const SearchRegion& region, int32_t t) {
    BinarizeRegion(work.GradientArray, region, t, work.BinaryMask);
  }
  // Statistics, threshold and mask of one region, as the run calls them.
  int32_t Binarize(const SearchRegion& region) {
    Statistics(region);
    const int32_t t = Trunc(Threshold(region));
    BinarizeAt(region, t);
    return t;
  }

  int MarkedCount() const {
    int count = 0;
    for (int x = 0; x < work.Width(); ++x)
      for (int y = 0; y < work.Height(); ++y) count += work.BinaryMask[x][y];
    return count;
  }
  int WorkGrey(int x, int y) const { return work.WorkBitmap.constScanLine(y)[x]; }
};

}  // namespace qova
