#pragma once
// Pairing border points into grid lines, their crossings, and the refinement
// of every crossing into a final point.

#include <cstdint>

#include "app/state/state_record.h"

namespace qova {

// Fills HorizontalLines and VerticalLines; false when the run must end (the
// user's No, or an error).
bool ValidateLines(StateRecord& s);

// Step mode: every line across the whole picture layer.
void DrawGridLines(StateRecord& s, Color color);

// Fills CrossNodes with the crossings inside Regions[regionIndex]; reports
// its own failure and returns.
void FindCrossNodes(StateRecord& s, int32_t regionIndex);

// Appends the refined points of the region to FoundPoints; false when an
// error stopped the refinement.
bool RefineCrossPoints(StateRecord& s, int32_t regionIndex);

}  // namespace qova
