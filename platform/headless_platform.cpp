#include "platform/headless_platform.h"

#include "core/number_text.h"
#include "core/safe_save.h"
#include "platform/image_file.h"

namespace qova {

MsgResult HeadlessPlatform::MessageBox(const std::string& text, const std::string& caption,
                                       MsgButtons buttons) {
  err_ << caption << ": " << text << '\n';
  switch (buttons) {
    case MsgButtons::YesNo:
      return answerYes_ ? MsgResult::Yes : MsgResult::No;
    case MsgButtons::OkCancel:
    case MsgButtons::Ok:
      break;
  }
  return MsgResult::Ok;
}

void HeadlessPlatform::ShowErrorBox(const std::string& text) { err_ << "QOVA: " << text << '\n'; }

std::optional<std::string> HeadlessPlatform::RunOpenDialog(const FileDialogParams&) {
  if (imageToOpen.empty()) return std::nullopt;
  return imageToOpen;
}

QImage HeadlessPlatform::ReadBitmap(const std::string& path, QImage reuse) {
  return LoadImageFile(path, std::move(reuse));
}

void HeadlessPlatform::WriteFile(const std::string& path, const std::string& bytes) {
  SafeSave(path, bytes);
}

char HeadlessPlatform::DecimalSeparator() { return LocaleDecimalSeparator(); }

namespace {

class SilentProgress : public ProgressSink {
 public:
  void Report(double) override {}
  bool Cancelled() const override { return false; }
};

}  // namespace

bool HeadlessPlatform::RunWithProgress(const std::string&,
                                       const std::function<void(ProgressSink&)>& work) {
  SilentProgress progress;
  work(progress);
  return true;
}

}  // namespace qova
