#include "output/mess_form.h"

#include "core/cp1251.h"
#include "core/qova_error.h"

namespace qova {

FileDialogParams TMessForm::TextSaveDialog() {
  return FileDialogParams{kTextFilter, kTextDefaultExt, "", ""};
}

std::string TMessForm::FileText() const {
  std::string bytes;
  for (const std::string& line : ListBox1) {
    bytes += Utf8ToCp1251(line);
    bytes += "\r\n";
  }
  return bytes;
}

void TMessForm::OKClick() {
  CancelledByUser = false;
  Close();
}

void TMessForm::CancelClick() {
  CancelledByUser = true;
  Close();
}

void TMessForm::SaveClick() {
  const auto path = desktop_.RunSaveDialog(TextSaveDialog());
  if (!path) return;
  try {
    desktop_.WriteFile(*path, FileText());
  } catch (const QovaError& e) {
    // The window stays open, so the user can try another name.
    desktop_.MessageBox(e.what(), "Ошибка", MsgButtons::Ok);
  }
}

}  // namespace qova
