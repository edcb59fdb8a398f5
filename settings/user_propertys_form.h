#pragma once
// The workspace settings dialog.

#include "app/platform/modal_dialog.h"
#include "app/state/state_record.h"
#include "settings/dir_form.h"

namespace qova {

class TUserPropertysForm : public ModalDialog {
 public:
  TUserPropertysForm(StateRecord& state, TDirForm& dirForm) : state_(state), dirForm_(dirForm) {}
  // The command N3Click: fill the controls from the state and show the dialog.
  void Execute();

 private:
  StateRecord& state_;
  TDirForm& dirForm_;
};

}  // namespace qova
