#pragma once
// qova-detect: the detection for scripts, without the window.

#include <ostream>

#include "tools/detect/detect_options.h"

namespace qova {

// Reads the image and the settings as the window does, marks the regions,
// runs the detection and writes the coordinate file (or its CSV or JSON
// form). Returns the exit status: 0 completed, 1 the run ended through its
// failure path (or the result could not be written), 2 bad usage or an image
// that cannot be read.
[[nodiscard]] int RunDetect(const DetectOptions& options, std::ostream& out, std::ostream& err);

}  // namespace qova
