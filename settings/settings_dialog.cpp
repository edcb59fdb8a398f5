#include "settings/settings_dialog.h"

#include "settings/settings_file.h"

namespace qova {

namespace {

// As the file's writer captions its own refusal.
constexpr const char* kRefusalCaption = "Ошибка";

}  // namespace

std::string SettingsCaption(const StateRecord& s, const std::string& prefix) {
  if (s.SettingsFileMissing) return prefix + kInitialSettingsName;
  const size_t slash = s.SettingsPath.find_last_of('/');
  return prefix + (slash == std::string::npos ? s.SettingsPath : s.SettingsPath.substr(slash + 1));
}

FileDialogParams IniSaveDialog(const StateRecord& s) {
  FileDialogParams params;
  params.filter = kIniFilter;
  params.defaultExt = kIniDefaultExt;
  params.fileName = s.SettingsPath;
  return params;
}

void SaveSettings(StateRecord& s, ModalDialog& dialog, const std::function<bool()>& apply) {
  const std::optional<std::string> chosen = s.Desktop.RunSaveDialog(IniSaveDialog(s));
  if (!chosen) {
    dialog.Close();
    return;
  }
  if (!apply()) return;
  s.SettingsPath = *chosen;
  WriteSettings(s, s.SettingsPath);
  dialog.Close();
}

void ReportConversionError(StateRecord& s) {
  s.Desktop.MessageBox(kConversionErrorText, kConversionErrorCaption, MsgButtons::Ok);
}

int RefuseTextsTheFileCannotHold(StateRecord& s, std::initializer_list<const std::string*> texts) {
  int index = 0;
  for (const std::string* text : texts) {
    if (const auto refusal = RefusalOfText(*text)) {
      s.Desktop.MessageBox(*refusal, kRefusalCaption, MsgButtons::Ok);
      return index;
    }
    ++index;
  }
  return -1;
}

}  // namespace qova
