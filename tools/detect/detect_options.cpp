#include "tools/detect/detect_options.h"

#include <getopt.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
    "      --threads=N       threads of the precise refinement (default 0: one a\n"
    "                        core)\n"
    "      --answer=yes|no   the answer to the run's Yes/No questions (default yes)\n"
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
    "  2  bad usage or an image that cannot be read.\n";

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

// The value of one option into o; the text of what is wrong otherwise.
std::optional<std::string> TakeOption(int code, const std::string& value, DetectOptions& o) {
  switch (code) {
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
  return {o, ""};
}

}  // namespace qova
