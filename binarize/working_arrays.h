#pragma once
// The per-pixel working memory of a detection run over one image.

#include <QImage>
#include <cstdint>

#include "core/pixel_array.h"

namespace qova {

struct WorkingArrays {
  PixelArray<double> BrightnessArray;  // [x][y], (r + g + b)/3
  PixelArray<double> GradientArray;    // [x][y], the gradient magnitude G
  PixelArray<uint8_t> BinaryMask;      // [x][y], 1 = edge pixel
  QImage WorkBitmap;                   // the gradient as a picture, Format_Grayscale8

  // Every array at width × height, zeroed (WorkBitmap black), straight from
  // the system: no pass writes zeros over 17 bytes a pixel. When memory runs
  // out, whatever was allocated goes back and QovaError is raised, so the
  // program goes on with its memory.
  void Allocate(int32_t width, int32_t height);
  void Release();

  int32_t Width() const { return GradientArray.Width(); }
  int32_t Height() const { return GradientArray.Height(); }
};

}  // namespace qova
