#include "platform/scripted_platform.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "core/qova_error.h"
#include "platform/image_file.h"

namespace qova {

std::vector<std::string> ScriptedPlatform::MessageTexts() const {
  std::vector<std::string> texts;
  for (const Message& m : messages) texts.push_back(m.text);
  return texts;
}

MsgResult ScriptedPlatform::MessageBox(const std::string& text, const std::string& cap,
                                       MsgButtons buttons) {
  MsgResult answer = buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
  if (!answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  }
  messages.push_back({text, cap, buttons, answer});
  return answer;
}

void ScriptedPlatform::RunLater(std::function<void()> task) {
  const std::lock_guard<std::mutex> lock(laterGuard);
  later.push_back(std::move(task));
}

int ScriptedPlatform::RunPending() {
  int ran = 0;
  for (;;) {
    std::function<void()> task;
    {
      const std::lock_guard<std::mutex> lock(laterGuard);
      if (later.empty()) return ran;
      task = std::move(later.front());
      later.pop_front();
    }
    task();
    ++ran;
  }
}

namespace {

class ScriptedProgress : public ProgressSink {
 public:
  explicit ScriptedProgress(ScriptedPlatform& p) : p_(p) {}
  void Report(double done) override {
    p_.progressReports.push_back(done);
    if (p_.cancelAtProgress >= 0 && done >= p_.cancelAtProgress) cancelled_ = true;
  }
  bool Cancelled() const override { return cancelled_; }

 private:
  ScriptedPlatform& p_;
  bool cancelled_ = false;
};

}  // namespace

bool ScriptedPlatform::RunWithProgress(const std::string& caption,
                                       const std::function<void(ProgressSink&)>& work) {
  progressShown.push_back(caption);
  ScriptedProgress progress(*this);
  work(progress);
  return !progress.Cancelled();
}

void ScriptedPlatform::ShowErrorBox(const std::string& text) { errors.push_back(text); }

std::optional<std::string> ScriptedPlatform::RunOpenDialog(const FileDialogParams& params) {
  openDialogs.push_back(params);
  if (openAnswers.empty()) return std::nullopt;
  auto answer = openAnswers.front();
  openAnswers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedPlatform::RunSaveDialog(const FileDialogParams& params) {
  saveDialogs.push_back(params);
  if (saveAnswers.empty()) return std::nullopt;
  auto answer = saveAnswers.front();
  saveAnswers.pop_front();
  return answer;
}

std::optional<FontParams> ScriptedPlatform::ChooseFont(const FontParams& font) {
  if (fontAnswers.empty()) return std::nullopt;
  auto answer = fontAnswers.front();
  fontAnswers.pop_front();
  if (answer) {  // the chooser offers no colour, underline or strikeout
    answer->Color = font.Color;
    answer->Underline = font.Underline;
    answer->Strikeout = font.Strikeout;
  }
  return answer;
}

void ScriptedPlatform::ShowModal(ModalDialog& dialog) {
  dialog.BeginShowing();
  dialogsShown.push_back(&dialog);
  if (dialogActions.empty()) return;
  auto action = std::move(dialogActions.front());
  dialogActions.pop_front();
  action(dialog);
}

QImage ScriptedPlatform::ReadBitmap(const std::string& path, QImage reuse) {
  ++bitmapsRead;
  return LoadImageFile(path, std::move(reuse));
}

void ScriptedPlatform::WriteFile(const std::string& path, const std::string& bytes) {
  if (failCreate) throw QovaError("Cannot create file " + path);
  WriteFunction write;
  if (failWriteAfterBytes >= 0) {
    long left = failWriteAfterBytes;
    write = [left](int fd, const char* data, unsigned long n) mutable -> long {
      if (left <= 0) return -1;
      const long chunk = std::min<long>(left, static_cast<long>(n));
      const long done = ::write(fd, data, static_cast<size_t>(chunk));
      if (done > 0) left -= done;
      return done;
    };
  }
  SafeSave(path, bytes, write);
  filesWritten.push_back(path);
}

void ScriptedPlatform::SetStatusText(int panel, const std::string& text) {
  if (panel >= 0 && panel < kStatusPanels) statusText[panel] = text;
}

}  // namespace qova
