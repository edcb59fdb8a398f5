#include "tools/detect/detect_command.h"

#include <filesystem>
#include <memory>

#include "core/safe_save.h"
#include "detect/detect_crossings.h"
#include "output/coordinate_file.h"
#include "platform/headless_platform.h"
#include "platform/image_file.h"
#include "settings/settings_file.h"
#include "state/state_record.h"

namespace qova {

namespace {

namespace fs = std::filesystem;

// The batch command's view of a run: the questions and the stages' own
// errors go to the error stream as the window's boxes would show them, and
// are answered from the command line.
class BatchObserver : public RunObserver {
 public:
  explicit BatchObserver(Platform& desktop) : desktop_(desktop) {}
  bool Ask(const std::string& question) override {
    return desktop_.MessageBox(question, "Предупреждение", MsgButtons::YesNo) == MsgResult::Yes;
  }
  void Report(const std::string& error) override {
    desktop_.MessageBox(error, "Ошибка", MsgButtons::Ok);
  }
  char DecimalSeparator() override { return desktop_.DecimalSeparator(); }

 private:
  Platform& desktop_;
};

std::string CurrentFolder() {
  std::error_code ec;
  const fs::path path = fs::current_path(ec);
  return ec ? std::string(".") : path.string();
}

// A corner a person could click: a pixel of the image.
bool CornerInImage(double x, double y, const QImage& image) {
  return x >= 0 && y >= 0 && x <= image.width() - 1 && y <= image.height() - 1;
}

bool MarkRegions(const DetectOptions& o, const QImage& image, RegionList& regions,
                 std::ostream& err) {
  for (const auto& c : o.regions) {
    auto region = std::make_unique<SearchRegion>(1);
    for (int k = 0; k < 4; ++k) {
      if (!CornerInImage(c[2 * k], c[2 * k + 1], image)) {
        err << "qova-detect: corner " << k << " (" << c[2 * k] << ", " << c[2 * k + 1]
            << ") lies outside the image of " << image.width() << " x " << image.height()
            << " pixels\n";
        return false;
      }
      region->AddNew(c[2 * k], c[2 * k + 1]);
    }
    regions.Append(std::move(region));
  }
  return true;
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
  return true;
}

}  // namespace

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
  RegionList regions;
  if (!MarkRegions(o, image, regions, err)) return 2;

  DetectionParams params = settings.Params();
  params.Steps = false;  // no pictures to confirm
  BatchObserver observer(desktop);
  const DetectionResult result = DetectCrossings(image, regions, params, observer);
  if (!result.Completed()) {
    desktop.MessageBox(result.message, "Ошибка", MsgButtons::Ok);
    return 1;
  }

  const std::string bytes = CoordinateFileText(result.FoundPoints, desktop.DecimalSeparator());
  if (!o.output) {
    out << bytes;
    out.flush();
    return 0;
  }
  try {
    SafeSave(*o.output, bytes);
  } catch (const std::exception& e) {
    err << "qova-detect: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace qova
