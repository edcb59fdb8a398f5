#pragma once
// The size of a band without building it: a walk across a grid line needs
// only that at every step.

#include <cstdint>

#include "app/state/state_record.h"

namespace qova {

// The number of pixels CollectHorizontalBand and CollectVerticalBand would
// append for the same arguments; raises where they would raise.
int64_t CountHorizontalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                            double maxDistance, double halfLength, double intercept, double slope);
int64_t CountVerticalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                          double maxDistance, double halfLength, double intercept, double slope);

}  // namespace qova
