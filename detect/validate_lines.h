#pragma once
// Pairing the border points of opposite sides into grid lines, and drawing
// them for step mode.

#include <QImage>
#include <functional>

#include "detect/grid_lines.h"

namespace qova {

enum class LinesOutcome {
  Paired,    // every point has its line, or going on without a partner was accepted
  Declined,  // a point without a partner, and going on was declined
  Failed,    // an arithmetic error (two points of one line on one column or row)
};

// Joins every point of the left side to a point of the right side (the
// horizontal lines) and every point of the bottom side to one of the top
// (the vertical lines), each line within maxAngle degrees of the last one of
// its family. At the first point without a partner goOn is asked, once,
// whether to go on (the run puts the question to the user); false stops the
// pairing there. Replaces lines; they hold all lines only when Paired.
[[nodiscard]] LinesOutcome ValidateLines(const BorderPoints& points, double maxAngle,
                                         const std::function<bool()>& goOn, GridLines& lines);

// Every line across the whole picture in color (a 32-bit picture; others are
// converted), calling repaint after each line.
void DrawGridLines(QImage& picture, const GridLines& lines, Color color,
                   const std::function<void()>& repaint);

}  // namespace qova
