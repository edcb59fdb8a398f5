// qova-make-plate: renders a synthetic grid plate and prints its true
// crossings, one "x y" per line, left to right and top to bottom; through a
// lattice distortion (any of --k1 ... --dust), "x y column row" per crossing.

#include <QString>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "synth/distorted_plate.h"
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
      "  through a lattice distortion instead of --barrel (any of these):\n"
      "                       [--pitch-y P] [--shear DEG] [--k1 K] [--k2 K]\n"
      "                       [--radial-x DX] [--radial-y DY] [--warp-x A1,...,A7]\n"
      "                       [--warp-y B1,...,B7] [--step A] [--step-period T]\n"
      "                       [--missing F] [--dust N] [--dust-radius R]\n"
      "Writes the plate to OUT (format by extension, 24-bit for .bmp, 8-bit with a\n"
      "grey palette with --palette) and prints the true crossings, one \"x y\" per\n"
      "line. Light lines on a dark plate: --ink above --background.\n"
      "--levels N: white is level N (4095: a 12-bit camera), and --background, --ink\n"
      "and --noise are in these levels. --depth renders the plate row by row straight\n"
      "into OUT (.tif, .png, .pgm, .ppm or .bmp), never holding it whole: 16 writes\n"
      "the whole levels, 8 rounds them to 8 bits; grey, or RGB with --colour.\n"
      "Through a lattice distortion (synth/lattice_distortion.h): crossing (0, 0) at\n"
      "the image centre moved by the origin, columns --pitch and rows --pitch-y\n"
      "pixels apart, turned by --angle and the rows by --shear more; then the tilt,\n"
      "a radial distortion 1 + k1 q^2 + k2 q^4 about the centre moved by (DX, DY),\n"
      "the warp's monomials (ex^2, ex ey, ey^2, ex^3, ex^2 ey, ex ey^2, ey^3) in\n"
      "pixels, and a stepping y += A sin(2 pi y / T). --missing erases that share of\n"
      "the crossings, --dust drops N dark blobs of radius R in cells. Each line then\n"
      "reads \"x y column row\" for a crossing on the image (erased ones left out).\n");
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

// Seven numbers separated by commas.
bool ParseSeven(const char* text, std::array<double, 7>& out) {
  std::string rest = text;
  for (size_t k = 0; k < 7; ++k) {
    const size_t comma = rest.find(',');
    if ((comma == std::string::npos) != (k == 6)) return false;
    if (!ParseNumber(rest.substr(0, comma).c_str(), out[k])) return false;
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
  }
  return true;
}

// The options of the lattice distortion; any of them renders through it.
struct LatticeOptions {
  bool any = false;
  double pitchY = 0;  // 0: --pitch
  double shear = 0, k1 = 0, k2 = 0, radialX = 0, radialY = 0, step = 0, stepPeriod = 400;
  std::array<double, 7> warpX{}, warpY{};
  double missing = 0, dustRadius = 3;
  int dust = 0;
};

// A lattice option and its value; false when it is none of them.
bool TakeLatticeOption(const std::string& opt, const char* text, double v, bool& ok,
                       LatticeOptions& l) {
  ok = true;
  if (opt == "--warp-x" || opt == "--warp-y") {
    ok = ParseSeven(text, opt == "--warp-x" ? l.warpX : l.warpY);
  } else if (opt == "--dust") {
    ok = FitsInt(v, 0) && v == std::floor(v);
    l.dust = ok ? static_cast<int>(v) : 0;
  } else {
    double* target = opt == "--pitch-y"       ? &l.pitchY
                     : opt == "--shear"       ? &l.shear
                     : opt == "--k1"          ? &l.k1
                     : opt == "--k2"          ? &l.k2
                     : opt == "--radial-x"    ? &l.radialX
                     : opt == "--radial-y"    ? &l.radialY
                     : opt == "--step"        ? &l.step
                     : opt == "--step-period" ? &l.stepPeriod
                     : opt == "--missing"     ? &l.missing
                     : opt == "--dust-radius" ? &l.dustRadius
                                              : nullptr;
    if (!target) return false;
    *target = v;
  }
  l.any = true;
  return true;
}

qova::DistortedPlateParams DistortedOf(const qova::PlateParams& p, const LatticeOptions& l) {
  qova::DistortedPlateParams d;
  qova::LatticeDistortion& m = d.distortion;
  m.width = p.width, m.height = p.height;
  m.originX = p.width / 2.0 + p.originX, m.originY = p.height / 2.0 + p.originY;
  m.pitchX = p.pitch, m.pitchY = l.pitchY > 0 ? l.pitchY : p.pitch;
  m.angleDeg = p.angleDeg, m.shearDeg = l.shear;
  m.tiltX = p.tiltX, m.tiltY = p.tiltY;
  m.k1 = l.k1, m.k2 = l.k2, m.radialOffsetX = l.radialX, m.radialOffsetY = l.radialY;
  m.warpX = l.warpX, m.warpY = l.warpY;
  m.stepAmplitude = l.step, m.stepPeriod = l.stepPeriod;
  d.lineWidth = p.lineWidth, d.blur = p.blur, d.defocus = p.defocus;
  d.shading.background = p.background, d.shading.ink = p.ink;
  d.shading.brightnessFalloff = p.brightnessFalloff, d.shading.noise = p.noise;
  d.shading.seed = p.seed;
  d.missing = l.missing, d.dust = l.dust, d.dustRadius = l.dustRadius;
  d.palette = p.palette;
  return d;
}

int RenderDistorted(const QString& out, const char* name, const qova::PlateParams& p,
                    const LatticeOptions& l) {
  if (p.barrel != 0 || p.skew != 0 || p.halo != 0) {
    std::fprintf(stderr,
                 "qova-make-plate: --barrel, --skew and --halo do not go with a lattice "
                 "distortion\n");
    return 2;
  }
  const qova::DistortedPlate plate = qova::RenderDistortedPlate(DistortedOf(p, l));
  if (!plate.image.save(out)) {
    std::fprintf(stderr, "qova-make-plate: cannot write %s\n", name);
    return 1;
  }
  for (const qova::TrueCrossing& c : plate.crossings)
    if (!c.erased) std::printf("%.17g %.17g %d %d\n", c.x, c.y, c.column, c.row);
  return 0;
}

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
  LatticeOptions lattice;
  int depth = 0;  // 0: the 8-bit picture saved by Qt, as always
  bool colour = false;
  for (int a = 2; a < argc; a += 2) {
    if (std::string(argv[a]) == "--palette" || std::string(argv[a]) == "--colour") {
      (std::string(argv[a]) == "--palette" ? params.palette : colour) = true;
      --a;  // a flag: no value follows
      continue;
    }
    if (a + 1 >= argc) return Usage();
    const std::string opt = argv[a];
    double v = 0;
    const bool isList = opt == "--warp-x" || opt == "--warp-y";
    if (!isList && !ParseNumber(argv[a + 1], v)) return Usage();
    bool ok = true;
    if (TakeLatticeOption(opt, argv[a + 1], v, ok, lattice)) {
      if (!ok) return Usage();
      continue;
    }
    if (isList) return Usage();
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
    if (lattice.any && (depth != 0 || colour || params.levels != 255)) {
      std::fprintf(stderr,
                   "qova-make-plate: --depth, --colour and --levels do not go with a lattice "
                   "distortion\n");
      return 2;
    }
    if (lattice.any) return RenderDistorted(out, argv[1], params, lattice);
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
