#include "app/gui/about_box_face.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/about_box.h"
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

void RegisterDialogFaces(DialogFaces& faces) {
  faces.Register<TQOVAAboutBox>(ShowAboutBox);
  RegisterOutputFaces(faces);
  RegisterSettingsFaces(faces);
}

}  // namespace qova
