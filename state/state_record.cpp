#include "state/state_record.h"

namespace qova {

StateRecord::~StateRecord() = default;

void StateRecord::SetCommandStates(bool find, bool save) {
  FindEnabled = find;
  SaveEnabled = save;
  Desktop.SetCommandStates(find, save);
}

QImage& StateRecord::OverlayCanvas() {
  if (CrossImage1.isNull() && ImageWidth > 0 && ImageHeight > 0) {
    CrossImage1 = QImage(ImageWidth, ImageHeight, QImage::Format_RGB32);
    CrossImage1.fill(ToQRgb(kWhite));
  }
  return CrossImage1;
}

Color StateRecord::OverlayPixel(int32_t x, int32_t y) const {
  if (CrossImage1.isNull() || !CrossImage1.valid(x, y)) return kWhite;
  return FromQRgb(CrossImage1.pixel(x, y));
}

}  // namespace qova
