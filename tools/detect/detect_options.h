#pragma once
// The command line of qova-detect.

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace qova {

struct DetectOptions {
  std::string image;
  std::vector<std::array<double, 8>> regions;  // x0,y0,x1,y1,x2,y2,x3,y3 each
  std::optional<std::string> settings;
  std::optional<std::string> output;
  bool answerYes = true;
  bool help = false;
};

// The options, or the text of what is wrong with the command line.
struct ParsedOptions {
  std::optional<DetectOptions> options;
  std::string error;
};

ParsedOptions ParseDetectOptions(const std::vector<std::string>& args);

extern const char* const kDetectUsage;

}  // namespace qova
