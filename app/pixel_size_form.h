#pragma once
// The small dialog of "Сохранить исправленное изображение…": the pixel size
// of the corrected image on the plate, proposed as the image's own at its
// centre. It takes a positive number in the user's number format, and a
// size the caller refuses (an output too large) keeps it open with the
// caller's words.

#include <functional>
#include <optional>
#include <string>

#include "platform/modal_dialog.h"
#include "platform/platform.h"

namespace qova {

inline constexpr const char* kPixelSizeCaption = "Сохранить исправленное изображение";

class TPixelSizeForm : public ModalDialog {
 public:
  explicit TPixelSizeForm(Platform& desktop) : desktop_(desktop) {}

  // Shows the dialog with the proposed size (plate units: mm, or cells when
  // millimetres is false); the size taken, or nullopt when cancelled.
  // refusal(size) gives the message for a size that cannot be used, empty
  // for one that can.
  std::optional<double> Execute(double proposed, bool millimetres,
                                const std::function<std::string(double)>& refusal);

  // --- Controls -------------------------------------------------------------
  std::string Caption = kPixelSizeCaption;
  std::string Label;  // "Размер пикселя на пластине, мм:"
  std::string Edit;   // the size

  // --- Handlers -------------------------------------------------------------
  void OKClick();
  void CancelClick();

 private:
  Platform& desktop_;
  std::function<std::string(double)> refusal_;
  std::optional<double> taken_;
};

}  // namespace qova
