#include "app/gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <tuple>
#include <vector>

#include "app/form.h"
#include "app/gui/giving_way_label.h"
#include "app/gui/image_view.h"
#include "app/gui/tool_icons.h"

namespace qova {

namespace {

constexpr int kMinWidth = 750;
constexpr int kMinHeight = 700;
// The coordinate panels are 80 pixels wide; the hint panel takes the rest of
// the bar, never less than its whole hint and 50 pixels.
constexpr int kCoordinatePanelWidth = 80;
constexpr int kHintPanelMinWidth = 50;
constexpr int kHintPanel = 2;

// A command of the form, guarded: an error it does not handle is shown and
// the program goes on.
std::function<void()> Forwarder(TVazeZududi_Form& form, void (TVazeZududi_Form::*command)()) {
  TVazeZududi_Form* f = &form;
  return [f, command] { f->Guarded([f, command] { (f->*command)(); }); };
}

}  // namespace

MainWindow::MainWindow(TVazeZududi_Form& form, QWidget* parent) : QMainWindow(parent), form_(form) {
  setObjectName("VazeZududi_Form");
  setWindowTitle(QString::fromStdString(kMainCaption));
  setMinimumSize(kMinWidth, kMinHeight);
  resize(kMinWidth, kMinHeight);
  BuildMenus();
  BuildToolBars();
  view_ = new ImageView(form_, this);
  setCentralWidget(view_);
  BuildViewMenu();
  BuildStatusBar();
  setAcceptDrops(true);
  view_->OnZoomChanged([this](Zoom) { ShowZoom(); });
  ShowZoom();
  SetCommandStates(
      {form_.FindEnabled, form_.SaveEnabled, form_.CalibratedEnabled, form_.CorrectEnabled});
}

QAction* MainWindow::AddCommand(QMenu* menu, const char* name, const char* caption,
                                const QKeySequence& shortcut, void (TVazeZududi_Form::*command)()) {
  QAction* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(name);
  if (!shortcut.isEmpty()) {
    action->setShortcut(shortcut);
    // The shortcuts work wherever the focus is inside the main window.
    action->setShortcutContext(Qt::WindowShortcut);
  }
  connect(action, &QAction::triggered, this, Forwarder(form_, command));
  return action;
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("Файл");
  file->setObjectName("File1");
  AddCommand(file, "Begin1", "Открыть изображение", QKeySequence("Ctrl+O"),
             &TVazeZududi_Form::Begin1Click);
  saveAction_ = AddCommand(file, "N26", "Сохранить точки", QKeySequence("Ctrl+S"),
                           &TVazeZududi_Form::N26Click);
  correctAction_ = AddCommand(file, "SaveCorrectedAction", "Сохранить исправленное изображение…",
                              QKeySequence(), &TVazeZududi_Form::SaveCorrectedClick);
  file->addSeparator();
  AddCommand(file, "Exit1", "Выход", QKeySequence("Ctrl+Q"), &TVazeZududi_Form::Exit1Click);

  QMenu* settings = menuBar()->addMenu("Настройки");
  settings->setObjectName("N2");
  AddCommand(settings, "N3", "Настройки рабочей среды", QKeySequence("Ctrl+W"),
             &TVazeZududi_Form::N3Click);
  AddCommand(settings, "N5", "Специальные настройки", QKeySequence("Ctrl+P"),
             &TVazeZududi_Form::N5Click);

  QMenu* actions = menuBar()->addMenu("Действия");
  actions->setObjectName("N1");
  // "Enter" in the caption is only a hint: the key reaches the form through
  // the key forwarder, which checks that the command is enabled.
  findAction_ = AddCommand(actions, "N4", "Найти координаты      Enter", QKeySequence(),
                           &TVazeZududi_Form::N4Click);

  // The calibration of the last run's points: its window and its marks.
  QMenu* analysis = menuBar()->addMenu("Анализ");
  analysis->setObjectName("AnalysisMenu");
  analysisActions_.push_back(AddCommand(analysis, "DistortionWindowAction", "Модель искажений…",
                                        QKeySequence(), &TVazeZududi_Form::DistortionWindowClick));
  analysis->addSeparator();
  for (auto [name, caption, command] :
       {std::tuple{"ShowIndicesAction", "Показать индексы", &TVazeZududi_Form::ShowIndicesClick},
        std::tuple{"ShowResidualsAction", "Показать отклонения",
                   &TVazeZududi_Form::ShowResidualsClick}}) {
    QAction* toggle = AddCommand(analysis, name, caption, QKeySequence(), command);
    toggle->setCheckable(true);
    analysisActions_.push_back(toggle);
  }
  analysisActions_.push_back(AddCommand(analysis, "OriginAction", "Начало отсчёта", QKeySequence(),
                                        &TVazeZududi_Form::OriginClick));
  analysis->addSeparator();
  AddCommand(analysis, "LoadModelAction", "Загрузить модель…", QKeySequence(),
             &TVazeZududi_Form::LoadModelClick);

  // "Вид" goes here, before "Помощь" (BuildViewMenu, once the view exists).
  QMenu* help = menuBar()->addMenu("Помощь");
  help->setObjectName("N6");
  AddCommand(help, "N7", "Справка", QKeySequence(), &TVazeZududi_Form::N7Click);
  AddCommand(help, "N20", "О программе", QKeySequence(), &TVazeZududi_Form::N20Click);
}

// Zoom is the view's own: it changes what the screen shows, never the image
// pixels the form works in.
void MainWindow::BuildViewMenu() {
  auto* view = new QMenu("Вид", this);
  view->setObjectName("ViewMenu");
  menuBar()->insertMenu(menuBar()->actions().last(), view);
  auto add = [&](const char* name, const char* caption, QList<QKeySequence> keys,
                 std::function<void()> zoom) {
    QAction* action = view->addAction(QString::fromUtf8(caption));
    action->setObjectName(name);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, std::move(zoom));
  };
  add("ZoomToFit", "По размеру окна", {}, [this] { view_->ZoomToFit(); });
  add("ZoomOneToOne", "Масштаб 1:1", {QKeySequence("Ctrl+0")}, [this] { view_->ZoomOneToOne(); });
  add("ZoomIn", "Увеличить", {QKeySequence("Ctrl+="), QKeySequence("Ctrl++")},
      [this] { view_->ZoomIn(); });
  add("ZoomOut", "Уменьшить", {QKeySequence("Ctrl+-")}, [this] { view_->ZoomOut(); });
}

void MainWindow::ShowZoom() {
  if (zoomPanel_ != nullptr)
    zoomPanel_->setText(QString("Масштаб: %1%").arg(view_->CurrentZoom().Percent()));
}

QToolButton* MainWindow::AddToolButton(QToolBar* bar, const char* name, const char* hint,
                                       const QIcon& icon, void (TVazeZududi_Form::*command)()) {
  auto* button = new QToolButton(bar);
  button->setObjectName(name);
  button->setIcon(icon);
  button->setIconSize(QSize(22, 22));
  button->setToolTip(QString::fromUtf8(hint));
  // No status tip: a tip would cover the coordinate panels while shown.
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  connect(button, &QToolButton::clicked, this, Forwarder(form_, command));
  bar->addWidget(button);
  return button;
}

void MainWindow::BuildToolBars() {
  auto makeBar = [this](const char* name) {
    auto* bar = new QToolBar(this);
    bar->setObjectName(name);
    bar->setIconSize(QSize(22, 22));
    bar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, bar);
    return bar;
  };
  QToolBar* manual = makeBar("ToolBar1");
  AddToolButton(manual, "ToolButton2", "Ручное определение реперных точек", HandIcon(),
                &TVazeZududi_Form::ToolButton2Click);
  QToolBar* files = makeBar("ToolBar2");
  AddToolButton(files, "ToolButton6", "Открыть изображение", FolderIcon(),
                &TVazeZududi_Form::Begin1Click);
  saveButton_ = AddToolButton(files, "SaveToolButton", "Сохранить координаты", DiskIcon(),
                              &TVazeZududi_Form::N26Click);
  AddToolButton(files, "ToolButton10", "Выход", DoorIcon(), &TVazeZududi_Form::Exit1Click);
  QToolBar* run = makeBar("ToolBar3");
  runButton_ = AddToolButton(run, "RunToolButton", "Найти координаты", RunIcon(),
                             &TVazeZududi_Form::N4Click);
}

void MainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("ImageStatus");
  bar->setSizeGripEnabled(true);
  const char* initial[3] = {"X=", "Y=", ""};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(QString::fromUtf8(initial[i]), bar);
    panel->setObjectName(QString("ImageStatusPanel%1").arg(i));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAlignment(Qt::AlignVCenter | (i == 2 ? Qt::AlignRight : Qt::AlignLeft));
    if (i < 2) {
      panel->setFixedWidth(kCoordinatePanelWidth);
      bar->addWidget(panel);
    } else {
      panel->setMinimumWidth(kHintPanelMinWidth);
      // Its minimum follows the hint (SetStatusText), so that the hint is
      // always whole; the panel only takes room beyond it.
      panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
      bar->addWidget(panel, 1);
    }
    panels_[i] = panel;
  }
  // A deep image's samples under the pointer and its depth; an 8-bit image
  // has no such panel, its read-out is the pointer's place alone.
  auto* value = new QLabel(bar);
  value->setObjectName("ImageStatusValue");
  value->setFrameShape(QFrame::Panel);
  value->setFrameShadow(QFrame::Sunken);
  value->hide();
  panels_[kValuePanel] = value;
  bar->addPermanentWidget(value);
  // What the last run reports (the precise stage's summary), kept while the
  // hints change; empty, it takes no room, and short of room it gives way.
  runPanel_ = new GivingWayLabel(bar);
  runPanel_->setObjectName("ImageStatusRun");
  panels_[kRunPanel] = runPanel_;
  bar->addPermanentWidget(runPanel_);
  // The zoom at the right end, clear of the hints.
  zoomPanel_ = new QLabel(bar);
  zoomPanel_->setObjectName("ImageStatusZoom");
  zoomPanel_->setFrameShape(QFrame::Panel);
  zoomPanel_->setFrameShadow(QFrame::Sunken);
  zoomPanel_->setMinimumWidth(zoomPanel_->fontMetrics().horizontalAdvance("Масштаб: 1600%") + 8);
  bar->addPermanentWidget(zoomPanel_);
}

namespace {

// The local file a drag carries, the first one if it carries several.
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return QString();
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return QString();
}

}  // namespace

void MainWindow::OpenFile(const QString& path) {
  const QFileInfo file(path);
  const std::string full = file.absoluteFilePath().toStdString();
  bool opened = false;
  form_.Guarded([&] { opened = form_.OpenImageFromOutside(full); });
  if (opened) QDir::setCurrent(file.absolutePath());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString file = DraggedFile(event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  QTimer::singleShot(0, this, [this, file] { OpenFile(file); });
}

void OpenFromCommandLine(MainWindow& window, const QStringList& arguments) {
  if (arguments.size() < 2) return;
  for (qsizetype i = 2; i < arguments.size(); ++i)
    std::fprintf(stderr, "QOVA: one image at a time; \"%s\" is not opened\n",
                 arguments[i].toLocal8Bit().constData());
  // Taken from the folder the program started in, before anything changes it.
  const QString path = QFileInfo(arguments[1]).absoluteFilePath();
  QTimer::singleShot(0, &window, [&window, path] { window.OpenFile(path); });
}

void MainWindow::SetStatusText(int panel, const QString& text) {
  if (panel < 0 || panel >= kStatusPanels) return;
  if (panel == kRunPanel) {
    runPanel_->SetWholeText(text);
    return;
  }
  panels_[panel]->setText(text);
  if (panel == kValuePanel) panels_[panel]->setVisible(!text.isEmpty());
  // The corner hint is never cut: the run's report gives way to it. The
  // hints are short enough for the smallest window.
  if (panel == kHintPanel)
    panels_[panel]->setMinimumWidth(
        std::max(kHintPanelMinWidth, panels_[panel]->sizeHint().width()));
}

void MainWindow::SetCommandStates(const CommandStates& states) {
  findAction_->setEnabled(states.find);
  runButton_->setEnabled(states.find);
  saveAction_->setEnabled(states.save);
  saveButton_->setEnabled(states.save);
  for (QAction* action : analysisActions_) action->setEnabled(states.calibrated);
  correctAction_->setEnabled(states.correct);
}

int FormKeyCode(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kKeyEnter;
    case Qt::Key_Left:
      return kKeyLeft;
    case Qt::Key_Up:
      return kKeyUp;
    case Qt::Key_Right:
      return kKeyRight;
    case Qt::Key_Down:
      return kKeyDown;
    default:
      break;
  }
  // Letters and digits have the same codes as the desktop's virtual keys;
  // other Qt codes could collide with 13 or 37..40 (Key_Percent is 37).
  if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
    return qtKey;
  return 0;
}

KeyForwarder::KeyForwarder(TVazeZududi_Form& form, QWidget* mainWindow)
    : QObject(mainWindow), form_(form), mainWindow_(mainWindow) {}

bool KeyForwarder::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
  // A key event is offered to the focused widget and then to its parents;
  // the form sees it once, at the first receiver, and only in the main
  // window (not in its dialogs or open menus).
  QWidget* first = QApplication::focusWidget();
  if (first == nullptr) first = QApplication::activeWindow();
  if (watched != first || first == nullptr || first->window() != mainWindow_) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const int code = FormKeyCode(key->key());
  if (type == QEvent::KeyPress) {
    form_.Guarded([&] { form_.FormKeyDown(code); });
  } else if (!key->isAutoRepeat()) {
    // A held key repeats its press only, as the desktop the program was made
    // for does; the release comes once.
    form_.Guarded([&] { form_.FormKeyUp(code); });
  }
  return false;
}

}  // namespace qova
