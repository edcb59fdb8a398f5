#include "core/procedures.h"

#include <cmath>

#include "core/checked_math.h"

namespace qova {

int32_t RoundNearest(double v) {
  Finite(v);
  const double s = v < 0 ? -1.0 : (v > 0 ? 1.0 : 0.0);
  const double a = std::fabs(v);
  double c = std::ceil(a);
  const double f = 1.0 - (c - a);  // the part above the next lower whole number
  if (f < 0.5) c = c - 1.0;
  return Trunc(s * c);
}

}  // namespace qova
