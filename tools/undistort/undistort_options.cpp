#include "tools/undistort/undistort_options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/number_text.h"

namespace qova {

const char* const kUndistortUsage =
    "Usage: qova-undistort IMAGE --model=MODEL.json -o OUT [OPTION]...\n"
    "Resamples IMAGE onto a regular grid over the plate, as the model fitted to\n"
    "it (qova-detect --save-model) maps the plate to the image: pixel (i, j) of\n"
    "OUT is the plate point (u0 + i*s, v0 + j*s), its value IMAGE's at the model's\n"
    "image of that point; pixels off IMAGE are 0 (transparent with alpha).\n"
    "OUT keeps IMAGE's depth and channels and records s as its resolution (TIFF,\n"
    "PNG, BMP) when the plate is in millimetres. Prints u0, v0, s, the width and\n"
    "the height, and writes them with the model's name to OUT.json.\n"
    "\n"
    "Options:\n"
    "      --model=FILE      the model file (required)\n"
    "  -o, --output=OUT      the image to write (replaced; required)\n"
    "      --pixel-size=S    s, in plate units (mm, or cells when the model's\n"
    "                        pitch is unknown); default: the mean size of an\n"
    "                        input pixel at the image's centre, so that the\n"
    "                        picture keeps about its size\n"
    "      --region-only     cover the plate under the model's regions only;\n"
    "                        default: the whole image's footprint on the plate\n"
    "      --origin=U0,V0    the plate point of pixel (0, 0) instead\n"
    "      --size=W,H        the output's width and height in pixels instead\n"
    "      --interp=KIND     linear, cubic (default; Keys, a = -0.5) or lanczos3\n"
    "      --threads=N       threads that resample (default 0: one a core)\n"
    "      --format=FORMAT   png, tiff, pnm or bmp; default: by OUT's suffix\n"
    "      --force           go on with a model made for another image size\n"
    "  -h, --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "\n"
    "By default the pixel centres lie on whole multiples of s, so images\n"
    "undistorted with the same s share one grid. A value follows its option\n"
    "after '=' or as the next argument (negative numbers too); \"--\" ends the\n"
    "options. A progress line goes to standard error for outputs over 16 MP.\n"
    "From Python, qova.undistort(image, model, ...) gives the same pixels as a\n"
    "NumPy array, and qova.undistort_grid(model, ...) u0, v0, s and the shape.\n"
    "\n"
    "Exit status:\n"
    "  0  OUT and OUT.json were written;\n"
    "  2  bad usage, an image or model file that cannot be read, a model made\n"
    "     for another image size (without --force), an output that cannot be\n"
    "     written or would exceed 2^31 pixels; nothing is left half-written.\n";

namespace {

enum LongOnly : int {
  kModel = 256,
  kPixelSize,
  kRegionOnly,
  kOrigin,
  kSize,
  kInterp,
  kThreads,
  kFormat,
  kForce,
  kVersion,
};

const option kLongOptions[] = {
    {"model", required_argument, nullptr, kModel},
    {"output", required_argument, nullptr, 'o'},
    {"pixel-size", required_argument, nullptr, kPixelSize},
    {"region-only", no_argument, nullptr, kRegionOnly},
    {"origin", required_argument, nullptr, kOrigin},
    {"size", required_argument, nullptr, kSize},
    {"interp", required_argument, nullptr, kInterp},
    {"threads", required_argument, nullptr, kThreads},
    {"format", required_argument, nullptr, kFormat},
    {"force", no_argument, nullptr, kForce},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

constexpr const char* kShortOptions = "-:ho:";

std::string NameOf(int code) {
  if (code == 'o') return "--output";
  for (const option* o = kLongOptions; o->name != nullptr; ++o)
    if (o->val == code) return std::string("--") + o->name;
  return "option";
}

std::string RefusedOption(int code, const std::string& written) {
  if (written.rfind("--", 0) == 0) {
    const std::string name = written.substr(0, written.find('='));
    if (code != 0) return "option " + name + " takes no value";
    std::vector<std::string> candidates;
    for (const option* o = kLongOptions; o->name != nullptr; ++o)
      if (std::string(o->name).rfind(name.substr(2), 0) == 0)
        candidates.push_back(std::string("--") + o->name);
    if (candidates.size() > 1) {
      std::string text = "ambiguous option " + name + " (";
      for (size_t i = 0; i < candidates.size(); ++i) text += (i ? ", " : "") + candidates[i];
      return text + ")";
    }
    return "unknown option " + name;
  }
  return "unknown option -" + std::string(1, static_cast<char>(code));
}

// Two numbers separated by a comma.
std::optional<std::pair<double, double>> ParsePair(const std::string& text) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return std::nullopt;
  const auto a = ParseFloat(std::string_view(text).substr(0, comma), '.');
  const auto b = ParseFloat(std::string_view(text).substr(comma + 1), '.');
  if (!a || !b || !std::isfinite(*a) || !std::isfinite(*b)) return std::nullopt;
  return std::pair{*a, *b};
}

std::optional<std::string> TakeOption(int code, const std::string& value, UndistortOptions& o) {
  switch (code) {
    case kModel:
      o.model = value;
      return std::nullopt;
    case 'o':
      o.output = value;
      return std::nullopt;
    case kPixelSize: {
      const auto s = ParseFloat(value, '.');
      if (!s || !std::isfinite(*s) || !(*s > 0))
        return "--pixel-size takes a size greater than 0, not \"" + value + "\"";
      o.pixelSize = *s;
      return std::nullopt;
    }
    case kRegionOnly:
      o.regionOnly = true;
      return std::nullopt;
    case kOrigin: {
      const auto p = ParsePair(value);
      if (!p) return "--origin takes two numbers U0,V0, not \"" + value + "\"";
      o.origin = p;
      return std::nullopt;
    }
    case kSize: {
      const size_t comma = value.find(',');
      const auto w = ParseInt(value.substr(0, std::min(comma, value.size())));
      const auto h = comma == std::string::npos ? std::nullopt : ParseInt(value.substr(comma + 1));
      if (!w || !h || *w <= 0 || *h <= 0 || value.find_first_of("xX") != std::string::npos)
        return "--size takes two whole numbers of pixels W,H, each at least 1, not \"" + value +
               "\"";
      o.size = std::pair<int64_t, int64_t>{*w, *h};
      return std::nullopt;
    }
    case kInterp: {
      const auto interp = calib::ParseInterpolation(value);
      if (!interp) return "--interp takes linear, cubic or lanczos3, not \"" + value + "\"";
      o.interpolation = *interp;
      return std::nullopt;
    }
    case kThreads: {
      const auto n = ParseInt(value);
      if (!n || *n < 0 || *n > 1024 || value.find_first_of("xX") != std::string::npos)
        return "--threads takes a number of threads from 0 to 1024, not \"" + value + "\"";
      o.threads = *n;
      return std::nullopt;
    }
    case kFormat: {
      const auto format = FormatOfName("." + value);
      if (!format || (value != "png" && value != "tiff" && value != "pnm" && value != "bmp"))
        return "--format takes png, tiff, pnm or bmp, not \"" + value + "\"";
      o.format = format;
      return std::nullopt;
    }
    case kForce:
      o.force = true;
      return std::nullopt;
    case 'h':
      o.help = true;
      return std::nullopt;
    case kVersion:
      o.version = true;
      return std::nullopt;
    default:
      break;
  }
  return "unknown option";
}

}  // namespace

std::optional<WriteFormat> FormatOfName(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  std::string suffix = path.substr(dot + 1);
  std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (suffix == "png") return WriteFormat::kPng;
  if (suffix == "tif" || suffix == "tiff") return WriteFormat::kTiff;
  if (suffix == "pgm" || suffix == "ppm" || suffix == "pnm") return WriteFormat::kPnm;
  if (suffix == "bmp") return WriteFormat::kBmp;
  return std::nullopt;
}

ParsedUndistortOptions ParseUndistortOptions(const std::vector<std::string>& args) {
  UndistortOptions o;
  auto fail = [](std::string text) {
    return ParsedUndistortOptions{std::nullopt, std::move(text)};
  };
  std::vector<std::string> storage{"qova-undistort"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(storage.size());

  auto takeImage = [&](const std::string& image) -> std::optional<std::string> {
    if (!o.image.empty()) return "more than one image given: " + o.image + " and " + image;
    o.image = image;
    return std::nullopt;
  };
  optind = 0;  // start afresh: getopt keeps its state between calls
  opterr = 0;
  for (;;) {
    const int code = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (code == -1) break;
    const std::string written = argv[static_cast<size_t>(optind - 1)];
    std::optional<std::string> error;
    if (code == 1)
      error = takeImage(optarg);
    else if (code == ':')
      error = NameOf(optopt) + " needs a value";
    else if (code == '?')
      error = RefusedOption(optopt, written);
    else
      error = TakeOption(code, optarg ? optarg : "", o);
    if (error) return fail(*error);
  }
  for (int i = optind; i < argc; ++i)
    if (auto error = takeImage(argv[static_cast<size_t>(i)])) return fail(*error);

  if (o.help || o.version) return {o, ""};
  if (o.image.empty()) return fail("no image given");
  if (o.model.empty()) return fail("no model given (--model MODEL.json)");
  if (o.output.empty()) return fail("no output given (-o OUT)");
  if (!o.format && !FormatOfName(o.output))
    return fail(
        "the output's suffix names no format this program writes (.png, .tif, .tiff, "
        ".pgm, .ppm, .pnm, .bmp): " +
        o.output + "; name one with --format");
  if (o.regionOnly && o.origin && o.size)
    return fail("--region-only has no effect with both --origin and --size");
  return {o, ""};
}

}  // namespace qova
