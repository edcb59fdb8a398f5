#pragma once
// The about box: the program's name and version, closed with OK.

#include "platform/modal_dialog.h"

namespace qova {

class TQOVAAboutBox : public ModalDialog {
 public:
  void OKButtonClick() { Close(); }
};

}  // namespace qova
