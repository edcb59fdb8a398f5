#pragma once
// The special settings dialog: the parameters of the detection, on two tabs.

#include <string>

#include "platform/modal_dialog.h"
#include "state/distortion_models.h"
#include "state/state_record.h"

namespace qova {

inline constexpr const char* kSpecialPropertysCaption = "Специальные настройки:  ";
inline constexpr const char* kBadPitchText =
    "Шаг сетки — положительное число миллиметров по обеим осям (0 и 0 — шаг неизвестен).";

class TSpecialPropertysForm : public ModalDialog {
 public:
  static constexpr int kContrastMin = -30;
  static constexpr int kContrastMax = 30;
  enum Tab { TabGeneral = 0, TabSearchWindow = 1 };  // "Общие", "Поисковое окно"

  explicit TSpecialPropertysForm(StateRecord& state) : state_(state) {}
  // The command N5Click: fill the controls from the state and show the dialog.
  void Execute();

  // --- Controls -------------------------------------------------------------
  std::string Caption;
  int ActiveTab = TabGeneral;    // kept between showings
  int ContrastTrackBar = 0;      // -30..30
  int JRadioGroup = 0;           // 0 weak, 1 moderate, 2 strong change of brightness
  std::string Edit1;             // largest angle between cell borders
  std::string Edit6;             // primary window height
  std::string Edit7;             // primary window width
  std::string Edit14;            // crossing window width
  std::string Edit8;             // crossing pixel increase threshold
  std::string Edit9;             // border pixel increase threshold
  bool PreciseCheckBox = false;  // "Точное уточнение по яркости"
  // The group "Калибровка": the pitch in millimetres and the model.
  std::string GridPitchXEdit;  // "Шаг сетки по X, мм"
  std::string GridPitchYEdit;  // "Шаг сетки по Y, мм"
  int DistortionModelComboBox = 0;  // "Модель искажений": an index of kDistortionModelChoices

  // Sets the slider; it clamps its position to its range.
  void SetContrastTrackBar(int position);

  // --- Handlers -------------------------------------------------------------
  void Button4Click();  // "Сохранить"
  void Button5Click();  // "Восстановить исходные"
  void Button2Click();  // "Отмена"

  // Copies the controls into the state; false after a text that is no
  // number, with the fields before it already applied, or when the settings
  // file cannot hold the working folder or the font name, with nothing
  // applied. The calibration's group comes last: a pitch that is no number,
  // negative, or given along one axis only stops it there with its message.
  bool ApplySpecialSettings();

 private:
  bool ApplyCalibration();
  StateRecord& state_;
};

}  // namespace qova
