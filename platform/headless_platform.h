#pragma once
// The platform of the batch command: no window. Every message goes to the
// error stream as "caption: text"; Yes/No questions get the answer chosen on
// the command line, OK/Cancel confirmations OK; dialogs are never shown.

#include <ostream>
#include <string>

#include "platform/platform.h"

namespace qova {

class HeadlessPlatform : public Platform {
 public:
  HeadlessPlatform(std::ostream& err, bool answerYes) : err_(err), answerYes_(answerYes) {}

  // The file the image-open "dialog" returns.
  std::string imageToOpen;

  MsgResult MessageBox(const std::string& text, const std::string& caption,
                       MsgButtons buttons) override;
  void ShowErrorBox(const std::string& text) override;
  std::optional<std::string> RunOpenDialog(const FileDialogParams& params) override;
  std::optional<std::string> RunSaveDialog(const FileDialogParams&) override {
    return std::nullopt;
  }
  std::optional<FontParams> ChooseFont(const FontParams&) override { return std::nullopt; }
  void ShowModal(ModalDialog&) override {}
  void ShowWindow(ModelessWindow&) override {}
  QImage ReadBitmap(const std::string& path, QImage reuse) override;
  void WriteFile(const std::string& path, const std::string& bytes) override;
  char DecimalSeparator() override;
  void Repaint() override {}
  void SetCaption(const std::string&) override {}
  void SetStatusText(int, const std::string&) override {}
  void SetCommandStates(const CommandStates&) override {}
  void SetPreviewVisible(bool) override {}
  void SetBusy(bool) override {}
  // No event loop: nothing handed back is ever run (the batch command
  // does its work on its own thread).
  void RunLater(std::function<void()>) override {}
  // On the calling thread; never cancelled.
  bool RunWithProgress(const std::string& caption,
                       const std::function<void(ProgressSink&)>& work) override;
  void LoadOverlayCursor(const std::string&) override {}
  void ShowHelp(const std::string&) override {}
  void CloseMainWindow() override {}

 private:
  std::ostream& err_;
  bool answerYes_;
};

}  // namespace qova
