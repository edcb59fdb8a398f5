#pragma once
// The Qt faces of the settings dialogs. Each shows the controls of its logic,
// writes the user's edits back at once and forwards its buttons to the
// logic's handlers; a handler that calls Close() ends the showing, and the
// title-bar close ends it without any handler.

#include <QDialog>

#include "platform/dialog_faces.h"
#include "settings/color_set.h"
#include "settings/dir_form.h"
#include "settings/sp_property_form.h"
#include "settings/us_property_form.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace qova {

class UserPropertysDialog : public QDialog {
 public:
  explicit UserPropertysDialog(TUserPropertysForm& logic, QWidget* parent = nullptr);

  QLineEdit* Edit11;
  QPushButton* Button3;
  QCheckBox* CheckBox1;
  QCheckBox* CheckBox2;
  QLabel* Label10;
  QLineEdit* Edit13;
  QPushButton* Button7;
  QPushButton* Button8;
  QPushButton* Button4;
  QPushButton* Button5;
  QPushButton* Button2;

 private:
  void Refresh();
  void Forward(void (TUserPropertysForm::*handler)());
  void SelectToCorrect();
  TUserPropertysForm& logic_;
};

class SpecialPropertysDialog : public QDialog {
 public:
  explicit SpecialPropertysDialog(TSpecialPropertysForm& logic, QWidget* parent = nullptr);

  QTabWidget* Tabs;
  QSlider* ContrastTrackBar;
  QCheckBox* PreciseCheckBox;
  QRadioButton* JRadioGroup[3];
  QLineEdit* Edit1;
  QLineEdit* Edit6;
  QLineEdit* Edit7;
  QLineEdit* Edit14;
  QLineEdit* Edit8;
  QLineEdit* Edit9;
  QLineEdit* GridPitchXEdit;           // "Шаг сетки по X, мм"
  QLineEdit* GridPitchYEdit;           // "Шаг сетки по Y, мм"
  QComboBox* DistortionModelComboBox;  // "Модель искажений"
  QPushButton* Button4;
  QPushButton* Button5;
  QPushButton* Button2;

 private:
  void Refresh();
  void Forward(void (TSpecialPropertysForm::*handler)());
  TSpecialPropertysForm& logic_;
};

// The marker preview: the logic's picture, the left button shows the active
// colour while held.
class ColorPreview : public QWidget {
 public:
  ColorPreview(TColorSet& logic, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TColorSet& logic_;
};

class ColorSetDialog : public QDialog {
 public:
  explicit ColorSetDialog(TColorSet& logic, QWidget* parent = nullptr);

  QComboBox* ComboBox1;
  QComboBox* ComboBox2;
  ColorPreview* PaintBox1;
  QSlider* TrackBar1;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;

 private:
  void Forward(void (TColorSet::*handler)());
  TColorSet& logic_;
};

class DirFormDialog : public QDialog {
 public:
  explicit DirFormDialog(TDirForm& logic, QWidget* parent = nullptr);

  QComboBox* DriveComboBox1;
  QLabel* DirLabel;
  QListWidget* DirectoryListBox1;
  QPushButton* OKButton;
  QPushButton* CancelButton;

 private:
  void Refresh();
  void Forward(void (TDirForm::*handler)());
  TDirForm& logic_;
};

// The width a window needs to show its whole title in a window manager's
// title bar: the text in the bold title font, and the bar's icon and
// buttons beside it.
int WidthShowingTitle(const QString& title);

// Registers the faces of the two settings dialogs, the folder chooser and the
// marker dialog; the Qt platform calls this once.
void RegisterSettingsFaces(DialogFaces& faces);

}  // namespace qova
