#pragma once
// The machine-readable forms of a run of qova-detect: CSV and JSON (the
// coordinate file is output/coordinate_file's).

#include <optional>
#include <string>
#include <vector>

#include "calib/model.h"
#include "run/detect_crossings.h"
#include "run/run_calibration.h"
#include "run/script_observer.h"
#include "tools/detect/detect_options.h"

namespace qova {

// What the command line and the settings file ask of the calibration.
struct CalibrationPlan {
  enum class Mode {
    None,   // no calibration: every output as without one
    Fit,    // a model fitted to the run's points
    Apply,  // a model file's model maps them to the plate
  };
  Mode mode = Mode::None;
  CalibrationRequest request;             // Fit
  std::optional<calib::Model> model;      // Apply: the model read
  std::optional<std::string> modelFile;   // Apply: the file read; Fit: --save-model
  std::optional<std::string> reportFile;  // Fit: --report
};

// Everything the JSON report tells beyond the detection's result.
struct RunReport {
  std::string image;  // as given
  int32_t width = 0, height = 0;
  // An image deeper than 8 bits a sample: its bits a sample and the range
  // of values it uses; none for 8-bit images.
  struct Depth {
    int bits = 16;
    double min = 0, max = 0;
  };
  std::optional<Depth> depth;
  std::vector<RegionCorners> regions;
  std::optional<std::string> settingsFile;  // the file read; none: the defaults
  DetectionParams params;                   // in effect
  std::vector<AskedQuestion> questions;
  std::vector<std::string> reports;  // errors a stage reported before going on
  CalibrationPlan calibration;
};

// A header line "index,x,y" (with the precise stage also
// "sigma_x,sigma_y,standard_error,origin") and one line a point, index from
// 1, numbers with 17 significant digits and '.' whatever the locale, LF line
// ends. A point the precise stage did not refine leaves its last four
// fields empty. With calibrationColumns, every line also has
// "frame,column,row,plate_u,plate_v,residual_x,residual_y,outlier" from
// result.calibration, empty where not computed (outlier 1 or 0).
std::string CsvText(const DetectionResult& result, bool preciseStage,
                    bool calibrationColumns = false);

// The whole run as one JSON document (share/qova-detect.schema.json). A
// failed run lists no points. With a calibration planned, the points gain
// frame, column, row, plate, residual and outlier (null where not
// computed), and the document a "calibration" object.
std::string JsonText(const RunReport& report, const DetectionResult& result);

}  // namespace qova
