#pragma once
// Painting a grid of lines through any map from pixels to the grid: each
// pixel is pulled back to the grid's coordinates (u across the "vertical"
// lines, v across the "horizontal" ones, lines at whole multiples of their
// pitch), and the line profile is laid across the mapped centre line in
// image pixels, so that the truth (the map's image of the crossings) is
// where the ink is centred. Both renderers use it: the plate through a lens
// (synthetic_plate) and the plate through a lattice distortion
// (distorted_plate).

#include <QImage>
#include <QPointF>
#include <functional>
#include <vector>

#include "synth/line_profile.h"

namespace qova {

// The grid's coordinates of a pixel position, in the units of the pitches.
struct GridCoordinates {
  double u, v;
};
using GridMap = std::function<GridCoordinates(QPointF)>;
// Gives a map for each run of points the painter maps in order (a row of
// centres, of half points, ...): a map may keep state from one point to the
// next (a start for Newton's method), and each run starting afresh makes the
// picture the same on any number of threads.
using GridMapFactory = std::function<GridMap()>;

// The grey levels around the lines.
struct PlateShading {
  int background = 230, ink = 30;
  double brightnessFalloff = 0;  // brightness from 1 at the left edge to 1 − this at the right
  double noise = 0;              // σ of the grey noise
  unsigned seed = 1;
};

// Something drawn over the grid at a pixel: given the ink share of the
// grid's lines there, the share with it (a crossing erased, a blob of dust).
using InkOverlay = std::function<double(QPointF, double)>;

// The grey of every pixel of a row before rounding: the ink share of the
// nearest line of each family (1 − (1 − cu)(1 − cv)), the overlay's say over
// it when given, shaded and with noise. Rows asked for in order reuse the
// map of the half points they share; any row may be asked for alone and
// gives the same numbers. One painter a thread.
class GridPainter {
 public:
  // Throws std::invalid_argument when the profile reaches across half a pitch.
  GridPainter(GridMapFactory maps, double pitchU, double pitchV, LineProfile profile,
              PlateShading shading, InkOverlay overlay, int width);
  void Row(int j, double* grey);

 private:
  GridMapFactory maps_;
  double pitchU_, pitchV_;
  LineProfile profile_;
  PlateShading shading_;
  InkOverlay overlay_;
  int width_;
  std::vector<GridCoordinates> centre_, sides_, above_, below_;
  int next_;  // the row whose upper half points `above_` holds
};

// Calls band(rowBegin, rowEnd) for bands of [0, height) on `threads` threads
// (0: one a core) and rethrows the first exception any of them raised.
void ForRowBands(int height, int threads, const std::function<void(int, int)>& band);

// Paints every pixel of image (Format_RGB32) as the painter's grey rounded
// to 8 bits; bands of rows on `threads` threads (0: one a core), the same
// pixels on any number. Throws std::invalid_argument when the profile
// reaches across half a pitch.
void PaintGrid(QImage& image, const GridMapFactory& maps, double pitchU, double pitchV,
               const LineProfile& profile, const PlateShading& shading,
               const InkOverlay& overlay = {}, int threads = 0);

// The grey image as indices into a grey palette that runs from white to
// black, so that a reader must look them up.
QImage ToGreyPalette(const QImage& grey);

}  // namespace qova
