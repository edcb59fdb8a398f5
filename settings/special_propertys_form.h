#pragma once
// The special settings dialog: the parameters of the detection.

#include "app/platform/modal_dialog.h"
#include "app/state/state_record.h"

namespace qova {

class TSpecialPropertysForm : public ModalDialog {
 public:
  explicit TSpecialPropertysForm(StateRecord& state) : state_(state) {}
  // The command N5Click: fill the controls from the state and show the dialog.
  void Execute();

 private:
  StateRecord& state_;
};

}  // namespace qova
