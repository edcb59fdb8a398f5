#pragma once
// Calibration from one image in one call: the crossings found (with their
// standard errors and regions), the pitch, the model's name, the origin and
// the image size in; each point's column and row, plate point, residual and
// outlier flag, the model and the report out. The batch command, the Python
// module and the window call this.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "calib/fit.h"
#include "calib/lattice_index.h"
#include "calib/model.h"
#include "calib/report.h"

namespace qova::calib {

struct CalibrationInput {
  std::vector<Vec2> points;  // image, px
  // Each point's standard errors (σx, σy), px, as the precise stage gives
  // them; empty: equal weights. A point with NaN has none (it gets the median
  // of the others').
  std::vector<Vec2> sigma;
  std::vector<int> region;  // each point's region (0, 1, ...); empty: all in region 0
  std::vector<std::array<Vec2, 4>> regionCorners;  // as clicked; may be empty
  int imageWidth = 0, imageHeight = 0;             // px
};

// Settings of a calibration.
struct CalibrationOptions {
  Pitch pitch;                 // mm; both 0 (default): unknown, plate units are cells
  std::string model = "auto";  // a family of ModelNames() or "auto"
  std::optional<Vec2> origin;  // (0, 0) at the crossing nearest this image point, px;
                               // default: the first region's first corner
  double sigmaFloor = 0.002;   // px: no point weighs more than one of this σ
  IndexParams index;
  FitParams fit;
};

// What became of one input point.
struct PointCalibration {
  int crossing = -1;  // its crossing in Calibration::indexing, -1: not indexed
  int frame = -1;
  int column = 0, row = 0;
  Vec2 plate;              // (u, v) = (column·pitchX, row·pitchY); NaN when not indexed
  Vec2 residual;           // observed − model, px; NaN outside the model's frame (0)
  bool outlier = false;    // its crossing was left out of the fit
  bool duplicate = false;  // it shares its crossing with another point
};

struct Calibration {
  std::vector<PointCalibration> points;  // one for each input point, in order
  Indexing indexing;
  Model model;  // of frame 0
  CalibReport report;
};

// Throws CalibError: BadInput, BadPitch, UnknownModel (checked before any
// work), NoLattice (nothing could be indexed), and the fit's causes
// (TooFewPoints, Collinear, NotDetermined, FitFailed).
Calibration Calibrate(const CalibrationInput& input, const CalibrationOptions& options);

// The checks Calibrate makes first, for callers that want to refuse bad
// arguments before a detection runs.
void CheckPitch(const Pitch& pitch);
void CheckModelName(const std::string& name);

}  // namespace qova::calib
