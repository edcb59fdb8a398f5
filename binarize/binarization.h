#pragma once
// Brightness statistics, threshold and edge mask of one region or fragment.

#include <cstdint>

#include "state/state_record.h"

namespace qova {

// Fills BrightnessArray on the bounding box widened by one pixel,
// GradientArray and WorkBitmap on the interior pixels, and sets
// DifferenceStep, MeanGradient and GradientVariance.
void ComputeGradientStatistics(StateRecord& s, const SearchRegion& region);

// ThresholdPowerCoef·S^ThresholdPowerExp + ThresholdLinearCoef·S + KontrastLevel,
// S the mean (or the variance) of GradientArray over the interior pixels.
double ComputeThreshold(StateRecord& s, const SearchRegion& region);

// The same threshold from the mean and variance ComputeGradientStatistics
// left for the region: those are the very sums ComputeThreshold would add up
// again, in the same order over the same G, so a run that has them skips the
// two passes over the region. Valid while GradientArray holds, on the
// region's interior, what ComputeGradientStatistics wrote there.
double ThresholdOfStatistics(const StateRecord& s, double mean, double variance);

// Sets BinaryMask to 1 on every pixel of the bounding box whose gradient
// exceeds threshold; never clears an entry.
void BinarizeRegion(StateRecord& s, const SearchRegion& region, int32_t threshold);

// Step mode: paints the mask over the region's box into SourceBitmap (black
// elsewhere) and shows it in the picture layer.
void ShowBinaryImage(StateRecord& s, const PixelArray<uint8_t>& mask, const SearchRegion& region);

}  // namespace qova
