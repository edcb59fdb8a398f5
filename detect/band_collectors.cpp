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
#include <bit>
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
  int32_t f = static_cast<int32_t>(lo), l = static_cast<int32_t>(hi);
  if (f < lo) ++f;  // ⌈lo⌉
  if (l > hi) --l;  // ⌊hi⌋
  if (f <= l) *first = f, *last = l;
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
  BandColumns(const StateRecord& s, bool horizontal, int32_t side, const VT_Point& centre,
              double maxDistance, double halfLength, double intercept, double slope)
      : horizontal_(horizontal), box_(PixelBox(s, centre, halfLength)) {
    if (Empty()) return;
    if (horizontal) {
      q_ = MakeQuery(slope, intercept, centre.x, centre.y, maxDistance, halfLength,
                     RejectedFeet(side, +1));
      reach_ = ReachAlongV(slope, maxDistance,
                           std::fabs(intercept) + std::fabs(slope) * ColumnSpan(box_));
    } else {
      // Side 1 reaches towards decreasing y: feet below the centre are rejected.
      q_ = MakeQuery(slope, intercept, centre.y, centre.x, maxDistance, halfLength,
                     RejectedFeet(side, -1));
      reach_ = ReachAlongV(slope, maxDistance,
                           ColumnSpan(box_) + std::fabs(intercept) + std::fabs(slope) * RowSpan(box_));
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
    ClampRows(std::min(a, b) - spare, std::max(a, b) + spare, Box{0, 0, columns.first, columns.last + 1},
              &columns.first, &columns.last);
    return columns;
  }
  const Box& box() const { return box_; }
  const BandQuery& query() const { return q_; }

  // The exact test for mask cell (i, j).
  bool Accepts(int32_t i, int32_t j) const { return horizontal_ ? InBand(q_, i, j) : InBand(q_, j, i); }

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
  double reach_ = 0;
};

// Calls visit(j) for every set cell of col in rows [first, last].
template <class Visit>
inline void ForEachSet(const uint8_t* col, int32_t first, int32_t last, Visit visit) {
  for (int32_t j = NextSet(col, first, last + 1); j <= last; j = NextSet(col, j + 1, last + 1))
    visit(j);
}

template <class Sink>
void Collect(const StateRecord& s, const BandColumns& band, Sink&& append) {
  if (band.Empty()) return;
  const Rows columns = band.Columns();
  for (int32_t i = columns.first; i <= columns.last; ++i) {
    const Rows rows = band.Reach(i);
    ForEachSet(s.BinaryMask[i], rows.first, rows.last, [&](int32_t j) {
      if (band.Accepts(i, j)) append(i, j);
    });
  }
}

// The number of set bytes of a word: a byte is set when adding 0x7f to its
// low seven bits, or its own top bit, sets the top bit.
inline int SetBytes(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full, kTop = 0x8080808080808080ull;
  return std::popcount((((word & kLow7) + kLow7) | word) & kTop);
}

// Number of set cells of col in rows [first, last], eight at a time; height
// is the column's length, never read beyond. A band a few rows thick takes
// one word with the rows past last shifted out.
inline int64_t CountSet(const uint8_t* col, int32_t first, int32_t last, int32_t height) {
  uint64_t word;
  const int32_t rows = last - first + 1;
  if (rows < 8 && first + 8 <= height) {
    std::memcpy(&word, col + first, sizeof word);
    static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);
    if constexpr (std::endian::native == std::endian::little)
      word &= ~uint64_t{0} >> (64 - 8 * rows);
    else
      word &= ~uint64_t{0} << (64 - 8 * rows);
    return SetBytes(word);
  }
  int64_t n = 0;
  int32_t j = first;
  for (; j + 8 <= last + 1; j += 8) {
    std::memcpy(&word, col + j, sizeof word);
    n += SetBytes(word);
  }
  for (; j <= last; ++j) n += col[j] != 0;
  return n;
}

// The rows of a column that pass the exact test beyond doubt, found from the
// line's geometry, so that a count needs the exact test only near the edges
// of the band. In the line's frame a pixel (u, v) lies at the signed
// distance (v − s·u − e)/√(1 + s²) from the line, and its foot at
// fu = (u + s·(v − e))/(1 + s²). Both that distance and the distance of the
// foot from the centre are convex functions of the pixel, so a run of pixels
// whose ends (or a parallelogram whose corners) pass with a margin passes in
// full. The margin, a billionth of the coordinates involved, is a million
// times what the exact test and these estimates can differ by in rounding.
// Calls whose exact test could raise, or that reject feet on one side, get
// no sure rows: every pixel then takes the exact test, as in a collection.
class SureRows {
 public:
  explicit SureRows(const BandColumns& band) : q_(band.query()), horizontal_(band.horizontal()) {
    const Box& box = band.box();
    const double magnitude = std::fabs(q_.cu) + std::fabs(q_.cv) + std::fabs(q_.e) +
                             ColumnSpan(box) + RowSpan(box) + q_.maxDistance + q_.halfLength;
    const double margin = 1e-9 * (1 + magnitude);
    near_ = q_.maxDistance - margin;
    along_ = q_.halfLength - margin;
    usable_ = q_.rejectFeet == 0 && std::fabs(q_.s) <= 1 && std::isfinite(q_.p) &&
              magnitude <= 1e9 && near_ >= 0 && along_ >= 0;
    if (!usable_) return;
    n2_ = 1 + q_.s * q_.s;
    k_ = std::sqrt(n2_);
    halfRows_ = near_ * k_;
    // The roots of (1 + s²)t² − 2·s·h·t + h² = along_² in t = fu − cu, h the
    // centre's offset from the line: the feet within along_ of the centre.
    h_ = q_.cv - q_.s * q_.cu - q_.e;
    const double disc = n2_ * along_ * along_ - h_ * h_;
    usable_ = disc >= 0;
    root_ = usable_ ? std::sqrt(disc) : 0;
    if (usable_ && horizontal_) FindSureColumns(band);
  }

  // The sure rows of column i within rows; empty (first > last) when none.
  Rows In(int32_t i, Rows rows) const {
    const Rows none{1, 0};
    if (!usable_) return none;
    if (horizontal_) {
      // Within the sure columns every foot is near enough; the rows within
      // near_ of the line are sure by their distance alone.
      if (i < sureColumns_.first || i > sureColumns_.last) return none;
      const double onLine = q_.s * i + q_.e;
      ClampRows(onLine - halfRows_, onLine + halfRows_, Box{0, 0, rows.first, rows.last + 1},
                &rows.first, &rows.last);
      return rows;
    }
    // The rows within near_ of the line and those whose foot lies within
    // along_ of the centre, confirmed at the two ends of their overlap.
    const double offset = i - q_.e;
    double lo, hi;
    if (q_.s == 0) {
      if (!(std::fabs(offset) <= halfRows_)) return none;
      lo = rows.first;
      hi = rows.last;
    } else {
      const double a = (offset - halfRows_) / q_.s, b = (offset + halfRows_) / q_.s;
      lo = std::min(a, b);
      hi = std::max(a, b);
    }
    const double base = q_.s * h_ + q_.cu * n2_ - q_.s * offset;
    lo = std::max(lo, base - root_);
    hi = std::min(hi, base + root_);
    ClampRows(lo, hi, Box{0, 0, rows.first, rows.last + 1}, &rows.first, &rows.last);
    if (rows.first > rows.last || !Passes(rows.first, i) || !Passes(rows.last, i)) return none;
    return rows;
  }

 private:
  // The pixel (u, v) within near_ of the line with its foot within along_ of
  // the centre.
  bool Passes(double u, double v) const {
    const double offset = (v - q_.s * u - q_.e) / k_;
    const double fu = (u + q_.s * (v - q_.e)) / n2_, fv = q_.s * fu + q_.e;
    const double along2 = (q_.cu - fu) * (q_.cu - fu) + (q_.cv - fv) * (q_.cv - fv);
    return std::fabs(offset) <= near_ && along2 <= along_ * along_;
  }

  // The columns in which every row within reach of the line has its foot
  // within along_ of the centre: in column i those feet lie within
  // |s|·reach/(1 + s²) of t = i − cu. Confirmed at the four corners of the
  // reach over those columns, or none.
  void FindSureColumns(const BandColumns& band) {
    const double spread = std::fabs(q_.s) * band.reach() / n2_ + 1;  // a column to spare
    const double t1 = (q_.s * h_ - root_) / n2_, t2 = (q_.s * h_ + root_) / n2_;
    const Box& box = band.box();
    Rows columns{1, 0};
    ClampRows(q_.cu + t1 + spread, q_.cu + t2 - spread, Box{0, 0, box.i0, box.i1}, &columns.first,
              &columns.last);
    if (columns.first > columns.last) return;
    for (int32_t i : {columns.first, columns.last}) {
      const double onLine = q_.s * i + q_.e;
      for (double v : {onLine - band.reach(), onLine + band.reach()})
        if (!FootNear(i, v)) return;
    }
    sureColumns_ = columns;
  }

  bool FootNear(double u, double v) const {
    const double fu = (u + q_.s * (v - q_.e)) / n2_, fv = q_.s * fu + q_.e;
    return (q_.cu - fu) * (q_.cu - fu) + (q_.cv - fv) * (q_.cv - fv) <= along_ * along_;
  }

  BandQuery q_;
  bool horizontal_;
  bool usable_ = false;
  double near_ = 0, along_ = 0, n2_ = 1, k_ = 1, halfRows_ = 0, h_ = 0, root_ = 0;
  Rows sureColumns_{1, 0};
};

// The size of the band the collector would build: the sure rows counted
// whole, the exact test on every other set pixel within reach.
int64_t Count(const StateRecord& s, const BandColumns& band) {
  if (band.Empty()) return 0;
  const SureRows sure(band);
  int64_t n = 0;
  const Rows columns = band.Columns();
  for (int32_t i = columns.first; i <= columns.last; ++i) {
    const Rows rows = band.Reach(i);
    if (rows.first > rows.last) continue;
    const uint8_t* col = s.BinaryMask[i];
    auto exact = [&](int32_t first, int32_t last) {
      ForEachSet(col, first, last, [&](int32_t j) { n += band.Accepts(i, j) ? 1 : 0; });
    };
    const Rows in = sure.In(i, rows);
    if (in.first > in.last) {
      exact(rows.first, rows.last);
      continue;
    }
    exact(rows.first, in.first - 1);
    n += CountSet(col, in.first, in.last, s.BinaryMask.Height());
    exact(in.last + 1, rows.last);
  }
  return n;
}

}  // namespace

void CollectHorizontalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                           double maxDistance, double halfLength, double intercept, double slope) {
  const BandColumns band(s, true, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(s, band, [&](int32_t i, int32_t j) { target.push_back({double(i), double(j)}); });
}

void CollectHorizontalBand(const StateRecord& s, int32_t side, VT_Points& target,
                           const VT_Point& centre, double maxDistance, double halfLength,
                           double intercept, double slope) {
  const BandColumns band(s, true, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(s, band, [&](int32_t i, int32_t j) { target.AddNew(double(i), double(j)); });
}

void CollectVerticalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                         double maxDistance, double halfLength, double intercept, double slope) {
  const BandColumns band(s, false, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(s, band, [&](int32_t i, int32_t j) { target.push_back({double(j), double(i)}); });
}

void CollectVerticalBand(const StateRecord& s, int32_t side, VT_Points& target,
                         const VT_Point& centre, double maxDistance, double halfLength,
                         double intercept, double slope) {
  const BandColumns band(s, false, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(s, band, [&](int32_t i, int32_t j) { target.AddNew(double(j), double(i)); });
}

int64_t CountHorizontalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                            double maxDistance, double halfLength, double intercept, double slope) {
  const BandColumns band(s, true, side, centre, maxDistance, halfLength, intercept, slope);
  return Count(s, band);
}

int64_t CountVerticalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                          double maxDistance, double halfLength, double intercept, double slope) {
  const BandColumns band(s, false, side, centre, maxDistance, halfLength, intercept, slope);
  return Count(s, band);
}

}  // namespace qova
