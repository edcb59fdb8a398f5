#include "app/gui/qt_platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpacerItem>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

#include "app/gui/cursor_file.h"
#include "app/gui/help_window.h"
#include "app/gui/image_view.h"
#include "app/gui/main_window.h"
#include "core/number_text.h"
#include "core/qova_error.h"
#include "core/safe_save.h"
#include "platform/image_file.h"
#include "settings/settings_widgets.h"

namespace qova {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QMessageBox::Icon IconOfCaption(const std::string& caption) {
  if (caption == "Сообщение") return QMessageBox::Information;
  if (caption == "Предупреждение") return QMessageBox::Question;
  if (caption == "Ошибка") return QMessageBox::Critical;
  return QMessageBox::NoIcon;
}

// Qt's standard buttons with the program's own texts.
void NameButtons(QMessageBox& box) {
  const std::pair<QMessageBox::StandardButton, const char*> names[] = {
      {QMessageBox::Ok, "OK"},
      {QMessageBox::Cancel, "Отмена"},
      {QMessageBox::Yes, "Да"},
      {QMessageBox::No, "Нет"}};
  for (const auto& [button, text] : names)
    if (QAbstractButton* b = box.button(button)) b->setText(QString::fromUtf8(text));
}

QString Pattern(const QString& windowsPattern) {
  // "*.*" matches every name on the desktop the filter was written for; in
  // Qt it would need a dot, so it becomes "*". Several patterns: "a;b".
  QStringList parts = windowsPattern.split(';', Qt::SkipEmptyParts);
  for (QString& p : parts) {
    p = p.trimmed();
    if (p == "*.*") p = "*";
  }
  return parts.join(' ');
}

// The family's own name of the style with these flags ("Book", "Bold
// Oblique", ...). The chooser matches a preset font by style name; given
// only the flags it looks for "Normal", which a family may not have, and
// then preselects its first style, often an oblique one. Of several matching
// styles the one of plain weight (400 or 700) and the shortest name wins, so
// "Book" is taken before "Condensed" or "ExtraLight". Empty when the family
// is not installed.
QString StyleNameOf(const QString& family, bool bold, bool italic) {
  QString best;
  int bestWeightGap = 0;
  for (const QString& style : QFontDatabase::styles(family)) {
    const QFont face = QFontDatabase::font(family, style, 10);
    if (face.bold() != bold || face.italic() != italic) continue;
    const int gap = std::abs(face.weight() - (bold ? QFont::Bold : QFont::Normal));
    if (best.isEmpty() || gap < bestWeightGap ||
        (gap == bestWeightGap && style.size() < best.size())) {
      best = style;
      bestWeightGap = gap;
    }
  }
  return best;
}

// The family alone: the chooser lists a family that several foundries make
// as "URW Bookman [urw]", a name other machines do not know.
QString FamilyWithoutFoundry(const QString& family) {
  const qsizetype open = family.lastIndexOf(" [");
  return open > 0 && family.endsWith(']') ? family.left(open) : family;
}

// Picking another family in the chooser preselects the style of the flags
// the person has, not the family's first style: the chooser itself looks
// only for a style of the same name ("Book" is not in every family).
void KeepStyleAcrossFamilies(QFontDialog& dialog, bool bold, bool italic) {
  auto wanted = std::make_shared<std::pair<bool, bool>>(bold, italic);
  auto family = std::make_shared<QString>(dialog.currentFont().family());
  QObject::connect(
      &dialog, &QFontDialog::currentFontChanged, &dialog,
      [&dialog, wanted, family](const QFont& now) {
        if (now.family() == *family) {
          *wanted = {now.bold(), now.italic()};  // a style the person chose
          return;
        }
        *family = now.family();
        const QString style = StyleNameOf(now.family(), wanted->first, wanted->second);
        if (style.isEmpty() || style == now.styleName()) return;
        QFont keep = now;
        keep.setStyleName(style);
        dialog.setCurrentFont(keep);
      },
      // After the chooser has finished with the pick: setting the
      // font refills the very list the pick came from.
      Qt::QueuedConnection);
}

// The chooser's sample shares a row with the effects it shows otherwise;
// with them hidden the row would shrink to nothing. The emptied place keeps
// its height for the sample.
void HideEffects(QFontDialog& dialog) {
  for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
    box->hide();
    if (auto* group = qobject_cast<QGroupBox*>(box->parentWidget())) {
      QSizePolicy policy = group->sizePolicy();
      policy.setRetainSizeWhenHidden(true);
      group->setSizePolicy(policy);
      group->hide();
    }
  }
}

// A message box sizes itself to its text; a short text would leave its
// caption cut off in the title bar. A spacer across the box's grid keeps it
// as wide as the caption needs.
void FitCaption(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  grid->addItem(new QSpacerItem(WidthShowingTitle(box.windowTitle()), 0, QSizePolicy::Fixed,
                                QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

// A box or dialog shown while a run works gets the ordinary pointer: the
// user has to point and click.
class QtPlatform::CursorPause {
 public:
  explicit CursorPause(bool busy) : busy_(busy) {
    if (busy_) QApplication::restoreOverrideCursor();
  }
  ~CursorPause() {
    if (busy_) QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  CursorPause(const CursorPause&) = delete;
  CursorPause& operator=(const CursorPause&) = delete;

 private:
  bool busy_;
};

// When a box or dialog closes, the window it was shown over takes the keys
// again. Window managers do this themselves; without one (a bare X server,
// the offscreen platform) no window would have them, and the shortcuts of
// the main window would do nothing until it was clicked.
class QtPlatform::GiveFocusBack {
 public:
  explicit GiveFocusBack(QWidget* owner) : owner_(owner) {}
  ~GiveFocusBack() {
    if (owner_ && owner_->isVisible()) owner_->activateWindow();
  }
  GiveFocusBack(const GiveFocusBack&) = delete;
  GiveFocusBack& operator=(const GiveFocusBack&) = delete;

 private:
  QPointer<QWidget> owner_;
};

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = Q(filter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QString patterns = QString("(%1)").arg(Pattern(parts[i + 1]));
    // A description that already ends in its patterns, "Ini Files (*.ini)",
    // is shown as it is, not with the patterns twice.
    filters << (description.endsWith(patterns) ? description : description + ' ' + patterns);
  }
  return filters.join(";;");
}

QString BareExtension(const std::string& defaultExt) {
  QString ext = Q(defaultExt).trimmed();
  if (ext.startsWith('*')) ext.remove(0, 1);
  if (ext.startsWith('.')) ext.remove(0, 1);
  if (ext.contains('*') || ext.contains('?')) return QString();
  return ext;
}

QString WithDefaultExtension(const QString& path, const QString& ext) {
  if (ext.isEmpty() || path.isEmpty()) return path;
  if (!QFileInfo(path).suffix().isEmpty()) return path;
  return path + '.' + ext;
}

QtPlatform::QtPlatform() = default;
QtPlatform::~QtPlatform() = default;

void QtPlatform::Attach(MainWindow* window) {
  window_ = window;
  if (window_ == nullptr) return;
  if (!caption_.isEmpty()) window_->setWindowTitle(caption_);
  for (int i = 0; i < kStatusPanels; ++i) window_->SetStatusText(i, status_[i]);
  window_->SetCommandStates(commands_);
  window_->View()->SetPreviewVisible(preview_);
  ApplyCursor();
}

MsgResult QtPlatform::MessageBox(const std::string& text, const std::string& caption,
                                 MsgButtons buttons) {
  const CursorPause pause(busy_);
  QMessageBox::StandardButtons standard = QMessageBox::Ok;
  if (buttons == MsgButtons::OkCancel) standard = QMessageBox::Ok | QMessageBox::Cancel;
  if (buttons == MsgButtons::YesNo) standard = QMessageBox::Yes | QMessageBox::No;
  const GiveFocusBack focus(DialogParent());
  QMessageBox box(IconOfCaption(caption), Q(caption), Q(text), standard, DialogParent());
  box.setWindowModality(Qt::ApplicationModal);
  NameButtons(box);
  FitCaption(box);
  const int pressed = box.exec();
  switch (pressed) {
    case QMessageBox::Ok:
      return MsgResult::Ok;
    case QMessageBox::Yes:
      return MsgResult::Yes;
    case QMessageBox::No:
      return MsgResult::No;
    case QMessageBox::Cancel:
      return MsgResult::Cancel;
    default:
      break;
  }
  // Closed by the title bar or Escape: the safe answer of the buttons shown.
  if (buttons == MsgButtons::YesNo) return MsgResult::No;
  if (buttons == MsgButtons::OkCancel) return MsgResult::Cancel;
  return MsgResult::Ok;
}

QWidget* QtPlatform::DialogParent() const {
  QWidget* modal = QApplication::activeModalWidget();
  return modal != nullptr ? modal : window_;
}

void QtPlatform::ShowErrorBox(const std::string& text) {
  const CursorPause pause(busy_);
  const GiveFocusBack focus(DialogParent());
  QMessageBox box(QMessageBox::Critical, "QOVA", Q(text), QMessageBox::Ok, DialogParent());
  box.setWindowModality(Qt::ApplicationModal);
  NameButtons(box);
  FitCaption(box);
  box.exec();
}

std::optional<std::string> QtPlatform::RunOpenDialog(const FileDialogParams& params) {
  const CursorPause pause(busy_);
  const GiveFocusBack focus(DialogParent());
  QFileDialog dialog(DialogParent(), "Открыть", Q(params.initialFolder),
                     QtFileFilter(params.filter));
  dialog.setObjectName("OpenBmpDialog");
  // Qt's own dialog honours the default extension on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  const QString ext = BareExtension(params.defaultExt);
  dialog.setDefaultSuffix(ext);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  QString path = dialog.selectedFiles().first();
  if (!QFileInfo::exists(path)) path = WithDefaultExtension(path, ext);
  const QFileInfo chosen(path);
  QDir::setCurrent(chosen.absolutePath());
  return chosen.absoluteFilePath().toStdString();
}

std::optional<std::string> QtPlatform::RunSaveDialog(const FileDialogParams& params) {
  const CursorPause pause(busy_);
  // The current folder unless a folder is given; a proposed name with a
  // folder of its own opens there (selectFile below).
  const QString folder =
      params.initialFolder.empty() ? QDir::currentPath() : Q(params.initialFolder);
  const GiveFocusBack focus(DialogParent());
  QFileDialog dialog(DialogParent(), "Сохранить как", folder, QtFileFilter(params.filter));
  dialog.setObjectName("SaveDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QString ext = BareExtension(params.defaultExt);
  dialog.setDefaultSuffix(ext);
  if (!params.fileName.empty()) dialog.selectFile(Q(params.fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(WithDefaultExtension(dialog.selectedFiles().first(), ext))
      .absoluteFilePath()
      .toStdString();
}

std::optional<FontParams> QtPlatform::ChooseFont(const FontParams& font) {
  const CursorPause pause(busy_);
  QFont initial(Q(font.Name));
  if (font.Size > 0) initial.setPointSize(font.Size);
  initial.setBold(font.Bold);
  initial.setItalic(font.Italic);
  const QString style = StyleNameOf(initial.family(), font.Bold, font.Italic);
  if (!style.isEmpty()) initial.setStyleName(style);
  const GiveFocusBack focus(DialogParent());
  QFontDialog dialog(initial, DialogParent());
  dialog.setOption(QFontDialog::DontUseNativeDialog);
  // Face, style and size only: the effects (underline, strikeout) are hidden.
  HideEffects(dialog);
  KeepStyleAcrossFamilies(dialog, font.Bold, font.Italic);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QFont chosen = dialog.selectedFont();
  FontParams result = font;
  result.Name = FamilyWithoutFoundry(chosen.family()).toStdString();
  if (chosen.pointSize() > 0) result.Size = chosen.pointSize();
  result.Bold = chosen.bold();
  result.Italic = chosen.italic();
  return result;
}

void QtPlatform::ShowModal(ModalDialog& dialog) {
  const CursorPause pause(busy_);
  dialog.BeginShowing();
  const GiveFocusBack focus(DialogParent());
  if (!faces_.Show(dialog, DialogParent()))
    throw QovaError("This window is not available in this build");
}

void QtPlatform::ShowWindow(ModelessWindow& window) {
  QPointer<QWidget>& shown = windows_[&window];
  if (shown.isNull()) {
    shown = faces_.Make(window, window_);
    if (shown.isNull()) throw QovaError("This window is not available in this build");
  }
  shown->show();
  shown->raise();
  shown->activateWindow();
}

QWidget* QtPlatform::WindowOf(const ModelessWindow& window) const {
  const auto it = windows_.find(&window);
  return it == windows_.end() ? nullptr : it->second.data();
}

QImage QtPlatform::ReadBitmap(const std::string& path, QImage reuse) {
  return LoadImageFile(path, std::move(reuse));
}

void QtPlatform::WriteFile(const std::string& path, const std::string& bytes) {
  SafeSave(path, bytes);
}

char QtPlatform::DecimalSeparator() { return LocaleDecimalSeparator(); }

void QtPlatform::Repaint() {
  if (window_ != nullptr) window_->View()->RepaintNow();
}

void QtPlatform::RepaintImageRegion(const QRegion& imagePixels) {
  if (window_ != nullptr) window_->View()->RepaintImageRegion(imagePixels);
}

void QtPlatform::SetCaption(const std::string& caption) {
  caption_ = Q(caption);
  if (window_ != nullptr) window_->setWindowTitle(caption_);
}

void QtPlatform::SetStatusText(int panel, const std::string& text) {
  if (panel < 0 || panel >= kStatusPanels) return;
  status_[panel] = Q(text);
  if (window_ != nullptr) window_->SetStatusText(panel, status_[panel]);
}

void QtPlatform::SetCommandStates(const CommandStates& states) {
  commands_ = states;
  if (window_ != nullptr) window_->SetCommandStates(commands_);
}

void QtPlatform::SetPreviewVisible(bool visible) {
  preview_ = visible;
  if (window_ != nullptr) window_->View()->SetPreviewVisible(visible);
}

void QtPlatform::SetBusy(bool busy) {
  // Set and restored in pairs: the override cursors of Qt form a stack.
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

namespace {

// The work's side of the progress bar: shares and the cancel flag, read and
// set across threads.
class BarProgress : public ProgressSink {
 public:
  void Report(double done) override { done_ = std::clamp(done, 0.0, 1.0); }
  bool Cancelled() const override { return cancelled_; }
  double Done() const { return done_; }
  void Cancel() { cancelled_ = true; }

 private:
  std::atomic<double> done_{0};
  std::atomic<bool> cancelled_{false};
};

}  // namespace

bool QtPlatform::RunWithProgress(const std::string& caption,
                                 const std::function<void(ProgressSink&)>& work) {
  const CursorPause pause(busy_);
  BarProgress progress;
  std::atomic<bool> finished{false};
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work(progress);
    } catch (...) {
      failure = std::current_exception();
    }
    finished = true;
  });
  {
    const GiveFocusBack focus(DialogParent());
    QProgressDialog bar(Q(caption), "Отмена", 0, 1000, DialogParent());
    bar.setObjectName("ProgressDialog");
    bar.setWindowTitle("QOVA");
    bar.setWindowModality(Qt::ApplicationModal);
    bar.setMinimumDuration(400);  // quick work shows no bar at all
    bar.setAutoClose(false);
    bar.setAutoReset(false);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
      if (bar.wasCanceled()) progress.Cancel();
      bar.setValue(static_cast<int>(progress.Done() * 1000));
      if (finished) loop.quit();
    });
    tick.start(30);
    loop.exec();
  }
  worker.join();
  if (failure) std::rethrow_exception(failure);
  return !progress.Cancelled();
}

void QtPlatform::RunLater(std::function<void()> task) {
  // Queued to the application object, which lives on the interface thread.
  QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
}

void QtPlatform::LoadOverlayCursor(const std::string& path) {
  const std::optional<QCursor> loaded = LoadCursorFile(path);
  cursor_ = loaded ? std::make_unique<QCursor>(*loaded) : nullptr;
  ApplyCursor();
}

void QtPlatform::ApplyCursor() {
  if (window_ == nullptr) return;
  QWidget* layers = window_->View()->Layers();
  if (cursor_)
    layers->setCursor(*cursor_);
  else
    layers->setCursor(Qt::ArrowCursor);
}

void QtPlatform::ShowHelp(const std::string& path) {
  if (!QFileInfo::exists(Q(path))) {
    MessageBox(
        "Файл справки \"" + path + "\" не найден. Будет показана встроенная справка программы.",
        "Сообщение", MsgButtons::Ok);
  }
  if (help_ == nullptr) help_ = new HelpWindow(window_);
  help_->ShowContents();
}

void QtPlatform::CloseMainWindow() {
  if (window_ != nullptr) window_->close();
}

}  // namespace qova
