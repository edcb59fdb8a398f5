#include "output/mess_form_dialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "output/distortion_dialog.h"

namespace qova {

MessFormDialog::MessFormDialog(TMessForm& logic, QWidget* parent) : QDialog(parent), logic_(logic) {
  setWindowTitle(QString::fromUtf8(kMessFormCaption));
  setModal(true);
  logic_.BeginShowing();  // a handler's Close() of an earlier showing must not end this one

  ListBox1 = new QListWidget(this);
  // Tab moves between the buttons only; the list is for reading.
  ListBox1->setFocusPolicy(Qt::ClickFocus);
  for (const std::string& line : logic_.ListBox1) ListBox1->addItem(QString::fromStdString(line));

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  SaveButton = new QPushButton(QStringLiteral("Save"), this);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, [this] { Forward(&TMessForm::OKClick); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { Forward(&TMessForm::CancelClick); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { Forward(&TMessForm::SaveClick); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  buttons->addWidget(SaveButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ListBox1, 1);
  layout->addLayout(buttons);
  setTabOrder(OKButton, CancelButton);
  setTabOrder(CancelButton, SaveButton);

  resize(460, 300);
  // A fixed frame: the lines are short and few.
  setFixedSize(size());
}

void MessFormDialog::Forward(void (TMessForm::*handler)()) {
  (logic_.*handler)();
  // The title-bar close and Escape reject the dialog without touching
  // CancelledByUser: only OK and Cancel answer.
  if (logic_.CloseRequested()) done(QDialog::Accepted);
}

void RegisterOutputFaces(DialogFaces& faces) {
  RegisterDistortionWindow(faces);
  faces.Register<TMessForm>([](TMessForm& logic, QWidget* parent) {
    MessFormDialog dialog(logic, parent);
    dialog.exec();
  });
}

}  // namespace qova
