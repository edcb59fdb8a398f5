#include "tools/detect/detect_command.h"

#include <filesystem>
#include <memory>

#include "app/form.h"
#include "core/safe_save.h"
#include "output/coordinate_file.h"
#include "platform/headless_platform.h"
#include "settings/settings_file.h"

namespace qova {

namespace {

namespace fs = std::filesystem;

// A corner a person could click: a pixel of the image.
bool CornerInImage(double x, double y, const StateRecord& s) {
  return x >= 0 && y >= 0 && x <= s.ImageWidth - 1 && y <= s.ImageHeight - 1;
}

bool OpenImage(TVazeZududi_Form& form, HeadlessPlatform& desktop, const std::string& image,
               std::ostream& err) {
  std::error_code ec;
  desktop.imageToOpen = fs::absolute(image, ec).lexically_normal().string();
  try {
    form.Begin1Click();
  } catch (const std::exception& e) {
    err << "qova-detect: cannot read the image " << image << ": " << e.what() << '\n';
    return false;
  }
  if (form.ImageFileName != desktop.imageToOpen) {
    err << "qova-detect: cannot read the image " << image << '\n';
    return false;
  }
  return true;
}

bool MarkRegions(TVazeZududi_Form& form, const DetectOptions& o, std::ostream& err) {
  for (const auto& c : o.regions) {
    auto region = std::make_unique<SearchRegion>(1);
    for (int k = 0; k < 4; ++k) {
      if (!CornerInImage(c[2 * k], c[2 * k + 1], form)) {
        err << "qova-detect: corner " << k << " (" << c[2 * k] << ", " << c[2 * k + 1]
            << ") lies outside the image of " << form.ImageWidth << " x " << form.ImageHeight
            << " pixels\n";
        return false;
      }
      region->AddNew(c[2 * k], c[2 * k + 1]);
    }
    form.Regions.Append(std::move(region));
  }
  // As closing a region in the window does.
  form.RegionClosed = true;
  form.RegionMarked = true;
  form.UpdateActions();
  return true;
}

}  // namespace

int RunDetect(const DetectOptions& o, std::ostream& out, std::ostream& err) {
  HeadlessPlatform desktop(err, o.answerYes);
  TVazeZududi_Form form(desktop);  // reads QOVAUser.ini of the current folder
  if (!OpenImage(form, desktop, o.image, err)) return 2;
  if (o.settings) {
    if (!fs::is_regular_file(*o.settings)) {
      err << "qova-detect: settings file not found: " << *o.settings << '\n';
      return 2;
    }
    form.SettingsPath = *o.settings;
    ReadSettings(form, *o.settings);
  }
  form.Steps = false;  // no pictures to confirm
  if (!MarkRegions(form, o, err)) return 2;

  form.Guarded([&] { form.N4Click(); });
  if (!form.FindEnabled) return 1;  // the failure path disables find

  const std::string bytes = CoordinateFileText(form.FoundPoints, desktop.DecimalSeparator());
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
