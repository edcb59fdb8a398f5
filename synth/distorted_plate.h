#pragma once
// A grid plate rendered through a lattice distortion (lattice_distortion.h):
// a perspective, a radial distortion about any point, a polynomial warp, a
// scanner's stepping, a shear and unequal pitches, as a camera, a microscope
// or a scanner would show it, with the truth of every crossing: its column,
// its row and where the distortion puts it. Each pixel is pulled back to the
// lattice through ToPlate and the lines are painted as the lens renderer
// paints them (plate_paint.h), so the ink is centred on the truth. Crossings
// can be erased (a missing crossing) and dark blobs dropped in the cells
// (dust), for the tests of the indexing and the calibration.

#include <QImage>
#include <array>
#include <vector>

#include "synth/lattice_distortion.h"
#include "synth/plate_paint.h"

namespace qova {

struct DistortedPlateParams {
  // The lattice and its distortion; its width and height are the image's.
  // Its pitches are the ideal image's, pixels.
  LatticeDistortion distortion;
  double lineWidth = 3;          // pixels, across the mapped line
  double blur = 0, defocus = 0;  // as PlateParams: at most one of them
  PlateShading shading;          // grey levels, falloff, noise, seed
  double missing = 0;            // the share of crossings erased (drawn over in background)
  int dust = 0;                  // dark round blobs inside cells
  double dustRadius = 3;         // their radius, pixels
  bool palette = false;          // the image as 8-bit indices into a grey palette
  int threads = 0;  // rows painted side by side (0: one a core): the same pixels on any number
};

// One crossing of the plate inside the image.
struct TrueCrossing {
  int column = 0, row = 0;  // the lattice's (c, r): the column along the first axis
  double x = 0, y = 0;      // where the distortion puts it, px
  bool erased = false;      // drawn over: not on the image
};

struct DistortedPlate {
  QImage image;  // Format_RGB32, grey; Format_Indexed8 with params.palette
  DistortedPlateParams params;
  // Every crossing inside the image (0 ≤ x ≤ width − 1, 0 ≤ y ≤ height − 1),
  // column by column, each by row.
  std::vector<TrueCrossing> crossings;
  std::vector<SynthXY> dust;  // the blobs' centres, px

  // The corners of a region in the middle of cells, as a person clicks it:
  // cell (c, r) lies between columns c, c + 1 and rows r, r + 1; the region
  // spans `columns` × `rows` cells from it, corners top-left, top-right,
  // bottom-right, bottom-left when the lattice is turned less than 45°.
  std::array<SynthXY, 4> RegionInCells(int c, int r, int columns, int rows) const;
};

// Throws std::invalid_argument for parameters it cannot render.
DistortedPlate RenderDistortedPlate(const DistortedPlateParams& params);

}  // namespace qova
