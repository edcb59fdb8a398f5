#include "settings/settings_file.h"
#include "settings/special_propertys_form.h"
#include "settings/user_propertys_form.h"
namespace qova {
// Being built.
void ReadSettings(StateRecord& s, const std::string&) { s.SettingsFileMissing = true; s.SetDialogFolder(s.WorkDir); }
void WriteSettings(StateRecord&, const std::string&) {}
void TSpecialPropertysForm::Execute() {}
void TUserPropertysForm::Execute() {}
}  // namespace qova
