// Band counts: the size of the band a collector would build, without
// building it. A refinement walk compares that size from step to step and
// fits only the band it ends on.

#include "detect/band_count.h"

#include <bit>

#include "detect/band_geometry.h"

namespace qova {

namespace {

using namespace band;

// The number of set bytes of a word: a byte is set when adding 0x7f to its
// low seven bits, or its own top bit, sets the top bit. The eight flags are
// summed by one multiplication (std::popcount is a library call on the
// baseline x86-64 instruction set).
inline int SetBytes(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full, kTop = 0x8080808080808080ull;
  const uint64_t flags = ((((word & kLow7) + kLow7) | word) & kTop) >> 7;  // 1 in every set byte
  return static_cast<int>((flags * 0x0101010101010101ull) >> 56);
}

// Number of set cells of col in rows [first, last], eight at a time; height
// is the column's length, never read beyond. A band a few rows thick takes
// one word with the rows past last shifted out.
inline int64_t CountSet(const uint8_t* col, int32_t first, int32_t last, int32_t height) {
  uint64_t word;
  const int32_t rows = last - first + 1;
  if (rows < 8 && first + 8 <= height) {
    std::memcpy(&word, col + first, sizeof word);
    static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big);
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
int64_t Count(const MaskColumns& mask, const BandColumns& band) {
  if (band.Empty()) return 0;
  const SureRows sure(band);
  int64_t n = 0;
  const Rows columns = band.Columns();
  for (int32_t i = columns.first; i <= columns.last; ++i) {
    const Rows rows = band.Reach(i);
    if (rows.first > rows.last) continue;
    const uint8_t* col = mask.cells[i];
    auto exact = [&](int32_t first, int32_t last) {
      ForEachSet(col, first, last, [&](int32_t j) { n += band.Accepts(i, j) ? 1 : 0; });
    };
    const Rows in = sure.In(i, rows);
    if (in.first > in.last) {
      exact(rows.first, rows.last);
      continue;
    }
    n += CountSet(col, in.first, in.last, mask.cells.Height());
    if (rows.first < in.first) exact(rows.first, in.first - 1);
    if (in.last < rows.last) exact(in.last + 1, rows.last);
  }
  return n;
}

}  // namespace

int64_t CountHorizontalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                            double maxDistance, double halfLength, double intercept, double slope) {
  const MaskColumns mask = BinaryMaskOf(s);
  const BandColumns band(mask, true, side, centre, maxDistance, halfLength, intercept, slope);
  return Count(mask, band);
}

int64_t CountVerticalBand(const StateRecord& s, int32_t side, const VT_Point& centre,
                          double maxDistance, double halfLength, double intercept, double slope) {
  const MaskColumns mask = BinaryMaskOf(s);
  const BandColumns band(mask, false, side, centre, maxDistance, halfLength, intercept, slope);
  return Count(mask, band);
}

// In the transposed mask a near-horizontal band runs down a few columns, as
// a near-vertical one does in BinaryMask: the same call with x and y
// exchanged. The frame of the line is the same, so the query and the exact
// test are too; only the side that reaches towards smaller u has the other
// code.
int64_t CountHorizontalBand(const TransposedMask& rows, int32_t side, const VT_Point& centre,
                            double maxDistance, double halfLength, double intercept, double slope) {
  const MaskColumns mask{rows.Cells(), rows.Cells().Width(), rows.Cells().Height()};
  const int32_t mirrored = side == 1 ? 2 : side == 2 ? 1 : side;
  const BandColumns band(mask, false, mirrored, VT_Point(centre.y, centre.x), maxDistance,
                         halfLength, intercept, slope);
  return Count(mask, band);
}

}  // namespace qova
