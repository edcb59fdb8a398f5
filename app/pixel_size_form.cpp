#include "app/pixel_size_form.h"

#include <cmath>

#include "core/number_text.h"

namespace qova {

std::optional<double> TPixelSizeForm::Execute(double proposed, bool millimetres,
                                              const std::function<std::string(double)>& refusal) {
  Label = millimetres ? "Размер пикселя на пластине, мм:" : "Размер пикселя на пластине, клеток:";
  Edit = std::isfinite(proposed) && proposed > 0
             ? FormatGeneral(proposed, desktop_.DecimalSeparator())
             : std::string();
  refusal_ = refusal;
  taken_.reset();
  desktop_.ShowModal(*this);
  return taken_;
}

void TPixelSizeForm::OKClick() {
  const std::optional<double> size = ParseFloat(Edit, desktop_.DecimalSeparator());
  if (!size || !(*size > 0) || !std::isfinite(*size)) {
    desktop_.MessageBox("Размер пикселя — положительное число.", "QOVA", MsgButtons::Ok);
    return;
  }
  if (refusal_) {
    const std::string why = refusal_(*size);
    if (!why.empty()) {
      desktop_.MessageBox(why, "QOVA", MsgButtons::Ok);
      return;
    }
  }
  taken_ = *size;
  Close();
}

void TPixelSizeForm::CancelClick() {
  taken_.reset();
  Close();
}

}  // namespace qova
