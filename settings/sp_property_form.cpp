#include "settings/sp_property_form.h"

#include <algorithm>
#include <cmath>

#include "core/number_text.h"
#include "settings/settings_dialog.h"

namespace qova {

namespace {

// The fragmentation parameter of each radio item.
constexpr int32_t kFragmentation[] = {-1, 2, 4};

}  // namespace

void TSpecialPropertysForm::SetContrastTrackBar(int position) {
  ContrastTrackBar = std::clamp(position, kContrastMin, kContrastMax);
}

void TSpecialPropertysForm::Execute() {
  Caption = SettingsCaption(state_, kSpecialPropertysCaption);
  // Clamped before truncating: the slider ends at ±30 anyway, and a huge
  // value from a hand-edited file must not overflow the conversion.
  const double level = std::clamp(state_.KontrastLevel, double{kContrastMin}, double{kContrastMax});
  SetContrastTrackBar(static_cast<int>(level));
  for (int item = 0; item < 3; ++item)
    if (state_.FragmentationWidth == kFragmentation[item]) JRadioGroup = item;
  Edit6 = std::to_string(state_.SearchWindowHeight);
  Edit7 = std::to_string(state_.SearchWindowWidth);
  Edit9 = std::to_string(state_.IncreasePorog);
  const char sep = state_.Desktop.DecimalSeparator();
  Edit14 = FormatGeneral(state_.CrossWindowWidth, sep);
  Edit8 = FormatGeneral(state_.CrossIncreasePorog, sep);
  Edit1 = FormatGeneral(state_.MaxAngle, sep);
  PreciseCheckBox = state_.PreciseRefinement;
  GridPitchXEdit = FormatGeneral(state_.Calibration.GridPitchX, sep);
  GridPitchYEdit = FormatGeneral(state_.Calibration.GridPitchY, sep);
  // A model the list lacks (a file from elsewhere) leaves the item as it was.
  if (const int item = DistortionModelIndex(state_.Calibration.DistortionModel); item >= 0)
    DistortionModelComboBox = item;
  state_.Desktop.ShowModal(*this);
}

bool TSpecialPropertysForm::ApplySpecialSettings() {
  StateRecord& s = state_;
  // The file holds the workspace's texts too; one it cannot hold refuses the
  // save before anything is applied.
  if (RefuseTextsTheFileCannotHold(s, {&s.WorkDir, &s.IndexFont.Name}) >= 0) return false;
  const char sep = s.Desktop.DecimalSeparator();
  s.KontrastLevel = ContrastTrackBar;
  const int item = std::clamp(JRadioGroup, 0, 2);
  s.FragmentationWidth = kFragmentation[item];
  s.FragmentationHeight = kFragmentation[item];
  s.PreciseRefinement = PreciseCheckBox;

  // Each field is assigned as soon as it converts; the first that does not
  // stops the rest.
  auto toInt = [&](const std::string& text, int32_t& field) {
    const auto v = ParseInt(text);
    if (v) field = *v;
    return v.has_value();
  };
  auto toFloat = [&](const std::string& text, double& field) {
    const auto v = ParseFloat(text, sep);
    if (v) field = *v;
    return v.has_value();
  };
  const bool ok = toInt(Edit6, s.SearchWindowHeight) && toInt(Edit7, s.SearchWindowWidth) &&
                  toFloat(Edit14, s.CrossWindowWidth) && toFloat(Edit8, s.CrossIncreasePorog) &&
                  toInt(Edit9, s.IncreasePorog) && toFloat(Edit1, s.MaxAngle);
  if (!ok) {
    ReportConversionError(s);
    return false;
  }
  return ApplyCalibration();
}

bool TSpecialPropertysForm::ApplyCalibration() {
  StateRecord& s = state_;
  const char sep = s.Desktop.DecimalSeparator();
  const auto x = ParseFloat(GridPitchXEdit, sep), y = ParseFloat(GridPitchYEdit, sep);
  if (!x || !y) {
    ReportConversionError(s);
    return false;
  }
  // The calibration takes both pitches or neither: a pitch along one axis
  // only would make plate units of millimetres and cells at once.
  const bool known = *x > 0 && *y > 0 && std::isfinite(*x) && std::isfinite(*y);
  if (!known && !(*x == 0 && *y == 0)) {
    s.Desktop.MessageBox(kBadPitchText, kConversionErrorCaption, MsgButtons::Ok);
    return false;
  }
  s.Calibration.GridPitchX = *x;
  s.Calibration.GridPitchY = *y;
  const auto item = static_cast<size_t>(
      std::clamp(DistortionModelComboBox, 0, static_cast<int>(kDistortionModelChoices.size()) - 1));
  s.Calibration.DistortionModel = std::string(kDistortionModelChoices[item].name);
  return true;
}

void TSpecialPropertysForm::Button4Click() {
  SaveSettings(state_, *this, [this] { return ApplySpecialSettings(); });
}

void TSpecialPropertysForm::Button5Click() {
  // Only the controls: the state stays until "Сохранить".
  const char sep = state_.Desktop.DecimalSeparator();
  SetContrastTrackBar(0);
  JRadioGroup = 0;
  // Whole strings, not literals: GCC 12 warns falsely (-Wrestrict) on
  // assigning short literals here.
  Edit6 = std::string("3");
  Edit7 = std::string("5");
  Edit14 = FormatGeneral(0.8, sep);
  Edit8 = FormatGeneral(0.8, sep);
  Edit9 = std::string("3");
  Edit1 = std::string("3");
  PreciseCheckBox = false;
  GridPitchXEdit = std::string("0");
  GridPitchYEdit = std::string("0");
  DistortionModelComboBox = 0;  // "нет"
}

void TSpecialPropertysForm::Button2Click() { Close(); }

}  // namespace qova
