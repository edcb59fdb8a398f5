#pragma once
// The folder chooser of the workspace settings.

#include <string>

#include "app/platform/modal_dialog.h"

namespace qova {

class TDirForm : public ModalDialog {
 public:
  std::string ChosenFolder;
};

}  // namespace qova
