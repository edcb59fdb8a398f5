#include "app/gui/about_box_face.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/about_box.h"
#include "app/pixel_size_form.h"
#include "output/mess_form_dialog.h"
#include "settings/settings_widgets.h"

namespace qova {

void ShowAboutBox(TQOVAAboutBox& logic, QWidget* parent) {
  QDialog box(parent);
  box.setObjectName("QOVAAboutBox");
  box.setWindowTitle("О программе");
  auto* name = new QLabel("<b>QOVA</b>", &box);
  name->setObjectName("ProductName");
  name->setAlignment(Qt::AlignCenter);
  auto* purpose = new QLabel(
      "Автоматизированное определение координат реперных точек — пересечений линий "
      "сетки на растровых изображениях сеточных пластин.",
      &box);
  purpose->setObjectName("Comments");
  purpose->setWordWrap(true);
  auto* version = new QLabel(QString("Версия %1").arg(QOVA_VERSION), &box);
  version->setObjectName("Version");
  version->setAlignment(Qt::AlignCenter);
  auto* ok = new QPushButton("OK", &box);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &box, [&] {
    logic.OKButtonClick();
    if (logic.CloseRequested()) box.accept();
  });
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(name);
  layout->addWidget(purpose);
  layout->addWidget(version);
  layout->addWidget(ok, 0, Qt::AlignCenter);
  box.setMinimumWidth(360);
  box.exec();
}

void ShowPixelSizeForm(TPixelSizeForm& logic, QWidget* parent) {
  QDialog box(parent);
  box.setObjectName("PixelSizeForm");
  box.setWindowTitle(QString::fromUtf8(logic.Caption));
  logic.BeginShowing();
  auto* label = new QLabel(QString::fromStdString(logic.Label), &box);
  auto* edit = new QLineEdit(QString::fromStdString(logic.Edit), &box);
  edit->setObjectName("Edit");
  label->setBuddy(edit);
  QObject::connect(edit, &QLineEdit::textEdited, &box,
                   [&logic](const QString& text) { logic.Edit = text.toStdString(); });
  auto* ok = new QPushButton("OK", &box);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Отмена", &box);
  cancel->setObjectName("CancelButton");
  auto forward = [&](void (TPixelSizeForm::*handler)()) {
    (logic.*handler)();
    if (logic.CloseRequested()) box.accept();
  };
  QObject::connect(ok, &QPushButton::clicked, &box, [&] { forward(&TPixelSizeForm::OKClick); });
  QObject::connect(cancel, &QPushButton::clicked, &box,
                   [&] { forward(&TPixelSizeForm::CancelClick); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(label);
  layout->addWidget(edit);
  layout->addLayout(buttons);
  box.setMinimumWidth(420);
  edit->selectAll();
  edit->setFocus();
  box.exec();
}

void RegisterDialogFaces(DialogFaces& faces) {
  faces.Register<TQOVAAboutBox>(ShowAboutBox);
  faces.Register<TPixelSizeForm>(ShowPixelSizeForm);
  RegisterOutputFaces(faces);
  RegisterSettingsFaces(faces);
}

}  // namespace qova
