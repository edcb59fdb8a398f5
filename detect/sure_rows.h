#pragma once
// The rows of a band that need no exact test, and the walk over a band call
// that uses them. Internal to detect/.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "detect/band_geometry.h"

namespace qova::band {

// The rows of a column that pass the exact test beyond doubt, found from the
// line's geometry, so that a count needs the exact test only near the edges
// of the band. In the line's frame a pixel (u, v) lies at the signed
// distance (v − s·u − e)/√(1 + s²) from the line, and its foot at
// fu = (u + s·(v − e))/(1 + s²). Both that distance and the distance of the
// foot from the centre are convex functions of the pixel, so a run of pixels
// whose ends (or a parallelogram whose corners) pass with a margin passes in
// full. The margin, a billionth of the coordinates involved, is a million
// times what the exact test and these estimates can differ by in rounding.
// The estimates multiply by reciprocals rather than divide, for speed; the
// rounding that adds is far inside the margin too. Calls whose exact test
// could raise, or that reject feet on one side, get no sure rows: every
// pixel then takes the exact test.
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
    const BandSlope& slope = band.slope();
    n2_ = slope.n2;
    k_ = slope.k;
    invK_ = slope.invK;
    invN2_ = slope.invN2;
    invS_ = slope.invS;
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
      const double a = (offset - halfRows_) * invS_, b = (offset + halfRows_) * invS_;
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
    const double offset = (v - q_.s * u - q_.e) * invK_;
    const double fu = (u + q_.s * (v - q_.e)) * invN2_, fv = q_.s * fu + q_.e;
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
    const double fu = (u + q_.s * (v - q_.e)) * invN2_, fv = q_.s * fu + q_.e;
    return (q_.cu - fu) * (q_.cu - fu) + (q_.cv - fv) * (q_.cv - fv) <= along_ * along_;
  }

  BandQuery q_;
  bool horizontal_;
  bool usable_ = false;
  double near_ = 0, along_ = 0, n2_ = 1, k_ = 1, halfRows_ = 0, h_ = 0, root_ = 0;
  double invK_ = 1, invN2_ = 1, invS_ = 0;
  Rows sureColumns_{1, 0};
};

// Walks one band call column by column, in the collectors' order (columns
// left to right, rows top to bottom within a column): sureRun(i, col, first,
// last) for each run of rows of column i whose set cells all belong to the
// band, accepted(i, j) for every other set pixel within reach that passes
// the exact test.
template <class SureRun, class Accepted>
void ForEachBandRun(const MaskView& mask, const BandColumns& band, SureRun sureRun,
                    Accepted accepted) {
  if (band.Empty()) return;
  const SureRows sure(band);
  const Rows columns = band.Columns();
  for (int32_t i = columns.first; i <= columns.last; ++i) {
    const Rows rows = band.Reach(i);
    if (rows.first > rows.last) continue;
    const uint8_t* col = mask.cells[i];
    auto exact = [&](int32_t first, int32_t last) {
      ForEachSet(col, first, last, [&](int32_t j) {
        if (band.Accepts(i, j)) accepted(i, j);
      });
    };
    const Rows in = sure.In(i, rows);
    if (in.first > in.last) {
      exact(rows.first, rows.last);
      continue;
    }
    if (rows.first < in.first) exact(rows.first, in.first - 1);
    sureRun(i, col, in.first, in.last);
    if (in.last < rows.last) exact(in.last + 1, rows.last);
  }
}

}  // namespace qova::band
