#pragma once
// The main window's layout: menus, tool bars, the image view and the status
// bar. It holds no logic: every command forwards to the form, guarded so that
// an unhandled error shows the error display and the program goes on.

#include <QMainWindow>
#include <QObject>
#include <QStringList>
#include <string>
#include <vector>

#include "platform/platform.h"

class QAction;
class QLabel;
class QToolButton;

namespace qova {

class TVazeZududi_Form;
class GivingWayLabel;
class ImageView;

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(TVazeZududi_Form& form, QWidget* parent = nullptr);

  ImageView* View() const { return view_; }
  void SetStatusText(int panel, const QString& text);
  void SetCommandStates(const CommandStates& states);

  // Opens an image named from outside (the command line, a dropped file) as
  // "Открыть изображение" would: the unsaved-results question first, the
  // settings file of its folder, which becomes the current folder as the
  // open dialog leaves it. A relative path is taken from the current folder.
  void OpenFile(const QString& path);

 protected:
  // A file dropped on the window is opened once the drop is over, so that
  // the question and any error box do not hold up the program it came from.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QAction* AddCommand(QMenu* menu, const char* name, const char* caption,
                      const QKeySequence& shortcut, void (TVazeZududi_Form::*command)());
  QToolButton* AddToolButton(QToolBar* bar, const char* name, const char* hint, const QIcon& icon,
                             void (TVazeZududi_Form::*command)());
  void BuildMenus();
  void BuildViewMenu();
  void BuildToolBars();
  void BuildStatusBar();
  void ShowZoom();

  TVazeZududi_Form& form_;
  ImageView* view_ = nullptr;
  QAction* findAction_ = nullptr;  // N4
  QAction* saveAction_ = nullptr;  // N26
  QToolButton* runButton_ = nullptr;
  QToolButton* saveButton_ = nullptr;
  QLabel* panels_[kStatusPanels] = {};  // X, Y, the hint, the run's summary, the value
  GivingWayLabel* runPanel_ = nullptr;  // panels_[kRunPanel]
  QLabel* zoomPanel_ = nullptr;         // the zoom of the image view
  // "Анализ": enabled while the last run's points have a calibration.
  std::vector<QAction*> analysisActions_;
  QAction* correctAction_ = nullptr;  // "Сохранить исправленное изображение…"
};

// Sends key presses and releases in the main window to the form before the
// focused control sees them, without consuming them.
class KeyForwarder : public QObject {
 public:
  KeyForwarder(TVazeZududi_Form& form, QWidget* mainWindow);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TVazeZududi_Form& form_;
  QWidget* mainWindow_;
};

// The image named on the command line ("qova IMAGE"), opened once the event
// loop runs; arguments after the first are ignored with a note on stderr.
void OpenFromCommandLine(MainWindow& window, const QStringList& arguments);

// The form's key code of a Qt key: 13 for Return and Enter, 37..40 for the
// arrows, the letter or digit's own code, 0 for any other key.
int FormKeyCode(int qtKey);

}  // namespace qova
