#pragma once
// Brightness statistics, threshold and edge mask of one region or fragment.

#include <cstdint>

#include "app/state/state_record.h"

namespace qova {

// Fills BrightnessArray on the bounding box widened by one pixel,
// GradientArray and WorkBitmap on the interior pixels, and sets
// DifferenceStep, MeanGradient and GradientVariance.
void ComputeGradientStatistics(StateRecord& s, const SearchRegion& region);

// ThresholdPowerCoef·S^ThresholdPowerExp + ThresholdLinearCoef·S + KontrastLevel,
// S the mean (or the variance) of GradientArray over the interior pixels.
double ComputeThreshold(StateRecord& s, const SearchRegion& region);

// Sets BinaryMask to 1 on every pixel of the bounding box whose gradient
// exceeds threshold; never clears an entry.
void BinarizeRegion(StateRecord& s, const SearchRegion& region, int32_t threshold);

// Step mode: paints the mask over the region's box into SourceBitmap (black
// elsewhere) and shows it in the picture layer.
void ShowBinaryImage(StateRecord& s, const PixelArray<uint8_t>& mask, const SearchRegion& region);

}  // namespace qova
