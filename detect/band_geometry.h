#pragma once
// The geometry the band collectors and counts share: one call of either set
// out column by column in the frame of its line, and the exact test every
// pixel they return passes. Internal to detect/.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/checked_math.h"
#include "detect/band.h"

namespace qova::band {

// One collector call in the frame of its line v = s·u + e: u = x, v = y for
// the horizontal collector, u = y, v = x for the vertical one.
struct BandQuery {
  double s;            // slope of the line
  double e;            // intercept of the line
  double p;            // slope of its perpendiculars, tan(atan(s) + π/2); unused when s = 0
  double cu, cv;       // the centre
  double maxDistance;  // c: largest distance of a pixel from the line
  double halfLength;   // d: largest distance of the pixel's foot from the centre
  int rejectFeet;      // +1: feet with u below cu are rejected, −1: above cu, 0: none
};

// The exact test for the set pixel (pu, pv). E and F sum the u term first;
// IEEE addition is commutative, so this is bit for bit the x-first sum.
inline bool InBand(const BandQuery& q, double pu, double pv) {
  double fu, fv;  // foot of the perpendicular from the pixel to the line
  if (q.s != 0) {
    fu = Div((pv - q.p * pu) - q.e, q.s - q.p);
    fv = Finite(q.s * fu + q.e);
  } else {
    fu = pu;
    fv = q.e;
  }
  const double distance = Sqrt((pu - fu) * (pu - fu) + (pv - fv) * (pv - fv));  // E
  if (q.rejectFeet > 0 && q.cu > fu) return false;
  if (q.rejectFeet < 0 && q.cu < fu) return false;
  const double along = Sqrt((q.cu - fu) * (q.cu - fu) + (q.cv - fv) * (q.cv - fv));  // F
  return distance <= q.maxDistance && along <= q.halfLength;
}

// The rejectFeet of a side code, given that of side 1; side 2 reaches the
// other way, any other code both ways.
inline int RejectedFeet(BandSide side, int side1) {
  if (side == BandSide::RightOrUp) return side1;
  if (side == BandSide::LeftOrDown) return -side1;
  return 0;
}

inline BandQuery MakeQuery(const BandSlope& slope, double e, double cu, double cv,
                           double maxDistance, double halfLength, int rejectFeet) {
  BandQuery q{slope.s, e, 0.0, cu, cv, maxDistance, halfLength, rejectFeet};
  if (slope.s != 0) q.p = Finite(slope.p);
  return q;
}

// Index of the first non-zero cell of col in [j, end), or end.
inline int32_t NextSet(const uint8_t* col, int32_t j, int32_t end) {
  while (j + 8 <= end) {
    uint64_t word;
    std::memcpy(&word, col + j, sizeof word);
    if (word != 0) break;
    j += 8;
  }
  while (j < end && col[j] == 0) ++j;
  return j;
}

// The pixel box: columns [i0, i1), rows [j0, j1), clipped to the mask.
struct Box {
  int32_t i0, i1, j0, j1;
};

inline Box PixelBox(const MaskView& mask, const VT_Point& centre, double halfLength) {
  const double l = halfLength + 2;
  return Box{std::max(Trunc(centre.x - l), 0), std::min(Trunc(centre.x + l), mask.width),
             std::max(Trunc(centre.y - l), 0), std::min(Trunc(centre.y + l), mask.height)};
}

// Rows [lo, hi] of the whole numbers within reach of a column, clamped to the
// box rows; empty (lo > hi) when none. Rounded by truncation rather than
// std::ceil and std::floor, which are library calls on the baseline x86-64
// instruction set, and this runs for every column of every collection.
inline void ClampRows(double lo, double hi, const Box& box, int32_t* first, int32_t* last) {
  const double top = box.j0, bottom = box.j1 - 1;
  *first = 1;
  *last = 0;
  if (!(lo <= hi && lo <= bottom && hi >= top)) return;  // also when either is NaN
  lo = std::max(lo, top);
  hi = std::min(hi, bottom);
  // ⌈lo⌉ and ⌊hi⌋ without branches: whether a bound is whole is a coin toss
  // from column to column, which a branch would mispredict.
  int32_t f = static_cast<int32_t>(lo), l = static_cast<int32_t>(hi);
  f += static_cast<int32_t>(f < lo);
  l -= static_cast<int32_t>(l > hi);
  if (f <= l) *first = f, *last = l;
}

// The largest magnitude of a column or a row index of the box.
inline double ColumnSpan(const Box& box) {
  return std::max(std::fabs(static_cast<double>(box.i0)), std::fabs(static_cast<double>(box.i1)));
}
inline double RowSpan(const Box& box) {
  return std::max(std::fabs(static_cast<double>(box.j0)), std::fabs(static_cast<double>(box.j1)));
}

// A pixel within maxDistance of the line lies within maxDistance·√(1 + s²)
// of it measured along v. A slack of a thousandth of a pixel, plus a part
// relative to the largest coordinate involved, covers every rounding of the
// exact test, so no pixel it accepts is left out.
inline double ReachAlongV(const BandSlope& slope, double maxDistance, double magnitude) {
  return maxDistance * slope.k * (1 + 1e-9) + 1e-3 + 1e-9 * magnitude;
}

// The rows of one column that can hold a band pixel: [first, last], empty
// when first > last.
struct Rows {
  int32_t first, last;
};

// One collector call set out column by column: the query in the line's own
// frame, the pixel box, and the reach of the line in every column.
class BandColumns {
 public:
  // horizontal: the line y = slope·x + intercept (u = x); otherwise the line
  // x = slope·y + intercept (u = y).
  BandColumns(const MaskView& mask, bool horizontal, BandSide side, const BandLine& line,
              const BandWindow& window)
      : horizontal_(horizontal),
        box_(PixelBox(mask, window.centre, window.halfLength)),
        slope_(line.slope) {
    const VT_Point& centre = window.centre;
    const double maxDistance = window.maxDistance, halfLength = window.halfLength;
    const double intercept = line.intercept;
    const BandSlope& slope = line.slope;
    if (Empty()) return;
    if (horizontal) {
      q_ = MakeQuery(slope, intercept, centre.x, centre.y, maxDistance, halfLength,
                     RejectedFeet(side, +1));
      reach_ = ReachAlongV(slope, maxDistance,
                           std::fabs(intercept) + std::fabs(slope.s) * ColumnSpan(box_));
    } else {
      // Side 1 reaches towards decreasing y: feet below the centre are rejected.
      q_ = MakeQuery(slope, intercept, centre.y, centre.x, maxDistance, halfLength,
                     RejectedFeet(side, -1));
      reach_ =
          ReachAlongV(slope, maxDistance,
                      ColumnSpan(box_) + std::fabs(intercept) + std::fabs(slope.s) * RowSpan(box_));
    }
  }

  bool Empty() const { return box_.i0 >= box_.i1 || box_.j0 >= box_.j1; }
  bool horizontal() const { return horizontal_; }
  double reach() const { return reach_; }

  // The columns of the box that can hold a band pixel. A near-vertical line
  // crosses few of them; the range is a column wider each way than the line
  // reaches, for rounding.
  Rows Columns() const {
    Rows columns{box_.i0, box_.i1 - 1};
    if (horizontal_ || !std::isfinite(reach_)) return columns;
    const double a = q_.s * box_.j0 + q_.e, b = q_.s * (box_.j1 - 1) + q_.e;
    const double spare = reach_ + 1 + 1e-9 * (std::fabs(a) + std::fabs(b));
    if (!std::isfinite(a) || !std::isfinite(b)) return columns;
    ClampRows(std::min(a, b) - spare, std::max(a, b) + spare,
              Box{0, 0, columns.first, columns.last + 1}, &columns.first, &columns.last);
    return columns;
  }
  const Box& box() const { return box_; }
  const BandQuery& query() const { return q_; }
  const BandSlope& slope() const { return slope_; }

  // The exact test for mask cell (i, j).
  bool Accepts(int32_t i, int32_t j) const {
    return horizontal_ ? InBand(q_, i, j) : InBand(q_, j, i);
  }

  // The rows of column i within reach of the line.
  Rows Reach(int32_t i) const {
    Rows rows{box_.j0, box_.j1 - 1};
    if (horizontal_) {
      const double onLine = q_.s * i + q_.e;  // the line's y in column i
      if (std::isfinite(onLine) && std::isfinite(reach_))
        ClampRows(onLine - reach_, onLine + reach_, box_, &rows.first, &rows.last);
      return rows;
    }
    // Column i is within reach of row j when |s·j − (i − e)| <= reach.
    const double offset = i - q_.e;
    if (!std::isfinite(offset) || !std::isfinite(reach_)) return rows;
    if (q_.s == 0) {
      if (std::fabs(offset) > reach_) rows = Rows{1, 0};
      return rows;
    }
    const double a = (offset - reach_) / q_.s, b = (offset + reach_) / q_.s;
    ClampRows(std::min(a, b), std::max(a, b), box_, &rows.first, &rows.last);
    return rows;
  }

 private:
  bool horizontal_;
  Box box_;
  BandQuery q_{};
  BandSlope slope_;
  double reach_ = 0;
};

// Calls visit(j) for every set cell of col in rows [first, last].
template <class Visit>
inline void ForEachSet(const uint8_t* col, int32_t first, int32_t last, Visit visit) {
  for (int32_t j = NextSet(col, first, last + 1); j <= last; j = NextSet(col, j + 1, last + 1))
    visit(j);
}

}  // namespace qova::band
