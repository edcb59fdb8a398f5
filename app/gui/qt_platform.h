#pragma once
// The desktop through Qt widgets. The form is built before the main window
// (the window forwards to it), so what the form shows before the window is
// attached is kept and applied when it is.

#include <QPointer>
#include <QString>
#include <map>
#include <memory>
#include <string>

#include "platform/dialog_faces.h"
#include "platform/platform.h"

class QWidget;

namespace qova {

class MainWindow;
class HelpWindow;

class QtPlatform : public Platform {
 public:
  QtPlatform();
  ~QtPlatform() override;

  // The window that owns every box and dialog and shows the display state.
  void Attach(MainWindow* window);
  DialogFaces& Faces() { return faces_; }
  HelpWindow* Help() const { return help_; }
  // The window made for this logic; null before its first showing.
  QWidget* WindowOf(const ModelessWindow& window) const;

  MsgResult MessageBox(const std::string& text, const std::string& caption,
                       MsgButtons buttons) override;
  void ShowErrorBox(const std::string& text) override;
  std::optional<std::string> RunOpenDialog(const FileDialogParams& params) override;
  std::optional<std::string> RunSaveDialog(const FileDialogParams& params) override;
  std::optional<FontParams> ChooseFont(const FontParams& font) override;
  void ShowModal(ModalDialog& dialog) override;
  void ShowWindow(ModelessWindow& window) override;
  QImage ReadBitmap(const std::string& path, QImage reuse) override;
  void WriteFile(const std::string& path, const std::string& bytes) override;
  char DecimalSeparator() override;
  void Repaint() override;
  void RepaintImageRegion(const QRegion& imagePixels) override;
  void SetCaption(const std::string& caption) override;
  void SetStatusText(int panel, const std::string& text) override;
  void SetCommandStates(const CommandStates& states) override;
  void SetPreviewVisible(bool visible) override;
  void SetBusy(bool busy) override;
  void RunLater(std::function<void()> task) override;
  bool RunWithProgress(const std::string& caption,
                       const std::function<void(ProgressSink&)>& work) override;
  void LoadOverlayCursor(const std::string& path) override;
  void ShowHelp(const std::string& path) override;
  void CloseMainWindow() override;

 private:
  class CursorPause;
  class GiveFocusBack;
  void ApplyCursor();
  // The owner of a box or dialog: the modal window in front (the statistics
  // window, a settings dialog), else the main window. Owned by the main
  // window, a dialog opened from a modal one would bring the main window to
  // the front when it closes and hide the window the user works in.
  QWidget* DialogParent() const;

  DialogFaces faces_;
  MainWindow* window_ = nullptr;
  HelpWindow* help_ = nullptr;  // owned by the window, made on first use
  // Display state kept until the window is attached.
  QString caption_;
  QString status_[kStatusPanels] = {"X=", "Y=", "", "", ""};
  CommandStates commands_;
  // The windows shown beside the main one, made at their first showing.
  std::map<const ModelessWindow*, QPointer<QWidget>> windows_;
  bool preview_ = true;
  bool busy_ = false;
  std::unique_ptr<class QCursor> cursor_;  // null: the arrow
};

// Qt's form of a file filter "Image Files|*.bmp|All Files|*.*":
// "Image Files (*.bmp);;All Files (*)".
QString QtFileFilter(const std::string& filter);

// The extension without "*." or ".": "*.bmp" -> "bmp".
QString BareExtension(const std::string& defaultExt);

// The chosen name with the default extension appended when it has none.
QString WithDefaultExtension(const QString& path, const QString& ext);

}  // namespace qova
