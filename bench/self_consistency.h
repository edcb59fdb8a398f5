#pragma once
// How well a set of crossings of a real plate agrees with itself, without
// any ground truth: each crossing with at least 12 of the 24 others of its
// 5 × 5 index neighbourhood is predicted from them by a local quadratic in
// the index offsets, leaving itself out; the figure is the RMS of those
// prediction errors. The local quadratic absorbs any smooth distortion, so
// what remains is the measurement's scatter plus the plate's irregularity
// at the scale of a cell: on one plate, smaller is a better measurement.
// Also the RMS about one cubic over the whole lattice, and the pairs closer
// than a quarter pitch (duplicates).

#include <optional>
#include <span>

#include "precise/geometry.h"

namespace qova {

struct SelfConsistency {
  int points = 0;          // crossings given
  int indexed = 0;         // of them, placed on the lattice
  int duplicates = 0;      // pairs closer than a quarter pitch
  int predicted = 0;       // crossings with enough neighbours to be predicted
  double leaveOut = 0;     // RMS of the leave-one-out predictions, pixels
  double globalCubic = 0;  // RMS about one cubic in the index over the lattice, pixels
};

// Empty for fewer than 10 points or no lattice.
std::optional<SelfConsistency> MeasureSelfConsistency(std::span<const precise::Vec2> points);

}  // namespace qova
