#pragma once
// The brightness statistics window: a list of lines the run driver fills,
// shown modally in step mode, with OK, Cancel and Save.

#include <string>
#include <vector>

#include "app/platform/modal_dialog.h"
#include "app/platform/platform.h"

namespace qova {

class TMessForm : public ModalDialog {
 public:
  explicit TMessForm(Platform& desktop) : desktop_(desktop) {}

  std::vector<std::string> ListBox1;  // the lines, UTF-8
  bool CancelledByUser = false;       // the answer of the last showing

  void OKClick();
  void CancelClick();
  void SaveClick();

 private:
  Platform& desktop_;
};

}  // namespace qova
