#pragma once
// The map of an undistorted image: its pixel (i, j) is the plate point
// (u0 + i·s, v0 + j·s), and its value is the input's at the model's image of
// that point. This unit computes those image points row by row, fast, beside
// its plain twin (Model::ToImage per pixel), and chooses the grid a caller
// does not give: the pixel size at the input's centre, the input's (or the
// model's regions') footprint on the plate.

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "calib/model.h"

namespace qova::calib {

// The regular grid of the output over the plate, in plate units (mm, or cells
// when the pitch is unknown).
struct PlateGrid {
  double u0 = 0, v0 = 0;          // the plate point of output pixel (0, 0)
  double s = 1;                   // the pixel size: plate units from one output pixel to the next
  int64_t width = 0, height = 0;  // output pixels

  [[nodiscard]] Vec2 PlateOf(double i, double j) const { return Vec2(u0 + i * s, v0 + j * s); }
  [[nodiscard]] int64_t Pixels() const { return width * height; }
};

// The image points of output pixels along rows, exact per pixel (no
// interpolation of the map): the families whose terms separate in u and v
// (affine, polyN, spline) keep their u factors per column and their v
// factors per row, so a pixel costs a few multiply-adds; projective and
// radial are evaluated in full, in loops the compiler vectorises. The points
// agree with Model::ToImage to rounding (a test holds them within 1e-9 px).
class RowMapper {
 public:
  RowMapper(const Model& model, const PlateGrid& grid);

  // x[k], y[k]: the image point of output pixel (i0 + k, j), k < n; the
  // pixels must lie inside the grid. Thread-safe (const, no shared scratch).
  void MapRow(int64_t j, int64_t i0, int64_t n, double* x, double* y) const;

 private:
  const ModelData& m_;
  PlateGrid grid_;
  std::vector<double> un_;  // ũ of each output column
  // Separable families: the u factors of the columns (Legendre P_d(ũ) at
  // d·width + column; the spline's four values at 4·column + k, its first
  // function in splineFirst_).
  std::vector<double> columnFactors_;
  std::vector<int> splineFirst_;
  int stride_ = 0;
};

// The plain twin: Model::ToImage of each pixel's plate point.
void MapRowPlain(const Model& model, const PlateGrid& grid, int64_t j, int64_t i0, int64_t n,
                 double* x, double* y);

// The limit of an output's pixels (2³¹): beyond it a caller refuses the grid.
inline constexpr int64_t kMaxOutputPixels = int64_t{1} << 31;

// The mean size of an input pixel on the plate at the image's centre,
// ((W − 1)/2, (H − 1)/2): 1/√|det J| with J = ∂(x, y)/∂(u, v) there, the side
// of a square of the same plate area as the pixel, so that the output has
// about as many pixels as the input. NaN where the model cannot be inverted
// at the centre.
[[nodiscard]] double CentrePixelSize(const Model& model, int64_t width, int64_t height);

// The plate box [uMin, uMax] × [vMin, vMax] of an image's footprint: the
// outline of its pixels (x from −0.5 to W − 0.5, y likewise) mapped to the
// plate, every pixel's edge along it. Empty (NaN bounds) when no point of
// the outline maps back.
struct PlateBox {
  double uMin, uMax, vMin, vMax;
  [[nodiscard]] bool Valid() const;
};
[[nodiscard]] PlateBox ImageFootprint(const Model& model, int64_t width, int64_t height);
// The same for the model's regions (their outlines); invalid when it has none.
[[nodiscard]] PlateBox RegionsFootprint(const Model& model);

// The grid of pixel size s covering the box: pixel centres on whole
// multiples of s (images undistorted with the same s share one grid, so they
// can be laid over each other), the first and last pixels covering the
// box's edges. The size may exceed kMaxOutputPixels (the caller checks);
// width and height are 0 when s or the box is not usable.
[[nodiscard]] PlateGrid GridOver(const PlateBox& box, double s);

// What a caller asks of the output grid; what it leaves out takes the
// defaults: s the centre's pixel size, the extent the image's footprint (the
// regions' with regionOnly). An origin alone runs to the extent's far side;
// a size alone keeps the extent's origin.
struct GridRequest {
  std::optional<double> pixelSize;
  bool regionOnly = false;
  std::optional<std::pair<double, double>> origin;  // (u0, v0)
  std::optional<std::pair<int64_t, int64_t>> size;  // (width, height)
};

// Why no grid was chosen; each caller words it in its own terms (options,
// arguments).
enum class GridRefusal {
  kNone,
  kBadPixelSize,        // a given pixel size that is not a finite number > 0
  kNoCentrePixelSize,   // the model cannot be inverted at the image's centre
  kNoRegions,           // regionOnly, and no region maps to the plate
  kNoFootprint,         // no point of the image's outline maps to the plate
  kOriginBeyondExtent,  // the origin alone lies past the extent's far side
  kNoPixels,            // a size of no pixels
  kTooManyPixels,       // more than kMaxOutputPixels (the grid says how many)
};

struct GridChoice {
  PlateGrid grid;  // its width and height are kept (capped) for kTooManyPixels
  GridRefusal refusal = GridRefusal::kNone;
};

// The grid of qova-undistort, the window and the Python module over an image
// of width × height pixels.
[[nodiscard]] GridChoice ChooseGrid(const Model& model, int64_t width, int64_t height,
                                    const GridRequest& request);

}  // namespace qova::calib
