#pragma once
// The command line of qova-undistort.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "calib/resample.h"
#include "image/image_writer.h"

namespace qova {

struct UndistortOptions {
  std::string image;
  std::string model;                // --model: the model file
  std::string output;               // -o
  std::optional<double> pixelSize;  // --pixel-size, plate units (mm, or cells) a pixel
  bool regionOnly = false;          // the extent of the model's regions, not the image's
  calib::Interpolation interpolation = calib::Interpolation::Cubic;
  int threads = 0;                                  // 0: one a core
  std::optional<std::pair<double, double>> origin;  // --origin U0,V0
  std::optional<std::pair<int64_t, int64_t>> size;  // --size W,H
  bool force = false;                 // go on with a model made for another image size
  std::optional<WriteFormat> format;  // default: by the output's suffix
  bool help = false;
  bool version = false;
};

struct ParsedUndistortOptions {
  std::optional<UndistortOptions> options;
  std::string error;
};

// GNU conventions, as qova-detect's: "--opt value" and "--opt=value", options
// and the image in any order, "--" ends the options. Not reentrant.
[[nodiscard]] ParsedUndistortOptions ParseUndistortOptions(const std::vector<std::string>& args);

// The output format a file name's suffix names (.png, .tif, .tiff, .pgm,
// .ppm, .pnm, .bmp, any case); empty for others.
[[nodiscard]] std::optional<WriteFormat> FormatOfName(const std::string& path);

extern const char* const kUndistortUsage;

}  // namespace qova
