#pragma once
// qova-undistort: an image resampled onto a regular grid over the plate.

#include <ostream>

#include "calib/undistort_map.h"
#include "tools/undistort/undistort_options.h"

namespace qova {

// The grid the options ask for over the model and an image of width × height:
// s from --pixel-size or the centre's pixel size, the extent from --origin
// and --size or the footprint (the regions' with --region-only). Empty
// (no pixels) with the reason in why when there is none.
[[nodiscard]] calib::PlateGrid OutputGrid(const UndistortOptions& options,
                                          const calib::Model& model, int64_t width, int64_t height,
                                          std::string& why);

// Reads the model and the image, writes OUT and OUT.json (each to a
// temporary file renamed into place), prints u0, v0, s, width and height to
// out; messages to err. Returns the exit status: 0 written, 2 anything that
// stopped it (nothing is then left half-written).
[[nodiscard]] int RunUndistort(const UndistortOptions& options, std::ostream& out,
                               std::ostream& err);

}  // namespace qova
