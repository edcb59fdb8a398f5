// qova-detect: detection runs for scripts, without a window.
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "tools/detect/detect_command.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // image format plug-ins
  std::vector<std::string> args(argv + 1, argv + argc);
  const qova::ParsedOptions parsed = qova::ParseDetectOptions(args);
  if (!parsed.options) {
    std::cerr << "qova-detect: " << parsed.error << "\n\n" << qova::kDetectUsage;
    return 2;
  }
  if (parsed.options->help) {
    std::cout << qova::kDetectUsage;
    return 0;
  }
  if (parsed.options->version) {
    std::cout << "qova-detect " << QOVA_VERSION << '\n';
    return 0;
  }
  return qova::RunDetect(*parsed.options, std::cout, std::cerr);
}
