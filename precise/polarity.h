#pragma once
// Which way the lines go: they are the minority tail of the region's grey
// levels. With the 2nd, 50th and 98th percentiles p2, p50, p98 of the pixels
// inside the region, the lines are dark when p50 − p2 > p98 − p50.

#include <QImage>
#include <optional>

#include "precise/geometry.h"

namespace qova::precise {

struct Polarity {
  bool linesDark = true;
  double p2 = 0, p50 = 0, p98 = 0;  // grey levels, (r + g + b)/3
  long pixels = 0;                  // pixels counted
};

// The percentiles of the pixels whose centres lie inside the region (every
// row of a small region; rows spread evenly over a large one, which still
// meets every line that crosses them). Empty when no pixel lies inside.
// image: Format_RGB32 or Format_ARGB32.
std::optional<Polarity> MeasurePolarity(const QImage& image, const Region& region);

}  // namespace qova::precise
