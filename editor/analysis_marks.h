#pragma once
// The marks of a run's calibration on the overlay, in image pixels as the
// found points' markers are: each crossing's column and row beside its
// marker, in the label font, and each residual as an arrow from the marker,
// scaled so that the largest is two cells long. They are shapes on the
// overlay's marks (state/layers.h): their memory follows the points, never
// the image.

#include <QRect>
#include <cstdint>
#include <vector>

#include "state/state_record.h"

namespace qova {

// What is known of one found point for the marks.
struct PointMark {
  double x = 0, y = 0;  // the point, image px (its marker is at the rounded point)
  bool indexed = false;
  int32_t column = 0, row = 0;
  double dx = 0, dy = 0;  // observed − model, px; NaN where the model gives none
  bool outlier = false;   // left out of the fit: drawn in the highlight colour
};

struct MarkOptions {
  bool indices = false;    // "Показать индексы"
  bool residuals = false;  // "Показать отклонения"
  double cellPixels = 0;   // a cell of the lattice on the image, px; the arrows' two cells
};

// The image pixels per residual pixel of the arrows: the largest residual of
// the points fitted becomes two cells long (outliers do not set the scale,
// or one wild point would shrink every other arrow to nothing); 0 when there
// is nothing to draw.
double ArrowScale(const std::vector<PointMark>& points, double cellPixels);

// Replaces the overlay's marks by those the options ask for. The index text
// goes into the quarter beside the marker that its arrow does not point
// into (below right when there is no arrow), a few pixels off both arms, so
// that a label never covers its own marker or its arrow.
void DrawAnalysisMarks(StateRecord& s, const std::vector<PointMark>& points,
                       const MarkOptions& options);

// Where the index text of a point lies: its text cell's top-left corner.
// nullopt without fonts (no GUI application).
std::optional<QPoint> IndexCellCorner(const StateRecord& s, const PointMark& point);

}  // namespace qova
