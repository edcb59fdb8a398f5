#pragma once
// The platform of tests: every answer a person would give is queued in
// advance, and everything shown is recorded. Unqueued questions get the first
// button (OK, Yes); unqueued file dialogs are cancelled; unqueued modal
// dialogs are closed with the title-bar button.

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/safe_save.h"
#include "platform/platform.h"

namespace qova {

class ScriptedPlatform : public Platform {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MsgButtons buttons;
    MsgResult answer;
  };

  // --- Script -------------------------------------------------------------
  std::deque<MsgResult> answers;
  std::deque<std::optional<std::string>> openAnswers;
  std::deque<std::optional<std::string>> saveAnswers;
  std::deque<std::optional<FontParams>> fontAnswers;
  // Each showing of a modal dialog runs the next action on it (press its
  // buttons, fill its controls); none queued means closed by the title bar.
  std::deque<std::function<void(ModalDialog&)>> dialogActions;
  // Simulated faults of WriteFile.
  bool failCreate = false;        // "Cannot create file"
  long failWriteAfterBytes = -1;  // >= 0: the disk is full after that many bytes
  char decimalSeparator = '.';
  double cancelAtProgress = -1;  // RunWithProgress: "Отмена" from this share on

  // --- Record -------------------------------------------------------------
  std::vector<Message> messages;
  std::vector<std::string> errors;  // error displays
  std::vector<FileDialogParams> openDialogs;
  std::vector<FileDialogParams> saveDialogs;
  std::vector<const ModalDialog*> dialogsShown;
  std::vector<std::string> filesWritten;
  int repaints = 0;
  std::string caption;
  std::string statusText[kStatusPanels] = {"X=", "Y=", "", "", ""};
  int bitmapsRead = 0;  // files read whole through ReadBitmap (Qt's readers)
  bool findEnabled = false;
  bool saveEnabled = false;
  bool calibratedEnabled = false;
  bool correctEnabled = false;
  std::vector<const ModelessWindow*> windowsShown;
  bool previewVisible = true;
  bool busy = false;
  int busyCount = 0;
  std::string cursorPath;
  std::mutex laterGuard;
  std::deque<std::function<void()>> later;
  std::vector<std::string> helpShown;
  std::vector<std::string> progressShown;  // the captions of progress bars
  std::vector<double> progressReports;     // every share reported
  bool closed = false;

  // The texts of all message boxes, in order.
  std::vector<std::string> MessageTexts() const;

  MsgResult MessageBox(const std::string& text, const std::string& caption,
                       MsgButtons buttons) override;
  void ShowErrorBox(const std::string& text) override;
  std::optional<std::string> RunOpenDialog(const FileDialogParams& params) override;
  std::optional<std::string> RunSaveDialog(const FileDialogParams& params) override;
  std::optional<FontParams> ChooseFont(const FontParams& font) override;
  void ShowModal(ModalDialog& dialog) override;
  QImage ReadBitmap(const std::string& path, QImage reuse) override;
  void WriteFile(const std::string& path, const std::string& bytes) override;
  char DecimalSeparator() override { return decimalSeparator; }
  void Repaint() override { ++repaints; }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetStatusText(int panel, const std::string& text) override;
  void SetCommandStates(const CommandStates& states) override {
    findEnabled = states.find;
    saveEnabled = states.save;
    calibratedEnabled = states.calibrated;
    correctEnabled = states.correct;
  }
  void ShowWindow(ModelessWindow& window) override { windowsShown.push_back(&window); }
  // Tasks handed back from other threads wait until RunPending, as they
  // wait for the event loop in the program.
  void RunLater(std::function<void()> task) override;
  // Runs the tasks handed back so far (and those they hand back); their number.
  int RunPending();
  // On the calling thread; "Отмена" is pressed once the work reports
  // cancelAtProgress or more (never when negative).
  bool RunWithProgress(const std::string& caption,
                       const std::function<void(ProgressSink&)>& work) override;
  void SetPreviewVisible(bool visible) override { previewVisible = visible; }
  void SetBusy(bool b) override {
    busy = b;
    if (b) ++busyCount;
  }
  void LoadOverlayCursor(const std::string& path) override { cursorPath = path; }
  void ShowHelp(const std::string& path) override { helpShown.push_back(path); }
  void CloseMainWindow() override { closed = true; }
};

}  // namespace qova
