#include "settings/us_property_form.h"

#include "core/number_text.h"
#include "editor/markers.h"
#include "settings/color_set.h"
#include "settings/settings_dialog.h"

namespace qova {

void TUserPropertysForm::Execute() {
  Caption = SettingsCaption(state_, kUserPropertysCaption);
  CheckBox1 = state_.Steps;
  SetCheckBox2(state_.NeedPointsControl);
  Edit11 = state_.WorkDir;
  Edit13 = std::to_string(state_.NeedPointsCount);
  ToCorrect = Control::None;
  state_.Desktop.ShowModal(*this);
}

void TUserPropertysForm::SetCheckBox2(bool checked) {
  CheckBox2 = checked;
  Edit13Enabled = checked;
  Label10Enabled = checked;
}

bool TUserPropertysForm::ApplyWorkspaceSettings() {
  ToCorrect = Control::None;
  // Refused before anything is applied: a folder that cannot be saved must
  // not stay in use for the session (nor as the open dialog's folder).
  switch (RefuseTextsTheFileCannotHold(state_, {&Edit11, &state_.IndexFont.Name})) {
    case 0:
      ToCorrect = Control::Edit11;
      return false;
    case 1:
      ToCorrect = Control::Button7;
      return false;
    default:
      break;
  }
  state_.Steps = CheckBox1;
  state_.WorkDir = Edit11;
  state_.SetDialogFolder(Edit11);
  state_.NeedPointsControl = CheckBox2;
  // Converted also while Edit13 is disabled.
  const auto count = ParseInt(Edit13);
  if (!count) {
    ReportConversionError(state_);
    ToCorrect = Control::Edit13;
    return false;
  }
  state_.NeedPointsCount = *count;
  // New marker colours, size and font show at once: redrawn and put on the
  // screen, not left for the next event that happens to repaint the view.
  RedrawOverlay(state_);
  state_.Desktop.Repaint();
  return true;
}

void TUserPropertysForm::Button4Click() {
  SaveSettings(state_, *this, [this] { return ApplyWorkspaceSettings(); });
}

void TUserPropertysForm::Button5Click() {
  // Only the controls: the state stays until "Сохранить".
  CheckBox1 = false;
  SetCheckBox2(false);
  Edit11 = state_.StartDir;
  Edit13 = std::string("0");  // not a literal: GCC 12 warns falsely (-Wrestrict)
}

void TUserPropertysForm::Button2Click() { Close(); }

void TUserPropertysForm::Button3Click() {
  dirForm_.Caption = kDirFormCaption;
  dirForm_.SetDirectory(Edit11);
  dirForm_.FormShow();
  state_.Desktop.ShowModal(dirForm_);
  if (!dirForm_.ChosenFolder.empty()) Edit11 = dirForm_.ChosenFolder;
}

void TUserPropertysForm::Button7Click() {
  const std::optional<FontParams> chosen = state_.Desktop.ChooseFont(state_.IndexFont);
  if (!chosen) return;
  // A name the settings file cannot hold is refused where it is picked, so
  // it never becomes the label font that no "Сохранить" could write.
  ToCorrect = Control::None;
  if (RefuseTextsTheFileCannotHold(state_, {&chosen->Name}) >= 0) {
    ToCorrect = Control::Button7;
    return;
  }
  // The chooser offers face, style and size only: the colour, underline and
  // strikeout stay as they were.
  FontParams& font = state_.IndexFont;
  font.Name = chosen->Name;
  font.Size = chosen->Size;
  font.Bold = chosen->Bold;
  font.Italic = chosen->Italic;
}

void TUserPropertysForm::Button8Click() {
  TColorSet colorSet(state_.CrossSize, state_.PassiveColor, state_.ActiveColor);
  state_.Desktop.ShowModal(colorSet);
  if (!colorSet.ModalResultOk) return;
  state_.CrossSize = colorSet.Size;
  state_.PassiveColor = colorSet.PassiveColor;
  state_.ActiveColor = colorSet.ActiveColor;
}

}  // namespace qova
