#pragma once
// Synthetic grid plates with a known answer: the image of a rotated, shifted,
// anti-aliased grid and the exact crossings of its line centres. Tests and
// benchmarks of the detection compare what it finds with these crossings.

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <string>
#include <vector>

#include "image/image_writer.h"

namespace qova {

struct PlateParams {
  int width = 1024, height = 1024;
  double pitch = 100;               // distance of neighbouring lines, pixels
  double lineWidth = 3;             // pixels
  double angleDeg = 0;              // rotation of the grid about the image centre; positive
                                    // turns it clockwise on screen (y grows downwards)
  double originX = 0, originY = 0;  // sub-pixel shift of the grid
  int background = 230, ink = 30;   // grey levels of cells and lines, 0 … levels
  int levels = 255;                 // the level of white: 255 for 8 bits, 4095 for a 12-bit
                                    // camera, 65535 for 16 bits; background, ink and noise
                                    // are in these levels
  double brightnessFalloff = 0;     // 0..1: brightness scales from 1 at the left edge to
                                    // 1-falloff at the right
  double noise = 0;                 // standard deviation of added grey noise
  unsigned seed = 1;

  // Optics, lens and file beyond the plain grid; the defaults render exactly
  // the plain grid above. Light lines on a dark plate: ink > background.
  // Through a tilt or a barrel the lines keep their profile in image pixels
  // across the mapped centre lines, so the truth is exactly where the ink is
  // centred (a real lens would also scale the widths, and bias the centre).
  double blur = 0;       // σ of a Gaussian blur of the optics, pixels
  double defocus = 0;    // radius of a defocus disk, pixels (a profile other than the box)
  double skew = 0;       // 0..<1: ink density falls across each line from 1 at its left (top)
                         // edge to 1 - skew at the other; the line centre is its centroid
  double halo = 0;       // 0..<1: a halo beyond each line's right (lower) edge, starting at
                         // this share of the ink ...
  double haloWidth = 0;  // ... and fading as exp(−u/haloWidth); the halo is not the
                         // line: the line centre is the centre of its core
  // At most one of blur, defocus, skew and halo.
  double tiltX = 0, tiltY = 0;  // perspective: a homography about the image centre
                                // (plate_mapping.h); |tiltX| + |tiltY| <= 0.5
  double barrel = 0;            // radial distortion k1 about the image centre, |k1| <= 0.25;
                                // > 0 barrel, < 0 pincushion
  bool palette = false;         // the image as 8-bit indices into a grey palette, listed
                                // from white to black so that a reader must look them up
};

struct Plate {
  QImage image;  // Format_RGB32, grey; Format_Indexed8 with params.palette
  PlateParams params;

  // The grid: vertical line k is the set of points p with
  // (p - anchor)·across = k·pitch, horizontal line l those with
  // (p - anchor)·down = l·pitch. With no rotation `across` is (1, 0) and
  // `down` is (0, 1); the anchor is the image centre plus the origin shift.
  // With a tilt or a barrel these are the lines of the ideal image, which
  // the mapping of plate_mapping.h carries onto the pixels.
  QPointF anchor;
  QPointF across;  // unit normal of the vertical lines, pointing right
  QPointF down;    // unit normal of the horizontal lines, pointing down

  // True crossings of (mapped) line centres, pixel (i, j) being the point (i, j), only
  // those inside the image (0 <= x <= width-1, 0 <= y <= height-1):
  // crossings[n] holds the crossings of the n-th vertical line from the left
  // that has any, top to bottom; lines[n][m] is the (k, l) of crossings[n][m].
  std::vector<std::vector<QPointF>> crossings;
  std::vector<std::vector<QPoint>> lines;

  // The crossing of vertical line k and horizontal line l, inside the image
  // or not, in pixels; fractional k, l give points between lines (l = 0.5: a
  // cell row's middle).
  QPointF Crossing(double k, double l) const;
  // The smallest k and l of any crossing inside the image; cell (0, 0) lies
  // between vertical lines firstK, firstK+1 and horizontal lines firstL, firstL+1.
  int firstK = 0, firstL = 0;
};

// The plate as an 8-bit grey picture: its whole levels, rounded again to 8
// bits when params.levels is not 255 (the same plate stored in 8 bits).
Plate RenderPlate(const PlateParams& params);

// How WritePlate stores a plate: the file format, 1 (grey) or 3 (RGB, all
// three the grey) channels, 8 bits (levels rounded to 8 bits as
// RenderPlate does) or 16 (the whole levels themselves, 0 … levels).
struct PlateFile {
  WriteFormat format = WriteFormat::kTiff;
  int channels = 1;
  SampleType sample = SampleType::kUint16;
  bool compress = false;  // TIFF: Deflate
};

// Renders the plate row by row straight into the file, never holding the
// picture (a gigapixel plate costs a few rows), and returns its geometry and
// crossings (no image). Throws for refused parameters before any file is
// made, and QovaError when the file cannot be written.
Plate WritePlate(const PlateParams& params, const std::string& path, const PlateFile& file);

// Crossings strictly inside a polygon (corners in image pixels, even-odd rule),
// in the order the detection reports them: vertical line by vertical line
// (left to right), within each top to bottom.
std::vector<QPointF> CrossingsInside(const Plate& plate, const std::vector<QPointF>& polygon);

// Four corners of a region (top-left, top-right, bottom-right, bottom-left,
// i.e. clockwise on screen) lying in the middle of grid cells, `cellsX` ×
// `cellsY` cells apart, starting at cell (firstCellX, firstCellY). The region
// holds cellsX × cellsY crossings, each half a pitch from its edges.
std::vector<QPointF> RegionInCells(const Plate& plate, int firstCellX, int firstCellY, int cellsX,
                                   int cellsY);

}  // namespace qova
