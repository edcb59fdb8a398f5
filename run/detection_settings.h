#pragma once
// The detection's settings for a run without the window: read from the
// settings file as the window reads them, without the window's state.

#include <string>

#include "state/calibration_params.h"
#include "state/detection_params.h"

namespace qova {

// The folder the program runs in; "." when it cannot be had.
std::string CurrentFolder();

// The settings file the window takes for an image: the first *.ini of the
// image's folder, else QOVAUser.ini of the current folder.
std::string SettingsFileOfImage(const std::string& imagePath);

struct LoadedParams {
  // The file's values over the defaults; the defaults when it is missing or
  // cannot be read.
  DetectionParams params;
  CalibrationParams calibration;  // the same for the calibration's keys
  bool fileMissing = false;       // no file at the path: the defaults, as the window takes them
  std::string error;              // the message when the file exists but cannot be read
};

// The detection's and the calibration's settings of the settings file at path, numbers read with
// the decimal separator of the user's locale (the batch platform's).
[[nodiscard]] LoadedParams LoadDetectionParams(const std::string& path);

}  // namespace qova
