#pragma once
// The pixels a run's stages read, taken from its image source: read when a
// stage first needs them, and read again from the source after the run's
// reread (the file read again before the refinement) when a later stage
// reads them. The specified stages read 8-bit colours: an 8-bit image's own,
// exactly as Qt gives them, and for a deeper image its reduction with the
// range it uses mapped onto 0–255 (image/depth_reduction.h). The precise
// stage reads a deep image at its own depth.

#include <QImage>
#include <optional>
#include <span>

#include "core/brightness_box.h"
#include "core/data_structures.h"
#include "image/depth_reduction.h"
#include "precise/precise_refinement.h"
#include "run/image_source.h"

namespace qova {

// How the brightness of a deep image is kept at its own depth, and what a
// grey level is in it: a 255th of the range the image uses.
[[nodiscard]] LevelType DeepLevelType(const ImageInfo& info);
[[nodiscard]] BrightnessScale DeepScale(const ImageInfo& info, const SampleRange& range);

// Fills out[0 .. n) with the brightness of pixels x0 .. x0 + n − 1 of a row
// of a deep image, as DeepLevelType keeps it: a grey sample as itself, r +
// g + b of colour ones.
template <class T>
void DeepBrightness(const ImageInfo& info, const uint8_t* row, int64_t x0, int64_t n, T* out);

class RunPixels {
 public:
  explicit RunPixels(const ImageSource& source) : source_(source) {}

  [[nodiscard]] const ImageSource& Source() const { return source_; }
  [[nodiscard]] int32_t Width() const;
  [[nodiscard]] int32_t Height() const;

  // The image as the specified stages read it, Format_RGB32 pixels, read
  // from the source when they are stale. Throws QovaError when it cannot be
  // read, std::bad_alloc without the memory.
  [[nodiscard]] const QImage& Rgb32();

  // The precise stage on the region's corners and starting points, on the
  // image at its own depth.
  [[nodiscard]] PreciseResult RefinePrecisely(std::span<const VT_Point> corners,
                                              std::span<const VT_Point> starts,
                                              const PreciseParams& params);

  // The run reads its image again here: the next stage that reads pixels
  // reads them from the source as it then is.
  void ReadAgain() { stale_ = staleDeep_ = true; }

 private:
  [[nodiscard]] const DepthReduction& Reduction();

  const ImageSource& source_;
  QImage owned_;
  const QImage* current_ = nullptr;
  bool stale_ = true;
  std::optional<DepthReduction> reduction_;
  BrightnessBox deep_;
  bool staleDeep_ = true;
};

}  // namespace qova
