#pragma once
// The pixels a run's stages read, taken from its image source: read when a
// stage first needs them, and read again from the source after the run's
// reread (the file read again before the refinement) when a later stage
// reads them.

#include <QImage>

#include "run/image_source.h"

namespace qova {

class RunPixels {
 public:
  explicit RunPixels(const ImageSource& source) : source_(source) {}

  [[nodiscard]] const ImageSource& Source() const { return source_; }
  [[nodiscard]] int32_t Width() const;
  [[nodiscard]] int32_t Height() const;

  // The image as Format_RGB32 pixels, read from the source when they are
  // stale. Throws QovaError when it cannot be read, std::bad_alloc without
  // the memory.
  [[nodiscard]] const QImage& Rgb32();

  // The run reads its image again here: the next stage that reads pixels
  // reads them from the source as it then is.
  void ReadAgain() { stale_ = true; }

 private:
  const ImageSource& source_;
  QImage owned_;
  const QImage* current_ = nullptr;
  bool stale_ = true;
};

}  // namespace qova
