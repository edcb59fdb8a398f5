#pragma once
// The workspace settings dialog: working mode, working folder, the count
// check and the look of the markers.

#include <string>

#include "platform/modal_dialog.h"
#include "settings/dir_form.h"
#include "state/state_record.h"

namespace qova {

inline constexpr const char* kUserPropertysCaption = "Настройки рабочей среды:  ";

class TUserPropertysForm : public ModalDialog {
 public:
  TUserPropertysForm(StateRecord& state, TDirForm& dirForm) : state_(state), dirForm_(dirForm) {}
  // The command N3Click: fill the controls from the state and show the dialog.
  void Execute();

  // --- Controls -------------------------------------------------------------
  std::string Caption;
  std::string Edit11;          // working folder
  bool CheckBox1 = false;      // step-by-step mode
  bool CheckBox2 = false;      // check the number of found points
  std::string Edit13;          // expected number of points
  bool Edit13Enabled = false;  // follow CheckBox2
  bool Label10Enabled = false;

  // The control holding what "Сохранить" or "Шрифт индексов" has just
  // refused, for the person to correct; the face selects it and clears this.
  enum class Control { None, Edit11, Edit13, Button7 };
  Control ToCorrect = Control::None;

  // Ticks or clears CheckBox2, by the user or the program; Edit13 and Label10
  // follow it.
  void SetCheckBox2(bool checked);

  // --- Handlers -------------------------------------------------------------
  void Button4Click();  // "Сохранить"
  void Button5Click();  // "Восстановить исходные"
  void Button2Click();  // "Отмена"
  void Button3Click();  // "..." the folder chooser
  void Button7Click();  // "Шрифт индексов"
  void Button8Click();  // "Цвет и размер маркеров"

  // Copies the controls into the state; false after a text that is no
  // number, with the fields before it already applied, or after a text the
  // settings file cannot hold, with nothing applied.
  bool ApplyWorkspaceSettings();

 private:
  StateRecord& state_;
  TDirForm& dirForm_;
};

}  // namespace qova
