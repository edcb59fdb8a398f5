#include "tools/detect/detect_command.h"

#include <filesystem>
#include <memory>
#include <sstream>

#include "core/safe_save.h"
#include "output/coordinate_file.h"
#include "platform/headless_platform.h"
#include "platform/image_file.h"
#include "run/detect_crossings.h"
#include "settings/settings_file.h"
#include "state/state_record.h"
#include "tools/detect/detect_output.h"

namespace qova {

namespace {

namespace fs = std::filesystem;

// The batch command's view of a run: the questions and the stages' own
// errors go to the error stream as the window's boxes would show them, and
// are answered from the command line; the JSON report lists them too.
class BatchObserver : public RunObserver {
 public:
  BatchObserver(Platform& desktop, char decimalSeparator, RunReport& report)
      : desktop_(desktop), separator_(decimalSeparator), report_(report) {}
  bool Ask(const std::string& question) override {
    const bool yes =
        desktop_.MessageBox(question, "Предупреждение", MsgButtons::YesNo) == MsgResult::Yes;
    report_.questions.push_back({question, yes});
    return yes;
  }
  void Report(const std::string& error) override {
    desktop_.MessageBox(error, "Ошибка", MsgButtons::Ok);
    report_.reports.push_back(error);
  }
  char DecimalSeparator() override { return separator_; }

 private:
  Platform& desktop_;
  char separator_;
  RunReport& report_;
};

std::string CurrentFolder() {
  std::error_code ec;
  const fs::path path = fs::current_path(ec);
  return ec ? std::string(".") : path.string();
}

// The settings as the window reads them when it opens the image: the file
// given, else the first *.ini of the image's folder, else QOVAUser.ini of
// the current folder. False (with a message) when a given file is missing.
bool ReadSettingsFor(const DetectOptions& o, const std::string& image, StateRecord& settings,
                     std::ostream& err) {
  std::string path;
  if (o.settings) {
    if (!fs::is_regular_file(*o.settings)) {
      err << "qova-detect: settings file not found: " << *o.settings << '\n';
      return false;
    }
    path = *o.settings;
  } else {
    path = SettingsFileForImage(fs::path(image).parent_path().string(), CurrentFolder());
  }
  ReadSettings(settings, path);
  settings.SettingsPath = path;
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

std::string RegionOutsideImage(const RegionCorners& c, int width, int height) {
  for (int k = 0; k < 4; ++k) {
    const double x = c[2 * k], y = c[2 * k + 1];
    if (!(x >= 0 && y >= 0 && x <= width - 1 && y <= height - 1)) {
      std::ostringstream text;
      text << "corner " << k << " (" << x << ", " << y << ") lies outside the image of " << width
           << " x " << height << " pixels";
      return text.str();
    }
  }
  return {};
}

RegionList MarkedRegions(const std::vector<RegionCorners>& corners) {
  RegionList regions;
  for (const auto& c : corners) {
    auto region = std::make_unique<SearchRegion>(1);
    for (int k = 0; k < 4; ++k) region->AddNew(c[2 * k], c[2 * k + 1]);
    regions.Append(std::move(region));
  }
  return regions;
}

int RunDetect(const DetectOptions& o, std::ostream& out, std::ostream& err) {
  HeadlessPlatform desktop(err, o.answerYes);
  std::error_code ec;
  const std::string path = fs::absolute(o.image, ec).lexically_normal().string();
  QImage image;
  try {
    image = LoadImageFile(path);
  } catch (const std::exception& e) {
    err << "qova-detect: cannot read the image " << o.image << ": " << e.what() << '\n';
    return 2;
  }
  StateRecord settings(desktop);
  settings.StartDir = CurrentFolder();
  if (!ReadSettingsFor(o, path, settings, err)) return 2;
  for (const auto& corners : o.regions) {
    const std::string outside = RegionOutsideImage(corners, image.width(), image.height());
    if (!outside.empty()) {
      err << "qova-detect: " << outside << '\n';
      return 2;
    }
  }
  const RegionList regions = MarkedRegions(o.regions);

  RunReport report;
  report.image = o.image;
  report.width = image.width();
  report.height = image.height();
  report.regions = o.regions;
  if (!settings.SettingsFileMissing) report.settingsFile = settings.SettingsPath;
  report.params = settings.Params();
  report.params.Steps = false;  // no pictures to confirm
  if (o.precise) report.params.PreciseRefinement = true;
  PreciseParams precise;
  precise.threads = o.threads;
  // Machine-readable output takes '.' whatever the locale, its statistics
  // lines too; the coordinate file keeps the user's separator.
  const char separator = o.format == OutputFormat::Crd ? desktop.DecimalSeparator() : '.';
  BatchObserver observer(desktop, separator, report);
  const DetectionResult result = DetectCrossings(image, regions, report.params, observer, precise);
  if (!result.Completed()) desktop.MessageBox(result.message, "Ошибка", MsgButtons::Ok);

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
