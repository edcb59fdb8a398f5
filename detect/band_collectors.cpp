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

#include "detect/band_geometry.h"

namespace qova {

namespace {

using namespace band;

template <class Sink>
void Collect(const MaskColumns& mask, const BandColumns& band, Sink&& append) {
  if (band.Empty()) return;
  const Rows columns = band.Columns();
  for (int32_t i = columns.first; i <= columns.last; ++i) {
    const Rows rows = band.Reach(i);
    ForEachSet(mask.cells[i], rows.first, rows.last, [&](int32_t j) {
      if (band.Accepts(i, j)) append(i, j);
    });
  }
}

}  // namespace

void CollectHorizontalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                           double maxDistance, double halfLength, double intercept, double slope) {
  const MaskColumns mask = BinaryMaskOf(s);
  const BandColumns band(mask, true, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(mask, band, [&](int32_t i, int32_t j) { target.push_back({double(i), double(j)}); });
}

void CollectHorizontalBand(const StateRecord& s, int32_t side, VT_Points& target,
                           const VT_Point& centre, double maxDistance, double halfLength,
                           double intercept, double slope) {
  const MaskColumns mask = BinaryMaskOf(s);
  const BandColumns band(mask, true, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(mask, band, [&](int32_t i, int32_t j) { target.AddNew(double(i), double(j)); });
}

void CollectVerticalBand(const StateRecord& s, int32_t side, Band& target, const VT_Point& centre,
                         double maxDistance, double halfLength, double intercept, double slope) {
  const MaskColumns mask = BinaryMaskOf(s);
  const BandColumns band(mask, false, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(mask, band, [&](int32_t i, int32_t j) { target.push_back({double(j), double(i)}); });
}

void CollectVerticalBand(const StateRecord& s, int32_t side, VT_Points& target,
                         const VT_Point& centre, double maxDistance, double halfLength,
                         double intercept, double slope) {
  const MaskColumns mask = BinaryMaskOf(s);
  const BandColumns band(mask, false, side, centre, maxDistance, halfLength, intercept, slope);
  Collect(mask, band, [&](int32_t i, int32_t j) { target.AddNew(double(j), double(i)); });
}

}  // namespace qova
