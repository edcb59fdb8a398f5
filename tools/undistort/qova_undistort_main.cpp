// qova-undistort: an image resampled onto a regular grid over the plate.
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "tools/undistort/undistort_command.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // image format plug-ins of the formats Qt decodes
  std::vector<std::string> args(argv + 1, argv + argc);
  const qova::ParsedUndistortOptions parsed = qova::ParseUndistortOptions(args);
  if (!parsed.options) {
    std::cerr << "qova-undistort: " << parsed.error << "\n\n" << qova::kUndistortUsage;
    return 2;
  }
  if (parsed.options->help) {
    std::cout << qova::kUndistortUsage;
    return 0;
  }
  if (parsed.options->version) {
    std::cout << "qova-undistort " << QOVA_VERSION << '\n';
    return 0;
  }
  return qova::RunUndistort(*parsed.options, std::cout, std::cerr);
}
