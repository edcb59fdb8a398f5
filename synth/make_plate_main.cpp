// qova-make-plate: renders a synthetic grid plate and prints its true
// crossings, one "x y" per line, left to right and top to bottom.

#include <QString>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "synth/synthetic_plate.h"

namespace {

int Usage() {
  std::fprintf(
      stderr,
      "usage: qova-make-plate OUT [--width W] [--height H] [--pitch P] [--line-width L]\n"
      "                       [--angle DEG] [--origin-x X] [--origin-y Y] [--background G]\n"
      "                       [--ink G] [--falloff F] [--noise N] [--seed S]\n"
      "                       [--blur SIGMA | --defocus R | --skew A | --halo H --halo-width R]\n"
      "                       [--tilt-x T] [--tilt-y T] [--barrel K1] [--palette]\n"
      "                       [--levels N] [--depth 8|16] [--colour]\n"
      "Writes the plate to OUT (format by extension, 24-bit for .bmp, 8-bit with a\n"
      "grey palette with --palette) and prints the true crossings, one \"x y\" per\n"
      "line. Light lines on a dark plate: --ink above --background.\n"
      "--levels N: white is level N (4095: a 12-bit camera), and --background, --ink\n"
      "and --noise are in these levels. --depth renders the plate row by row straight\n"
      "into OUT (.tif, .png, .pgm, .ppm or .bmp), never holding it whole: 16 writes\n"
      "the whole levels, 8 rounds them to 8 bits; grey, or RGB with --colour.\n");
  return 2;
}

bool ParseNumber(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(out);
}

// Whole-number options: anything outside the int range is refused here
// rather than converted (which would be undefined).
bool FitsInt(double v, double least) { return v >= least && v <= 2147483647.0; }

// The file WritePlate makes for OUT's extension; none for an extension it
// does not write.
std::optional<qova::PlateFile> FileOf(const std::string& path, int depth, bool colour) {
  const std::string ext = std::filesystem::path(path).extension().string();
  qova::PlateFile f;
  f.sample = depth == 16 ? qova::SampleType::kUint16 : qova::SampleType::kUint8;
  f.channels = colour ? 3 : 1;
  if (ext == ".tif" || ext == ".tiff")
    f.format = qova::WriteFormat::kTiff;
  else if (ext == ".png")
    f.format = qova::WriteFormat::kPng;
  else if (ext == ".pgm" || ext == ".ppm")
    f.format = qova::WriteFormat::kPnm, f.channels = ext == ".ppm" ? 3 : 1;
  else if (ext == ".bmp" && depth == 8)
    f.format = qova::WriteFormat::kBmp;
  else
    return std::nullopt;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return Usage();
  const QString out = QString::fromLocal8Bit(argv[1]);
  qova::PlateParams params;
  int depth = 0;  // 0: the 8-bit picture saved by Qt, as always
  bool colour = false;
  for (int a = 2; a < argc; a += 2) {
    if (std::string(argv[a]) == "--palette" || std::string(argv[a]) == "--colour") {
      (std::string(argv[a]) == "--palette" ? params.palette : colour) = true;
      --a;  // a flag: no value follows
      continue;
    }
    double v = 0;
    if (a + 1 >= argc || !ParseNumber(argv[a + 1], v)) return Usage();
    const std::string opt = argv[a];
    const bool whole = opt == "--width" || opt == "--height" || opt == "--background" ||
                       opt == "--ink" || opt == "--seed" || opt == "--levels" || opt == "--depth";
    if (whole && !FitsInt(v, opt == "--seed" ? 0.0 : -2147483648.0)) return Usage();
    if (opt == "--width")
      params.width = static_cast<int>(v);
    else if (opt == "--height")
      params.height = static_cast<int>(v);
    else if (opt == "--pitch")
      params.pitch = v;
    else if (opt == "--line-width")
      params.lineWidth = v;
    else if (opt == "--angle")
      params.angleDeg = v;
    else if (opt == "--origin-x")
      params.originX = v;
    else if (opt == "--origin-y")
      params.originY = v;
    else if (opt == "--background")
      params.background = static_cast<int>(v);
    else if (opt == "--ink")
      params.ink = static_cast<int>(v);
    else if (opt == "--falloff")
      params.brightnessFalloff = v;
    else if (opt == "--noise")
      params.noise = v;
    else if (opt == "--seed")
      params.seed = static_cast<unsigned>(v);
    else if (opt == "--blur")
      params.blur = v;
    else if (opt == "--defocus")
      params.defocus = v;
    else if (opt == "--skew")
      params.skew = v;
    else if (opt == "--halo")
      params.halo = v;
    else if (opt == "--halo-width")
      params.haloWidth = v;
    else if (opt == "--tilt-x")
      params.tiltX = v;
    else if (opt == "--tilt-y")
      params.tiltY = v;
    else if (opt == "--barrel")
      params.barrel = v;
    else if (opt == "--levels")
      params.levels = static_cast<int>(v);
    else if (opt == "--depth" && (v == 8 || v == 16))
      depth = static_cast<int>(v);
    else
      return Usage();
  }
  try {
    qova::Plate plate;
    if (depth != 0) {
      const auto file = FileOf(argv[1], depth, colour);
      if (!file || params.palette) return Usage();
      plate = qova::WritePlate(params, argv[1], *file);
    } else {
      plate = qova::RenderPlate(params);
      if (!plate.image.save(out)) {
        std::fprintf(stderr, "qova-make-plate: cannot write %s\n", argv[1]);
        return 1;
      }
    }
    for (const auto& line : plate.crossings)
      for (const QPointF& p : line) std::printf("%.17g %.17g\n", p.x(), p.y());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qova-make-plate: %s\n", e.what());
    return 1;
  }
  return 0;
}
