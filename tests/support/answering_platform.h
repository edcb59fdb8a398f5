#pragma once
// The real Qt platform with its file dialogs and message boxes answered from
// queues, for tests that drive the real main window offscreen: everything
// else (the window, the settings dialogs, the font chooser) is the program's
// own.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/qt_platform.h"

namespace qova {

class AnsweringPlatform : public QtPlatform {
 public:
  std::deque<std::string> openAnswers, saveAnswers;
  std::vector<std::string> messages;  // every message box's text, in order
  std::vector<std::string> errors;    // every error display's text
  // Message boxes are shown for the test to answer as a person would,
  // rather than answered at once (their texts are recorded all the same).
  bool showMessageBoxes = false;

  std::optional<std::string> RunOpenDialog(const FileDialogParams&) override {
    return Next(openAnswers);
  }
  std::optional<std::string> RunSaveDialog(const FileDialogParams&) override {
    return Next(saveAnswers);
  }
  MsgResult MessageBox(const std::string& text, const std::string& caption,
                       MsgButtons buttons) override {
    messages.push_back(text);
    if (showMessageBoxes) return QtPlatform::MessageBox(text, caption, buttons);
    return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
  }
  void ShowErrorBox(const std::string& text) override { errors.push_back(text); }

 private:
  static std::optional<std::string> Next(std::deque<std::string>& q) {
    if (q.empty()) return std::nullopt;
    std::string v = q.front();
    q.pop_front();
    return v;
  }
};

}  // namespace qova
