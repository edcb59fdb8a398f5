#pragma once
// The command line of qova-detect.

#include <optional>
#include <string>
#include <vector>

#include "calib/model.h"
#include "run/regions.h"

namespace qova {

enum class OutputFormat {
  Crd,   // the coordinate file, exactly as the window saves it
  Csv,   // index,x,y[,sigma_x,sigma_y,standard_error,origin], full precision
  Json,  // the whole run: image, regions, settings, status, points, statistics
};

struct DetectOptions {
  std::string image;
  std::vector<RegionCorners> regions;  // --region and --regions, in the order given
  std::optional<std::string> settings;
  std::optional<std::string> output;
  OutputFormat format = OutputFormat::Crd;
  bool answerYes = true;
  bool precise = false;  // the precise refinement on, whatever the settings say
  int threads = 0;       // of the precise refinement and the calibration; 0: one a core
  // The calibration after the run. Unset: the settings file's DistortionModel,
  // GridPitchX and GridPitchY decide; model "none" asks for none.
  std::optional<std::string> model;       // --model: a family, "auto" or "none"
  std::optional<calib::Pitch> pitch;      // --pitch, mm
  std::optional<calib::Vec2> origin;      // --origin, image px
  std::optional<std::string> report;      // --report: the calibration report's file
  std::optional<std::string> saveModel;   // --save-model: the model file to write
  std::optional<std::string> applyModel;  // --apply-model: a model file to map the points with
  bool force = false;                     // --force: apply a model made for another image size
  bool help = false;
  bool version = false;
};

// The options, or the text of what is wrong with the command line.
struct ParsedOptions {
  std::optional<DetectOptions> options;
  std::string error;
};

// GNU conventions, as getopt_long gives them: "--opt value" and "--opt=value",
// options and the image in any order, "--" ends the options. A regions file
// named by --regions is read here. Not reentrant (getopt's state is global).
[[nodiscard]] ParsedOptions ParseDetectOptions(const std::vector<std::string>& args);

extern const char* const kDetectUsage;

}  // namespace qova
