#pragma once
// Which way the lines go: they are the minority tail of the region's grey
// levels. With the 2nd, 50th and 98th percentiles p2, p50, p98 of the pixels
// inside the region, the lines are dark when p50 − p2 > p98 − p50.

#include <optional>

#include "precise/geometry.h"
#include "precise/grey_view.h"

namespace qova::precise {

struct Polarity {
  bool linesDark = true;
  double p2 = 0, p50 = 0, p98 = 0;  // grey levels, (r + g + b)/3; of a deep image, 255ths of
                                    // the range it uses above its least value
  long pixels = 0;                  // pixels counted
};

// The percentiles of the pixels whose centres lie inside the region (every
// row of a small region; rows spread evenly over a large one, which still
// meets every line that crosses them). Empty when no pixel lies inside.
// view: the image as it is (lines bright, not transposed); black: the J of
// the least value the image uses (0 for 8-bit images).
std::optional<Polarity> MeasurePolarity(const GreyView& view, double black, const Region& region);

}  // namespace qova::precise
