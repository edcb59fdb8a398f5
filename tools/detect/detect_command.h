#pragma once
// qova-detect: the detection for scripts, without the window.

#include <ostream>
#include <string>

#include "core/search_region.h"
#include "tools/detect/detect_options.h"

namespace qova {

// Reads the image and the settings as the window does, marks the regions,
// runs the detection and writes the coordinate file (or its CSV or JSON
// form). Returns the exit status: 0 completed, 1 the run ended through its
// failure path (or the result could not be written), 2 bad usage or an image
// that cannot be read.
int RunDetect(const DetectOptions& options, std::ostream& out, std::ostream& err);

// Why a region cannot be marked on an image of width × height pixels (a
// corner a person could not click: outside its pixels); empty when it can.
std::string RegionOutsideImage(const RegionCorners& corners, int width, int height);

// The regions as closed search regions, in order.
RegionList MarkedRegions(const std::vector<RegionCorners>& corners);

}  // namespace qova
