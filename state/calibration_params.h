#pragma once
// The calibration's settings, kept apart from DetectionParams: the detection
// never reads them (its points are the same whether a calibration follows or
// not), and the detection's table of keys, which the batch command's JSON
// and the Python module's settings show, stays as it is. The settings file
// holds them in its section beside the detection's keys.

#include <string>

namespace qova {

struct CalibrationParams {
  // The plate's pitch, millimetres, from column to column (settings key
  // GridPitchX) and from row to row (GridPitchY); both 0 (default): unknown,
  // and plate coordinates are then in cells.
  double GridPitchX = 0;
  double GridPitchY = 0;
  // The distortion model fitted after a run (settings key DistortionModel):
  // "none" (default: no calibration), "affine", "projective", "radial",
  // "poly2" ... "poly6", "spline" or "auto". Kept as the file has it; the
  // caller checks it before a run (a file from elsewhere may name anything).
  std::string DistortionModel = "none";

  bool WantsModel() const { return DistortionModel != "none"; }
  bool operator==(const CalibrationParams&) const = default;
};

}  // namespace qova
