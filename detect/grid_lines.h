#pragma once
// Pairing border points into grid lines, their crossings, and the refinement
// of every crossing into a final point.

#include <cstdint>

#include "state/state_record.h"

namespace qova {

inline constexpr const char* kUnreliablePointsText =
    "Найденные точки ненадежны. Продолжить работу?";
inline constexpr const char* kNoCrossingsText =
    "Невозможно найти пересечения. Попробуйте изменить параметры.";

// The crossing of a node's two lines as a whole pixel: y rounded first, then
// x from the rounded y. Parallel lines raise.
struct NodePixel {
  int32_t x;
  int32_t y;
};
NodePixel NodeCrossing(const CrossNode& node);

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
