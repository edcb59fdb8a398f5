#pragma once
// Shared by the binarization tests: regions from corner lists, and a state
// record holding an open image and the run's arrays as PrepareRun leaves them.

#include <QImage>
#include <initializer_list>
#include <memory>
#include <utility>

#include "app/state/state_record.h"

namespace qova {

using Corners = std::initializer_list<std::pair<double, double>>;

inline std::unique_ptr<SearchRegion> MakeRegion(Corners corners) {
  auto region = std::make_unique<SearchRegion>(1);
  for (const auto& [x, y] : corners) region->AddNew(x, y);
  return region;
}

// The image as SourceBitmap, a black WorkBitmap and zeroed working arrays of
// its size.
inline void OpenForRun(StateRecord& s, const QImage& image) {
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
