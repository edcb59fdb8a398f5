#pragma once
// A rendered plate opened for a run with one region of mouse-placed corners
// and binarized as the run does it, for the detection tests and benchmark
// that start from a real mask. Needs qova_binarize and qova_synth.

#include <cmath>
#include <memory>
#include <vector>

#include "binarize/binarization.h"
#include "core/checked_math.h"
#include "tests/support/run_state.h"
#include "tools/synth/synthetic_plate.h"

namespace qova::testing {

// Opens image in s, adds the region with the given corners rounded to whole
// pixels (as clicked), and binarizes it; returns the region's index.
inline int32_t BinarizedPlateRegion(StateRecord& s, const QImage& image,
                                    const std::vector<QPointF>& corners) {
  PrepareForRun(s, image);
  auto region = std::make_unique<SearchRegion>(1);
  for (const QPointF& p : corners) region->AddNew(std::round(p.x()), std::round(p.y()));
  s.Regions.Append(std::move(region));
  const int32_t index = s.Regions.Length() - 1;
  const SearchRegion& r = *s.Regions[index];
  ComputeGradientStatistics(s, r);
  BinarizeRegion(s, r, Trunc(ComputeThreshold(s, r)));
  return index;
}

}  // namespace qova::testing
