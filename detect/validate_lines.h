#pragma once
// Pairing the border points of opposite sides into grid lines, and drawing
// them for step mode.

#include <QImage>
#include <functional>

#include "detect/grid_lines.h"
#include "detect/run_observer.h"

namespace qova {

inline constexpr const char* kUnreliablePointsText =
    "Найденные точки ненадежны. Продолжить работу?";

// Joins every point of the left side to a point of the right side (the
// horizontal lines) and every point of the bottom side to one of the top
// (the vertical lines), each line within maxAngle degrees of the last one of
// its family; a point without a partner asks the observer once whether to
// go on. Replaces lines; false when the run must end (No, or an error).
bool ValidateLines(const BorderPoints& points, double maxAngle, RunObserver& observer,
                   GridLines& lines);

// Every line across the whole picture in color (a 32-bit picture; others are
// converted), calling repaint after each line.
void DrawGridLines(QImage& picture, const GridLines& lines, Color color,
                   const std::function<void()>& repaint);

}  // namespace qova
