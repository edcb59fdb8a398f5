#include "run/detection_settings.h"

#include <filesystem>

#include "core/number_text.h"
#include "settings/settings_file.h"

namespace qova {

std::string CurrentFolder() {
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::current_path(ec);
  return ec ? std::string(".") : path.string();
}

std::string SettingsFileOfImage(const std::string& imagePath) {
  return SettingsFileForImage(std::filesystem::path(imagePath).parent_path().string(),
                              CurrentFolder());
}

LoadedParams LoadDetectionParams(const std::string& path) {
  LoadedParams loaded;
  const SettingsRead read =
      ReadDetectionSettings(path, LocaleDecimalSeparator(), loaded.params, &loaded.calibration);
  loaded.fileMissing = read == SettingsRead::Missing;
  if (read == SettingsRead::Failed) loaded.error = kReadErrorText;
  return loaded;
}

}  // namespace qova
