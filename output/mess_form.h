#pragma once
// The brightness statistics window: a list of lines the run driver fills,
// shown modally in step mode, with OK, Cancel and Save.

#include <string>
#include <vector>

#include "platform/modal_dialog.h"
#include "platform/platform.h"

namespace qova {

inline constexpr const char* kMessFormCaption = "Статистика по яркости";
inline constexpr const char* kTextFilter = "Text files (*.txt)|*.txt";
inline constexpr const char* kTextDefaultExt = "txt";

class TMessForm : public ModalDialog {
 public:
  explicit TMessForm(Platform& desktop) : desktop_(desktop) {}

  std::vector<std::string> ListBox1;  // the lines, UTF-8
  bool CancelledByUser = false;       // the answer of the last showing

  void OKClick();
  void CancelClick();
  void SaveClick();

  // The save dialog of the statistics: no proposed name, no folder of its
  // own (the current folder).
  static FileDialogParams TextSaveDialog();
  // The list as the saved file holds it: Windows-1251, CR LF after each line.
  std::string FileText() const;

 private:
  Platform& desktop_;
};

}  // namespace qova
