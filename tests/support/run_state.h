#pragma once
// For tests of the stages: the state a run has before its first region.

#include <QImage>

#include "state/state_record.h"

namespace qova {

// The image open as SourceBitmap (RGB32), the gradient picture black, and the
// working arrays allocated at the image's size and zeroed, as PrepareRun
// leaves them.
inline void PrepareForRun(StateRecord& s, const QImage& image) {
  s.SourceBitmap = image.convertToFormat(QImage::Format_RGB32);
  s.ImageWidth = image.width();
  s.ImageHeight = image.height();
  s.WorkBitmap = QImage(image.width(), image.height(), QImage::Format_Grayscale8);
  s.WorkBitmap.fill(0);
  s.BrightnessArray.Allocate(s.ImageWidth, s.ImageHeight);
  s.GradientArray.Allocate(s.ImageWidth, s.ImageHeight);
  s.BinaryMask.Allocate(s.ImageWidth, s.ImageHeight);
  s.ArrayWidth = s.ImageWidth;
  s.ArrayHeight = s.ImageHeight;
  s.ArraysAllocated = true;
}

}  // namespace qova
