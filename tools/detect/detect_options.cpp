#include "tools/detect/detect_options.h"

#include "core/number_text.h"

namespace qova {

const char* const kDetectUsage =
    "Usage: qova-detect IMAGE --region x0,y0,x1,y1,x2,y2,x3,y3 [--region ...]\n"
    "                   [--settings FILE] [-o OUT] [--answer yes|no] [--help]\n"
    "\n"
    "Finds the crossings of the grid lines of IMAGE inside each region and writes\n"
    "one line \"x ; y\" per point, as the window's \"Сохранить точки\" does.\n"
    "\n"
    "  --region   the four corners of a search region, in the order they would be\n"
    "             clicked (top-left, top-right, bottom-right, bottom-left);\n"
    "             repeat for more regions, taken in the order given\n"
    "  --settings settings file to read; default: the first *.ini of the image's\n"
    "             folder, else QOVAUser.ini of the current folder, else defaults\n"
    "  -o OUT     write the coordinate file OUT (replaced); default: standard output\n"
    "  --answer   the answer to the run's Yes/No questions (default yes)\n"
    "\n"
    "Exit status: 0 the run completed, 1 the points could not be found,\n"
    "2 bad usage or an image that cannot be read.\n";

namespace {

std::optional<std::array<double, 8>> ParseRegion(const std::string& text, std::string& error) {
  std::array<double, 8> corners{};
  size_t start = 0;
  for (size_t k = 0; k < 8; ++k) {
    const size_t comma = text.find(',', start);
    const bool last = k == 7;
    if (last != (comma == std::string::npos)) {
      error = "a region needs exactly four corners, eight numbers separated by commas: \"" + text +
              "\"";
      return std::nullopt;
    }
    const std::string item = text.substr(start, last ? std::string::npos : comma - start);
    const auto v = ParseFloat(item, '.');
    if (!v) {
      error = "not a number in region \"" + text + "\": \"" + item + "\"";
      return std::nullopt;
    }
    corners[k] = *v;
    start = comma + 1;
  }
  return corners;
}

}  // namespace

ParsedOptions ParseDetectOptions(const std::vector<std::string>& args) {
  DetectOptions o;
  auto fail = [](std::string text) { return ParsedOptions{std::nullopt, std::move(text)}; };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--region") {
      const auto v = value();
      if (!v) return fail("--region needs the corners x0,y0,x1,y1,x2,y2,x3,y3");
      std::string error;
      const auto region = ParseRegion(*v, error);
      if (!region) return fail(error);
      o.regions.push_back(*region);
    } else if (a == "--settings") {
      const auto v = value();
      if (!v) return fail("--settings needs a file");
      o.settings = *v;
    } else if (a == "-o" || a == "--output") {
      const auto v = value();
      if (!v) return fail("-o needs a file");
      o.output = *v;
    } else if (a == "--answer") {
      const auto v = value();
      if (!v || (*v != "yes" && *v != "no")) return fail("--answer takes yes or no");
      o.answerYes = *v == "yes";
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return fail("unknown option " + a);
    } else if (o.image.empty()) {
      o.image = a;
    } else {
      return fail("more than one image given: " + o.image + " and " + a);
    }
  }
  if (o.help) return {o, ""};
  if (o.image.empty()) return fail("no image given");
  if (o.regions.empty()) return fail("no region given (--region x0,y0,x1,y1,x2,y2,x3,y3)");
  return {o, ""};
}

}  // namespace qova
