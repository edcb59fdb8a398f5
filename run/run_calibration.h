#pragma once
// The calibration after a run: the run's points (with the precise stage's
// standard errors where it gave them), their regions and the regions'
// corners go to calib::Calibrate, or through a model made before
// (ApplyModel). It reads the detection's result and never changes its
// points, so the detection's own outputs are the same with or without it.

#include <optional>
#include <string>
#include <vector>

#include "calib/calib_error.h"
#include "calib/calibrate.h"
#include "calib/model.h"
#include "core/search_region.h"

namespace qova {

struct DetectionResult;

// What a caller asks for after the run.
struct CalibrationRequest {
  std::string model = "auto";         // a family of calib::ModelNames() or "auto"
  calib::Pitch pitch;                 // mm; both 0: unknown, plate units are cells
  std::optional<calib::Vec2> origin;  // (0, 0) at the crossing nearest this image point, px
  int threads = 0;                    // auto's families side by side; 0: one a core
};

// What became of the calibration of a completed run.
struct RunCalibration {
  enum class Kind {
    Fitted,   // a model was fitted: fit holds it with its report
    Applied,  // a model made before mapped the points to the plate
    Failed,   // no model could be fitted: cause and message say why
  };
  Kind kind = Kind::Failed;
  // One for each point of the run, in order (Fitted and Applied). Applied
  // gives only the plate point: no index, no residual (crossing −1, NaN).
  std::vector<calib::PointCalibration> points;
  std::optional<calib::Calibration> fit;                   // Fitted
  calib::CalibCause cause = calib::CalibCause::FitFailed;  // Failed
  std::string message;                                     // Failed

  bool Succeeded() const { return kind != Kind::Failed; }
};

// The calibration's input from a run: every point with its region, the
// precise stage's (σx, σy) where it refined the point (NaN elsewhere; none
// at all when it refined nothing), the regions' corners and the image size.
calib::CalibrationInput CalibrationInputOf(const DetectionResult& result, const RegionList& regions,
                                           int imageWidth, int imageHeight);

// Fits the model asked for to a completed run's points. A calibration that
// cannot be made (too few points, all on one line, ...) is a result of kind
// Failed with the calibration's cause and message, never an exception.
[[nodiscard]] RunCalibration CalibrateRun(const DetectionResult& result, const RegionList& regions,
                                          int imageWidth, int imageHeight,
                                          const CalibrationRequest& request);

// Each point of the run mapped to the plate by a model made before
// (model.ToPlate; NaN where it does not converge), without a new fit.
[[nodiscard]] RunCalibration ApplyModel(const DetectionResult& result, const calib::Model& model);

// Whether a model was made for an image of this size; the message to warn
// with otherwise.
std::optional<std::string> ImageSizeMismatch(const calib::Model& model, int imageWidth,
                                             int imageHeight);

}  // namespace qova
