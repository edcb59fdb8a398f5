#pragma once
// Division of a quadrilateral region into nW × nH fragments.

#include <cstdint>

#include "core/search_region.h"

namespace qova {

// The fragments of region in row order, each a quadrilateral of four corners
// where the lines joining the points that divide opposite sides equally
// cross. Counts outside 1..256 raise with a message naming both.
RegionList FragmentRegion(const SearchRegion& region, int32_t nW, int32_t nH);

}  // namespace qova
