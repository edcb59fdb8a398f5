#pragma once
// Everything the program needs from the desktop, in one interface. The Qt
// face implements it with widgets; tests use the scripted platform, which
// answers from a queue and records every message; the batch command uses a
// headless one. Texts are UTF-8.

#include <QImage>
#include <QRegion>
#include <functional>
#include <optional>
#include <string>

#include "platform/modal_dialog.h"
#include "platform/modeless_window.h"

namespace qova {

enum class MsgButtons { Ok, OkCancel, YesNo };

inline constexpr int kStatusPanels = 5;
inline constexpr int kRunPanel = 3;
inline constexpr int kValuePanel = 4;
enum class MsgResult { Ok, Cancel, Yes, No };

// A file dialog: filter in the form "Image Files|*.bmp|All Files|*.*", the
// default extension ("bmp", "*.bmp" or "crd"), and either an initial folder
// (open) or a proposed file name (save).
struct FileDialogParams {
  std::string filter;
  std::string defaultExt;
  std::string initialFolder;
  std::string fileName;
};

// Which commands are enabled (StateRecord::UpdateActions sets them all).
struct CommandStates {
  bool find = false;        // N4, RunToolButton and the Enter key
  bool save = false;        // N26, SaveToolButton
  bool calibrated = false;  // the "Анализ" commands that show a run's calibration
  bool correct = false;  // "Сохранить исправленное изображение…"
  bool operator==(const CommandStates&) const = default;
};

// What long work sees of its progress bar: how far it has got, and whether
// the person pressed "Отмена".
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void Report(double done) = 0;  // 0 .. 1
  [[nodiscard]] virtual bool Cancelled() const = 0;
};

// The label font of the overlay.
struct FontParams {
  std::string Name = "DejaVu Sans";
  int Size = 8;  // points
  int32_t Color = 0;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool Strikeout = false;
  bool operator==(const FontParams&) const = default;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Modal message box owned by the main window.
  virtual MsgResult MessageBox(const std::string& text, const std::string& caption,
                               MsgButtons buttons) = 0;
  // An error no command handled: stop icon, caption "QOVA". The text already
  // ends in a full stop.
  virtual void ShowErrorBox(const std::string& text) = 0;

  // File dialogs: the chosen full path, or nullopt when cancelled. The open
  // dialog makes the chosen file's folder the current folder.
  virtual std::optional<std::string> RunOpenDialog(const FileDialogParams& params) = 0;
  // Asks nothing about overwriting; a name typed without extension gets the
  // default one.
  virtual std::optional<std::string> RunSaveDialog(const FileDialogParams& params) = 0;
  // Face, style and size only; the colour, underline and strikeout of the
  // result are those of the font given.
  virtual std::optional<FontParams> ChooseFont(const FontParams& font) = 0;

  // Shows a dialog modally until one of its handlers calls Close() or the
  // user closes its window.
  virtual void ShowModal(ModalDialog& dialog) = 0;
  // Shows a window beside the main one and brings it to the front; made at
  // the first showing and kept, so it keeps its place and size.
  virtual void ShowWindow(ModelessWindow& window) = 0;

  // Reads an image file; throws QovaError with the reader's message. The
  // pixels of reuse, when it is the only holder of them and the file has
  // its size, are overwritten instead of taking fresh memory.
  virtual QImage ReadBitmap(const std::string& path, QImage reuse = QImage()) = 0;
  // Replaces the file through the safe-save helper; throws QovaError with
  // "Cannot create file <path>" or "Stream write error".
  virtual void WriteFile(const std::string& path, const std::string& bytes) = 0;
  // The decimal separator of the user's number settings.
  virtual char DecimalSeparator() = 0;

  // Display: repaint the main window now (layers, overlay visibility).
  virtual void Repaint() = 0;
  // Repaint now only the part of the layers that shows these image pixels;
  // a drag changes a few markers and lines of a large image.
  virtual void RepaintImageRegion(const QRegion& imagePixels) {
    (void)imagePixels;
    Repaint();
  }
  virtual void SetCaption(const std::string& caption) = 0;
  // Panels 0 and 1: the pointer's x and y; 2: the editor's hint; 3
  // (kRunPanel): what the last run reports; 4 (kValuePanel): a deep image's
  // samples under the pointer and its depth (empty for an 8-bit image).
  virtual void SetStatusText(int panel, const std::string& text) = 0;
  virtual void SetCommandStates(const CommandStates& states) = 0;
  virtual void SetPreviewVisible(bool visible) = 0;
  // A wait cursor while a run or a calibration works.
  virtual void SetBusy(bool busy) = 0;
  // Runs work on a thread of its own while a modal progress bar with the
  // caption and "Отмена" shows (after a moment, for work that takes long);
  // the window takes no other input meanwhile. False when the work stopped
  // because it saw Cancelled(); what the work throws is thrown here.
  virtual bool RunWithProgress(const std::string& caption,
                               const std::function<void(ProgressSink&)>& work) = 0;
  // Runs task on the interface thread once the current event is handled.
  // Safe to call from any thread: work done on another thread hands its
  // result back this way.
  virtual void RunLater(std::function<void()> task) = 0;

  // The overlay's pointer from a cursor file; the arrow when it cannot be read.
  virtual void LoadOverlayCursor(const std::string& path) = 0;
  // The help contents; a missing file is reported here.
  virtual void ShowHelp(const std::string& path) = 0;
  // Closes the main window, which ends the program.
  virtual void CloseMainWindow() = 0;
};

}  // namespace qova
