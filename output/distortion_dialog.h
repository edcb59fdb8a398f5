#pragma once
// The Qt face of the distortion window: beside the main window, not modal,
// one for the whole program. It shows the logic's texts and picture, follows
// its changes, forwards its buttons, and keeps its place and size in the
// record (and so in the settings file).

#include <QWidget>

#include "output/distortion_form.h"
#include "platform/dialog_faces.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace qova {

// The picture of TDistortionForm at the widget's size.
class DistortionPictureWidget : public QWidget {
 public:
  DistortionPictureWidget(TDistortionForm& logic, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TDistortionForm& logic_;
};

class DistortionWindow : public QWidget {
 public:
  DistortionWindow(TDistortionForm& logic, QWidget* parent);
  ~DistortionWindow() override;

  QLabel* SummaryLabel;
  DistortionPictureWidget* Picture;
  QRadioButton* ResidualsButton;     // "Отклонения"
  QRadioButton* NonlinearityButton;  // "Нелинейность"
  QTableWidget* FiguresTable;
  QTableWidget* CandidatesTable;  // shown for auto only
  QLabel* NotesLabel;
  QPushButton* SaveReportButton;  // "Сохранить отчёт…"
  QPushButton* SaveModelButton;   // "Сохранить модель…"
  QPushButton* CloseButton;       // "Закрыть"

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Refresh();
  void KeepPlace();
  TDistortionForm& logic_;
};

// Registers the window's maker; the Qt platform's faces hold it.
void RegisterDistortionWindow(DialogFaces& faces);

}  // namespace qova
