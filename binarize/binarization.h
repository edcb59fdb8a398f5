#pragma once
// Brightness statistics, threshold and edge mask of one region or fragment.

#include <QImage>
#include <cstdint>

#include "binarize/working_arrays.h"
#include "core/search_region.h"
#include "state/detection_params.h"

namespace qova {

// The mean and the sample variance of the gradient magnitudes G over a
// region's interior pixels.
struct GradientStatistics {
  double MeanGradient = 0;
  double GradientVariance = 0;
};

// From source (Format_RGB32, the arrays' size) fills BrightnessArray on the
// region's bounding box widened by one pixel, GradientArray and WorkBitmap on
// its interior pixels, and returns their statistics. A region without two
// interior pixels raises (the statistics would be 0/0).
GradientStatistics ComputeGradientStatistics(const QImage& source, const SearchRegion& region,
                                             WorkingArrays& work);

// ThresholdPowerCoef·S^ThresholdPowerExp + ThresholdLinearCoef·S + KontrastLevel,
// S the mean (or the variance) of GradientArray over the interior pixels.
double ComputeThreshold(const PixelArray<double>& GradientArray, const SearchRegion& region,
                        const DetectionParams& params);

// The same threshold from the statistics ComputeGradientStatistics returned
// for the region: those are the very sums ComputeThreshold would add up
// again, in the same order over the same G, so a run that has them skips the
// two passes over the region. Valid while GradientArray holds, on the
// region's interior, what ComputeGradientStatistics wrote there.
double ThresholdOfStatistics(const DetectionParams& params, const GradientStatistics& statistics);

// Sets BinaryMask to 1 on every pixel of the region's bounding box whose
// gradient exceeds threshold; never clears an entry.
void BinarizeRegion(const PixelArray<double>& GradientArray, const SearchRegion& region,
                    int32_t threshold, PixelArray<uint8_t>& BinaryMask);

// Step mode's picture of the mask: black, with the mask's set pixels white
// over the region's bounding box; width × height, Format_RGB32.
QImage BinaryImage(const PixelArray<uint8_t>& mask, const SearchRegion& region, int32_t width,
                   int32_t height);

}  // namespace qova
