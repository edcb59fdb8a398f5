#pragma once
#include <cstdint>

namespace qova {

// Double to int, to the nearest integer with halves away from zero. Follows
// its own steps (ceil, the fraction, the 0.5 test) rather than std::round,
// since every pixel position the detection rounds must come out the same.
int32_t RoundNearest(double v);

}  // namespace qova
