#pragma once
// Step mode shows each point a stage finds as soon as it is found. A stage
// calls this with the whole pixel the marker goes on, and only in step mode;
// the run passes its observer's marker, tests record the calls.

#include <cstdint>
#include <functional>

namespace qova {

using StepMarker = std::function<void(int32_t x, int32_t y)>;

}  // namespace qova
