#include "run/run_pixels.h"

#include <cstring>
#include <new>

#include "core/qova_error.h"

namespace qova {

int32_t RunPixels::Width() const { return ImageSide(source_.Info().width, source_.Name()); }
int32_t RunPixels::Height() const { return ImageSide(source_.Info().height, source_.Name()); }

const QImage& RunPixels::Rgb32() {
  if (!stale_) return *current_;
  if (const QImage* held = source_.Rgb32Picture()) {
    current_ = held;
    stale_ = false;
    return *current_;
  }
  const int32_t w = Width(), h = Height();
  // Read over the pixels of the last read where they can be.
  if (owned_.width() != w || owned_.height() != h || owned_.format() != QImage::Format_RGB32 ||
      !owned_.isDetached())
    owned_ = QImage(w, h, QImage::Format_RGB32);
  if (owned_.isNull() && w > 0 && h > 0) throw std::bad_alloc();
  const size_t rowBytes = static_cast<size_t>(w) * sizeof(QRgb);
  source_.ReadRgb32Rows(0, h, [&](int64_t y, const QRgb* row) {
    std::memcpy(owned_.scanLine(static_cast<int>(y)), row, rowBytes);
  });
  current_ = &owned_;
  stale_ = false;
  return *current_;
}

}  // namespace qova
