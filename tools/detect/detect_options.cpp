#include "tools/detect/detect_options.h"

#include <getopt.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "calib/calib_error.h"
#include "calib/calibrate.h"
#include "core/number_text.h"

namespace qova {

const char* const kDetectUsage =
    "Usage: qova-detect [OPTION]... IMAGE\n"
    "Finds the crossings of the grid lines of IMAGE inside each search region and\n"
    "writes one line \"x ; y\" per point, as the window's \"Сохранить точки\" does.\n"
    "\n"
    "Options:\n"
    "      --region=x0,y0,x1,y1,x2,y2,x3,y3\n"
    "                        the four corners of a search region, in the order\n"
    "                        they would be clicked (top-left, top-right,\n"
    "                        bottom-right, bottom-left); repeat for more regions\n"
    "      --regions=FILE    the regions of FILE, one a line: eight numbers\n"
    "                        separated by commas or blanks; '#' starts a comment\n"
    "      --settings=FILE   settings file to read; default: the first *.ini of\n"
    "                        the image's folder, else QOVAUser.ini of the current\n"
    "                        folder, else the defaults\n"
    "  -o, --output=OUT      write OUT (replaced); default: standard output\n"
    "      --format=FORMAT   crd (default): the coordinate file, byte for byte as\n"
    "                        the window saves it; csv: a header line\n"
    "                        index,x,y[,sigma_x,sigma_y,standard_error,origin]\n"
    "                        and one line a point, '.' as the separator and full\n"
    "                        precision; json: the whole run, as described by\n"
    "                        the schema qova-detect.schema.json (installed in\n"
    "                        share/qova/)\n"
    "      --precise         the precise refinement on, whatever the settings say\n"
    "      --threads=N       threads of the precise refinement and of the\n"
    "                        calibration (default 0: one a core)\n"
    "      --answer=yes|no   the answer to the run's Yes/No questions (default yes)\n"
    "\n"
    "Calibration (after the run; the coordinate file stays as it is):\n"
    "      --model=M         fit the distortion model M from the plate to the\n"
    "                        image: affine, projective, radial, poly2 ... poly6,\n"
    "                        spline, auto (the simplest whose cross-validated RMS\n"
    "                        is within 5 % of the best), or none; default: the\n"
    "                        settings file's DistortionModel (none without it)\n"
    "      --pitch=MM, --pitch=MMX,MMY\n"
    "                        the plate's pitch in millimetres (default: the\n"
    "                        settings file's GridPitchX and GridPitchY; 0 or\n"
    "                        none: unknown, plate units are cells)\n"
    "      --origin=X,Y      column and row 0 at the crossing nearest this image\n"
    "                        point (default: the first region's first corner)\n"
    "      --report=FILE     write the calibration report (JSON,\n"
    "                        qova-calib-report.schema.json)\n"
    "      --save-model=FILE write the model (JSON, qova-model.schema.json)\n"
    "      --apply-model=FILE\n"
    "                        map the points to the plate with the model of FILE,\n"
    "                        without fitting one\n"
    "      --force           apply a model made for an image of another size\n"
    "With a calibration or --apply-model, the points of --format=csv and\n"
    "--format=json gain frame, column, row, plate (u, v), residual (dx, dy) and\n"
    "outlier, empty (null) where not computed; the schemas are installed in\n"
    "share/qova/.\n"
    "\n"
    "  -h, --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "\n"
    "Regions are taken in the order given, --region and --regions alike. A value\n"
    "follows its option after '=' or as the next argument (negative numbers\n"
    "too); \"--\" ends the options.\n"
    "\n"
    "Exit status:\n"
    "  0  the run completed;\n"
    "  1  the points could not be found (the message is on standard error; OUT\n"
    "     is left as it was, except that --format=json writes the failed run);\n"
    "  2  bad usage (also a bad --model, --pitch or --apply-model file) or an\n"
    "     image that cannot be read.\n"
    "A calibration that cannot be made (too few points, all on one line, ...)\n"
    "ends with exit status 1 and its cause on standard error; the points are\n"
    "written all the same, the report and the model file are not.\n";

namespace {

bool ReadFile(const std::string& path, std::string& text) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  text = bytes.str();
  return !in.bad();
}

// getopt_long's codes of the options without a short form.
enum LongOnly : int {
  kRegion = 256,
  kRegions,
  kSettings,
  kAnswer,
  kFormat,
  kPrecise,
  kThreads,
  kVersion,
  kModel,
  kPitch,
  kOrigin,
  kReport,
  kSaveModel,
  kApplyModel,
  kForce,
};

const option kLongOptions[] = {
    {"region", required_argument, nullptr, kRegion},
    {"regions", required_argument, nullptr, kRegions},
    {"settings", required_argument, nullptr, kSettings},
    {"output", required_argument, nullptr, 'o'},
    {"format", required_argument, nullptr, kFormat},
    {"precise", no_argument, nullptr, kPrecise},
    {"threads", required_argument, nullptr, kThreads},
    {"answer", required_argument, nullptr, kAnswer},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"model", required_argument, nullptr, kModel},
    {"pitch", required_argument, nullptr, kPitch},
    {"origin", required_argument, nullptr, kOrigin},
    {"report", required_argument, nullptr, kReport},
    {"save-model", required_argument, nullptr, kSaveModel},
    {"apply-model", required_argument, nullptr, kApplyModel},
    {"force", no_argument, nullptr, kForce},
    {nullptr, 0, nullptr, 0},
};

// '-': the image is returned in order as code 1, whatever POSIXLY_CORRECT
// says; ':': a missing value is reported as ':' and nothing is printed.
constexpr const char* kShortOptions = "-:ho:";

// What a missing value of option code means.
std::string MissingValue(int code, const std::string& written) {
  switch (code) {
    case kRegion:
      return "--region needs the corners x0,y0,x1,y1,x2,y2,x3,y3";
    case kRegions:
      return "--regions needs a file";
    case kSettings:
      return "--settings needs a file";
    case kFormat:
      return "--format takes crd, csv or json";
    case kThreads:
      return "--threads needs a number of threads";
    case kAnswer:
      return "--answer takes yes or no";
    case kModel:
      return "--model needs a model name";
    case kPitch:
      return "--pitch needs the pitch in millimetres (MM or MMX,MMY)";
    case kOrigin:
      return "--origin needs an image point X,Y";
    case kReport:
      return "--report needs a file";
    case kSaveModel:
      return "--save-model needs a file";
    case kApplyModel:
      return "--apply-model needs a model file";
    default:
      break;
  }
  return (written.rfind("--", 0) == 0 ? std::string("--output") : std::string("-o")) +
         " needs a file";
}

// The long options whose names begin with what was written (up to any '=').
std::vector<std::string> LongOptionsStartingWith(const std::string& written) {
  const std::string name = written.substr(2, written.find('=') - 2);
  std::vector<std::string> names;
  for (const option* o = kLongOptions; o->name != nullptr; ++o)
    if (std::string(o->name).rfind(name, 0) == 0) names.push_back(std::string("--") + o->name);
  return names;
}

// An option getopt refused: unknown, ambiguous, or a flag given a value.
std::string RefusedOption(int code, const std::string& written) {
  const bool isLong = written.rfind("--", 0) == 0;
  if (isLong) {
    const std::string name = written.substr(0, written.find('='));
    if (code != 0) return "option " + name + " takes no value";
    const auto candidates = LongOptionsStartingWith(written);
    if (candidates.size() > 1) {
      std::string text = "ambiguous option " + name + " (";
      for (size_t i = 0; i < candidates.size(); ++i) text += (i ? ", " : "") + candidates[i];
      return text + ")";
    }
    return "unknown option " + name;
  }
  return "unknown option -" + std::string(1, static_cast<char>(code));
}

// One or two numbers separated by a comma; nothing when the text is not that.
std::optional<std::vector<double>> NumberPair(const std::string& text) {
  std::vector<double> numbers;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const auto v = ParseFloat(text.substr(start, comma - start), '.');
    if (!v || !std::isfinite(*v)) return std::nullopt;
    numbers.push_back(*v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (numbers.size() > 2) return std::nullopt;
  return numbers;
}

std::optional<std::string> TakePitch(const std::string& value, DetectOptions& o) {
  const auto numbers = NumberPair(value);
  const std::string refusal =
      "--pitch takes the pitch in millimetres, a positive number or two as MMX,MMY (0: "
      "unknown), not \"" +
      value + "\"";
  if (!numbers) return refusal;
  const calib::Pitch pitch{numbers->front(), numbers->back()};
  try {
    calib::CheckPitch(pitch);
  } catch (const calib::CalibError&) {
    return refusal;
  }
  o.pitch = pitch;
  return std::nullopt;
}

std::optional<std::string> TakeModel(const std::string& value, DetectOptions& o) {
  if (value != "none" && value != "auto" && !calib::ParseModelKind(value)) {
    std::string known;
    for (const std::string& name : calib::ModelNames()) known += name + ", ";
    return "--model: unknown model \"" + value + "\" (known: " + known + "auto, none)";
  }
  o.model = value;
  return std::nullopt;
}

// The value of one option into o; the text of what is wrong otherwise.
std::optional<std::string> TakeOption(int code, const std::string& value, DetectOptions& o) {
  switch (code) {
    case kModel:
      return TakeModel(value, o);
    case kPitch:
      return TakePitch(value, o);
    case kOrigin: {
      const auto numbers = NumberPair(value);
      if (!numbers || numbers->size() != 2)
        return "--origin takes an image point X,Y in pixels, not \"" + value + "\"";
      o.origin = calib::Vec2((*numbers)[0], (*numbers)[1]);
      return std::nullopt;
    }
    case kReport:
      o.report = value;
      return std::nullopt;
    case kSaveModel:
      o.saveModel = value;
      return std::nullopt;
    case kApplyModel:
      o.applyModel = value;
      return std::nullopt;
    case kForce:
      o.force = true;
      return std::nullopt;
    case kRegion: {
      std::string error;
      const auto region = ParseRegion(value, error);
      if (!region) return error;
      o.regions.push_back(*region);
      return std::nullopt;
    }
    case kRegions: {
      std::string text, error;
      if (!ReadFile(value, text)) return "cannot read the regions file " + value;
      const auto regions = ParseRegionsText(text, value, error);
      if (!regions) return error;
      o.regions.insert(o.regions.end(), regions->begin(), regions->end());
      return std::nullopt;
    }
    case kSettings:
      o.settings = value;
      return std::nullopt;
    case 'o':
      o.output = value;
      return std::nullopt;
    case kFormat:
      if (value == "crd")
        o.format = OutputFormat::Crd;
      else if (value == "csv")
        o.format = OutputFormat::Csv;
      else if (value == "json")
        o.format = OutputFormat::Json;
      else
        return "--format takes crd, csv or json, not \"" + value + "\"";
      return std::nullopt;
    case kThreads: {
      const auto n = ParseInt(value);
      if (!n || *n < 0 || *n > 1024 || value.find_first_of("xX") != std::string::npos)
        return "--threads takes a number of threads from 0 to 1024, not \"" + value + "\"";
      o.threads = *n;
      return std::nullopt;
    }
    case kAnswer:
      if (value != "yes" && value != "no") return "--answer takes yes or no";
      o.answerYes = value == "yes";
      return std::nullopt;
    case kPrecise:
      o.precise = true;
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

// Options of the calibration that cannot go together.
std::optional<std::string> CalibrationConflict(const DetectOptions& o) {
  if (o.applyModel) {
    if (o.model && *o.model != "none")
      return "--apply-model and --model cannot be combined: a model given is applied, none is "
             "fitted";
    for (const auto& [given, name] : {std::pair{o.report.has_value(), "--report"},
                                      {o.saveModel.has_value(), "--save-model"},
                                      {o.pitch.has_value(), "--pitch"},
                                      {o.origin.has_value(), "--origin"}})
      if (given)
        return std::string(name) +
               " cannot go with --apply-model: the model file holds its pitch and frame, and "
               "no model is fitted";
  } else if (o.force) {
    return "--force goes only with --apply-model";
  }
  return std::nullopt;
}

std::optional<std::string> TakeImage(const std::string& image, DetectOptions& o) {
  if (o.image.empty()) {
    o.image = image;
    return std::nullopt;
  }
  return "more than one image given: " + o.image + " and " + image;
}

}  // namespace

ParsedOptions ParseDetectOptions(const std::vector<std::string>& args) {
  DetectOptions o;
  auto fail = [](std::string text) { return ParsedOptions{std::nullopt, std::move(text)}; };
  // getopt permutes its argv: a copy of the arguments, program name first.
  std::vector<std::string> storage{"qova-detect"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(storage.size());

  optind = 0;  // start afresh: getopt keeps its state between calls
  opterr = 0;
  for (;;) {
    const int code = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (code == -1) break;
    // optind has moved past the argument getopt has just read.
    const std::string written = argv[static_cast<size_t>(optind - 1)];
    std::optional<std::string> error;
    if (code == 1)
      error = TakeImage(optarg, o);
    else if (code == ':')
      error = MissingValue(optopt, written);
    else if (code == '?')
      error = RefusedOption(optopt, written);
    else
      error = TakeOption(code, optarg ? optarg : "", o);
    if (error) return fail(*error);
  }
  // After "--": everything is an image, even what begins with '-'.
  for (int i = optind; i < argc; ++i)
    if (auto error = TakeImage(argv[static_cast<size_t>(i)], o)) return fail(*error);

  if (o.help || o.version) return {o, ""};
  if (o.image.empty()) return fail("no image given");
  if (o.regions.empty())
    return fail("no region given (--region x0,y0,x1,y1,x2,y2,x3,y3 or --regions FILE)");
  if (auto error = CalibrationConflict(o)) return fail(*error);
  return {o, ""};
}

}  // namespace qova
