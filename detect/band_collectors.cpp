// The band collectors: every set mask pixel near a line and near a centre
// point on it. They are the hot loop of the whole detection (every step of
// every scan and refinement walk calls one), so each call
//   - computes the perpendicular slope tan(atan(s) + π/2) once,
//   - in every column of its pixel box visits only the rows that can lie
//     within maxDistance of the line (a bound with a pixel of slack), and
//   - skips runs of unset cells eight at a time (a BinaryMask column is
//     contiguous in y).
// Every pixel that remains goes through the exact test as the algorithm
// states it, in the same column-by-column, row-by-row order, so the collected
// points and their order are those of the plain loop over the whole box.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/checked_math.h"
#include "detect/line_fit.h"

namespace qova {

namespace {

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
int RejectedFeet(int32_t side, int side1) {
  if (side == 1) return side1;
  if (side == 2) return -side1;
  return 0;
}

BandQuery MakeQuery(double s, double e, double cu, double cv, double maxDistance, double halfLength,
                    int rejectFeet) {
  BandQuery q{s, e, 0.0, cu, cv, maxDistance, halfLength, rejectFeet};
  if (s != 0) q.p = Finite(std::tan(std::atan(s) + kPi / 2));
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

Box PixelBox(const StateRecord& s, const VT_Point& centre, double halfLength) {
  const double l = halfLength + 2;
  const int32_t width = std::min(s.ImageWidth, s.BinaryMask.Width());
  const int32_t height = std::min(s.ImageHeight, s.BinaryMask.Height());
  return Box{std::max(Trunc(centre.x - l), 0), std::min(Trunc(centre.x + l), width),
             std::max(Trunc(centre.y - l), 0), std::min(Trunc(centre.y + l), height)};
}

// Rows [lo, hi] of the whole numbers within reach of a column, clamped to the
// box rows; empty (lo > hi) when none.
inline void ClampRows(double lo, double hi, const Box& box, int32_t* first, int32_t* last) {
  lo = std::max(std::ceil(lo), static_cast<double>(box.j0));
  hi = std::min(std::floor(hi), static_cast<double>(box.j1 - 1));
  if (!(lo <= hi)) {
    *first = 1;
    *last = 0;
    return;
  }
  *first = static_cast<int32_t>(lo);
  *last = static_cast<int32_t>(hi);
}

// The largest magnitude of a column or a row index of the box.
double ColumnSpan(const Box& box) {
  return std::max(std::fabs(static_cast<double>(box.i0)), std::fabs(static_cast<double>(box.i1)));
}
double RowSpan(const Box& box) {
  return std::max(std::fabs(static_cast<double>(box.j0)), std::fabs(static_cast<double>(box.j1)));
}

// A pixel within maxDistance of the line lies within maxDistance·√(1 + s²)
// of it measured along v. A slack of a thousandth of a pixel, plus a part
// relative to the largest coordinate involved, covers every rounding of the
// exact test, so no pixel it accepts is left out.
double ReachAlongV(double s, double maxDistance, double magnitude) {
  const double k = std::sqrt(1 + s * s);
  return maxDistance * k * (1 + 1e-9) + 1e-3 + 1e-9 * magnitude;
}

template <class Sink>
void CollectHorizontal(const StateRecord& s, int32_t side, const VT_Point& centre,
                       double maxDistance, double halfLength, double intercept, double slope,
                       Sink&& append) {
  const Box box = PixelBox(s, centre, halfLength);
  if (box.i0 >= box.i1 || box.j0 >= box.j1) return;
  const BandQuery q = MakeQuery(slope, intercept, centre.x, centre.y, maxDistance, halfLength,
                                RejectedFeet(side, +1));
  const double reach =
      ReachAlongV(slope, maxDistance, std::fabs(intercept) + std::fabs(slope) * ColumnSpan(box));
  for (int32_t i = box.i0; i < box.i1; ++i) {
    const double onLine = slope * i + intercept;  // the line's y in column i
    int32_t j, last;
    if (std::isfinite(onLine) && std::isfinite(reach))
      ClampRows(onLine - reach, onLine + reach, box, &j, &last);
    else
      j = box.j0, last = box.j1 - 1;
    const uint8_t* col = s.BinaryMask[i];
    for (j = NextSet(col, j, last + 1); j <= last; j = NextSet(col, j + 1, last + 1))
      if (InBand(q, i, j)) append(i, j);
  }
}

template <class Sink>
void CollectVertical(const StateRecord& s, int32_t side, const VT_Point& centre, double maxDistance,
                     double halfLength, double intercept, double slope, Sink&& append) {
  const Box box = PixelBox(s, centre, halfLength);
  if (box.i0 >= box.i1 || box.j0 >= box.j1) return;
  // Side 1 reaches towards decreasing y: feet below the centre are rejected.
  const BandQuery q = MakeQuery(slope, intercept, centre.y, centre.x, maxDistance, halfLength,
                                RejectedFeet(side, -1));
  const double reach = ReachAlongV(
      slope, maxDistance, ColumnSpan(box) + std::fabs(intercept) + std::fabs(slope) * RowSpan(box));
  for (int32_t i = box.i0; i < box.i1; ++i) {
    // Column i is within reach of row j when |s·j − (i − e)| <= reach.
    const double offset = i - intercept;
    int32_t j, last;
    if (!std::isfinite(offset) || !std::isfinite(reach)) {
      j = box.j0, last = box.j1 - 1;
    } else if (slope == 0) {
      if (std::fabs(offset) > reach) continue;
      j = box.j0, last = box.j1 - 1;
    } else {
      const double a = (offset - reach) / slope, b = (offset + reach) / slope;
      ClampRows(std::min(a, b), std::max(a, b), box, &j, &last);
    }
    const uint8_t* col = s.BinaryMask[i];
    for (j = NextSet(col, j, last + 1); j <= last; j = NextSet(col, j + 1, last + 1))
      if (InBand(q, j, i)) append(i, j);
  }
}

}  // namespace

void CollectHorizontalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                           double maxDistance, double halfLength, double intercept, double slope) {
  CollectHorizontal(s, side, centre, maxDistance, halfLength, intercept, slope,
                    [&](int32_t i, int32_t j) {
                      target.push_back({double(i), double(j)});
                    });
}

void CollectHorizontalBand(const StateRecord& s, int32_t side, VT_Points& target,
                           const VT_Point& centre, double maxDistance, double halfLength,
                           double intercept, double slope) {
  CollectHorizontal(s, side, centre, maxDistance, halfLength, intercept, slope,
                    [&](int32_t i, int32_t j) { target.AddNew(double(i), double(j)); });
}

void CollectVerticalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                         double maxDistance, double halfLength, double intercept, double slope) {
  CollectVertical(s, side, centre, maxDistance, halfLength, intercept, slope,
                  [&](int32_t i, int32_t j) {
                    target.push_back({double(j), double(i)});
                  });
}

void CollectVerticalBand(const StateRecord& s, int32_t side, VT_Points& target,
                         const VT_Point& centre, double maxDistance, double halfLength,
                         double intercept, double slope) {
  CollectVertical(s, side, centre, maxDistance, halfLength, intercept, slope,
                  [&](int32_t i, int32_t j) { target.AddNew(double(j), double(i)); });
}

}  // namespace qova
