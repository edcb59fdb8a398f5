#pragma once
// The machine-readable forms of a run of qova-detect: CSV and JSON (the
// coordinate file is output/coordinate_file's).

#include <optional>
#include <string>
#include <vector>

#include "run/detect_crossings.h"
#include "run/script_observer.h"
#include "tools/detect/detect_options.h"

namespace qova {

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
};

// A header line "index,x,y" (with the precise stage also
// "sigma_x,sigma_y,standard_error,origin") and one line a point, index from
// 1, numbers with 17 significant digits and '.' whatever the locale, LF line
// ends. A point the precise stage did not refine leaves its last four
// fields empty.
std::string CsvText(const DetectionResult& result, bool preciseStage);

// The whole run as one JSON document (share/qova-detect.schema.json). A
// failed run lists no points.
std::string JsonText(const RunReport& report, const DetectionResult& result);

}  // namespace qova
