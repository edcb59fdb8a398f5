// The band collectors: every set mask pixel near a line and near a centre
// point on it. Every step of every scan and the end of every refinement walk
// calls one, so each call
//   - computes the perpendicular slope tan(atan(s) + π/2) once,
//   - in every column of its pixel box visits only the rows that can lie
//     within maxDistance of the line (a bound with a pixel of slack),
//   - skips runs of unset cells eight at a time (a BinaryMask column is
//     contiguous in y), and
//   - takes the rows the geometry shows to lie inside the band without the
//     exact test (sure_rows.h).
// Every other pixel goes through the exact test as the algorithm states it,
// in the same column-by-column, row-by-row order, so the collected points
// and their order are those of the plain loop over the whole box.

#include "detect/band_collectors.h"

#include "detect/band_geometry.h"
#include "detect/sure_rows.h"

namespace qova {

namespace {

using namespace band;

// Every set pixel of the sure rows is appended as it comes, every other one
// within reach only when it passes the exact test; the order is the plain
// loop's either way.
template <class Sink>
void Collect(const MaskView& mask, const BandColumns& band, Sink&& append) {
  ForEachBandRun(
      mask, band,
      [&](int32_t i, const uint8_t* col, int32_t first, int32_t last) {
        ForEachSet(col, first, last, [&](int32_t j) { append(i, j); });
      },
      append);
}

}  // namespace

void CollectHorizontalBand(const MaskView& mask, BandSide side, const BandLine& line,
                           const BandWindow& window, Band& target) {
  Collect(mask, BandColumns(mask, true, side, line, window), [&](int32_t i, int32_t j) {
    target.push_back({double(i), double(j)});
  });
}

void CollectHorizontalBand(const MaskView& mask, BandSide side, const BandLine& line,
                           const BandWindow& window, VT_Points& target) {
  Collect(mask, BandColumns(mask, true, side, line, window),
          [&](int32_t i, int32_t j) { target.AddNew(double(i), double(j)); });
}

void CollectVerticalBand(const MaskView& mask, BandSide side, const BandLine& line,
                         const BandWindow& window, Band& target) {
  Collect(mask, BandColumns(mask, false, side, line, window), [&](int32_t i, int32_t j) {
    target.push_back({double(j), double(i)});
  });
}

void CollectVerticalBand(const MaskView& mask, BandSide side, const BandLine& line,
                         const BandWindow& window, VT_Points& target) {
  Collect(mask, BandColumns(mask, false, side, line, window),
          [&](int32_t i, int32_t j) { target.AddNew(double(j), double(i)); });
}

}  // namespace qova
