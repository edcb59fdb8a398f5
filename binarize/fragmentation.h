#pragma once
// Division of a quadrilateral region into nW × nH fragments.

#include <cstdint>

#include "state/state_record.h"

namespace qova {

// Replaces Fragments with the fragments of Regions[regionIndex] in row order;
// in step mode outlines them in the picture layer.
void FragmentRegion(StateRecord& s, int32_t nW, int32_t nH, int32_t regionIndex);

}  // namespace qova
