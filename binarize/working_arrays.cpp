#include "binarize/working_arrays.h"

#include "core/qova_error.h"

namespace qova {

void WorkingArrays::Allocate(int32_t width, int32_t height) {
  try {
    BrightnessArray.Allocate(width, height);
    GradientArray.Allocate(width, height);
    BinaryMask.Allocate(width, height);
    WorkBitmap = QImage(width, height, QImage::Format_Grayscale8);
    if (WorkBitmap.isNull() && width > 0 && height > 0) throw QovaError("Out of memory");
    WorkBitmap.fill(0);
  } catch (...) {
    Release();
    throw;
  }
}

void WorkingArrays::Release() {
  BrightnessArray.Release();
  GradientArray.Release();
  BinaryMask.Release();
  WorkBitmap = QImage();
}

}  // namespace qova
