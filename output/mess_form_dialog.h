#pragma once
// The Qt face of the brightness statistics window: it shows the lines of
// TMessForm and forwards its three buttons to the logic.

#include <QDialog>

#include "output/mess_form.h"
#include "platform/dialog_faces.h"

class QListWidget;
class QPushButton;

namespace qova {

class MessFormDialog : public QDialog {
 public:
  MessFormDialog(TMessForm& logic, QWidget* parent = nullptr);

  QListWidget* ListBox1;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  QPushButton* SaveButton;

 private:
  // Runs a button's handler and ends the showing when the handler asked to.
  void Forward(void (TMessForm::*handler)());

  TMessForm& logic_;
};

// Registers the faces of the statistics window and the distortion window;
// the Qt platform calls this once.
void RegisterOutputFaces(DialogFaces& faces);

}  // namespace qova
