#include "tools/detect/detect_command.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/safe_save.h"
#include "output/coordinate_file.h"
#include "platform/headless_platform.h"
#include "run/detect_crossings.h"
#include "run/detection_settings.h"
#include "run/image_source.h"
#include "run/regions.h"
#include "run/run_memory.h"
#include "run/run_messages.h"
#include "run/script_observer.h"
#include "tools/detect/detect_output.h"

namespace qova {

namespace {

namespace fs = std::filesystem;

// The settings as the window reads them when it opens the image: the file
// given, else the first *.ini of the image's folder, else QOVAUser.ini of
// the current folder. A file that cannot be read leaves the defaults, with
// the window's message; a given file that is missing is bad usage (false).
bool ReadSettingsFor(const DetectOptions& o, const std::string& image, Platform& desktop,
                     RunReport& report, std::ostream& err) {
  if (o.settings && !fs::is_regular_file(*o.settings)) {
    err << "qova-detect: settings file not found: " << *o.settings << '\n';
    return false;
  }
  const std::string path = o.settings ? *o.settings : SettingsFileOfImage(image);
  const LoadedParams loaded = LoadDetectionParams(path);
  if (!loaded.error.empty()) desktop.MessageBox(loaded.error, kErrorCaption, MsgButtons::Ok);
  if (!loaded.fileMissing) report.settingsFile = path;
  report.params = loaded.params;
  return true;
}

// The run's result in the form asked for; nothing for a failed run but its
// JSON report.
std::optional<std::string> OutputText(const DetectOptions& o, const RunReport& report,
                                      const DetectionResult& result, char decimalSeparator) {
  if (o.format == OutputFormat::Json) return JsonText(report, result);
  if (!result.Completed()) return std::nullopt;
  if (o.format == OutputFormat::Csv) return CsvText(result, report.params.PreciseRefinement);
  return CoordinateFileText(result.FoundPoints, decimalSeparator);
}

}  // namespace

int RunDetect(const DetectOptions& o, std::ostream& out, std::ostream& err) {
  HeadlessPlatform desktop(err, o.answerYes);
  std::error_code ec;
  const std::string path = fs::absolute(o.image, ec).lexically_normal().string();
  std::unique_ptr<ImageSource> image;
  int32_t width = 0, height = 0;
  try {
    image = OpenImageSource(path);
    width = ImageSide(image->Info().width, path);
    height = ImageSide(image->Info().height, path);
    // A deep image is read once through before the run: a truncated file
    // or samples that are no numbers are refused here.
    CheckBeforeRun(*image);
  } catch (const std::exception& e) {
    err << "qova-detect: cannot read the image " << o.image << ": " << e.what() << '\n';
    return 2;
  }
  RunReport report;
  if (!ReadSettingsFor(o, path, desktop, report, err)) return 2;
  for (const auto& corners : o.regions) {
    const std::string outside = RegionOutsideImage(corners, width, height);
    if (!outside.empty()) {
      err << "qova-detect: " << outside << '\n';
      return 2;
    }
  }
  const RegionList regions = MarkedRegions(o.regions);

  report.image = o.image;
  report.width = width;
  report.height = height;
  if (IsDeep(image->Info()))
    report.depth = RunReport::Depth{image->Info().bits, image->Range().min, image->Range().max};
  report.regions = o.regions;
  report.params.Steps = false;  // no pictures to confirm
  if (o.precise) report.params.PreciseRefinement = true;
  PreciseParams precise;
  precise.threads = o.threads;
  // Machine-readable output takes '.' whatever the locale, its statistics
  // lines too; the coordinate file keeps the user's separator.
  const char separator = o.format == OutputFormat::Crd ? desktop.DecimalSeparator() : '.';
  // The questions and the stages' reports go to the error stream as the
  // window's boxes would show them, answered from the command line.
  ScriptObserver observer(o.answerYes, separator, &desktop);
  // A run the machine has not the memory for does not start.
  try {
    CheckRunMemory(*image, regions, report.params);
  } catch (const NotEnoughMemory& e) {
    err << "qova-detect: " << e.what() << '\n';
    return 2;
  }
  const DetectionResult result = DetectCrossings(*image, regions, report.params, observer, precise);
  report.questions = observer.questions;
  report.reports = observer.reports;
  if (!result.Completed()) desktop.MessageBox(kRunFailedText, kErrorCaption, MsgButtons::Ok);

  const auto bytes = OutputText(o, report, result, separator);
  const int status = result.Completed() ? 0 : 1;
  if (!bytes) return status;
  if (!o.output) {
    out << *bytes;
    out.flush();
    return status;
  }
  try {
    SafeSave(*o.output, *bytes);
  } catch (const std::exception& e) {
    err << "qova-detect: " << e.what() << '\n';
    return 1;
  }
  return status;
}

}  // namespace qova
