#pragma once
// What a run keeps of its image: only the boxes its stages read, compactly,
// read from its image source when a stage first needs them. The specified
// stages read the colour sums r + g + b of 8-bit colours (an 8-bit image's
// own, exactly as Qt gives them; for a deeper image its reduction with the
// range it uses mapped onto 0–255, image/depth_reduction.h) as 16-bit
// integers, column by column; the precise stage reads the brightness at the
// image's own depth, row by row. After the run reads its image again (the
// file read again before the refinement) a stage reads its box from the
// source as it then is; a box read then for the next region's binarization
// rides on the precise stage's pass.

#include <QImage>
#include <optional>
#include <span>

#include "core/brightness_box.h"
#include "core/search_region.h"
#include "image/depth_reduction.h"
#include "run/image_source.h"
#include "state/detection_params.h"

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

// The brightness of an 8-bit image at its own depth: the colour sums, of
// which a grey level is 3.
[[nodiscard]] BrightnessScale EightBitScale();

// The box of colour sums the binarization of a region reads: its bounding
// box widened by one pixel, with those of its fragments when it is divided
// (params.FragmentationWidth); clipped to the image of w × h pixels.
[[nodiscard]] BoxBounds SumsBoxOf(const SearchRegion& region, const DetectionParams& params,
                                  int32_t w, int32_t h);

// The box of brightness the precise stage reads for a region: its bounding
// box widened by margin pixels, clipped to the image.
[[nodiscard]] BoxBounds LevelsBoxOf(const SearchRegion& region, int64_t margin, int32_t w,
                                    int32_t h);

// The margin tried first: the precise stage reads along each line of a
// crossing to its neighbours, so a crossing near the region's edge reads
// about a pitch beyond it, and a pitch is at most the region's size.
[[nodiscard]] int64_t FirstPreciseMargin(const SearchRegion& region);

class RunPixels {
 public:
  explicit RunPixels(const ImageSource& source) : source_(source) {}

  [[nodiscard]] const ImageSource& Source() const { return source_; }
  [[nodiscard]] int32_t Width() const;
  [[nodiscard]] int32_t Height() const;

  // The colour sums of box (LevelType::kUint16, Layout::kColumns), read
  // from the source unless the sums kept since the run last read its image
  // again cover it. Throws QovaError when the image cannot be read,
  // std::bad_alloc without the memory.
  [[nodiscard]] const BrightnessBox& DetectionSums(const BoxBounds& box);
  // The brightness at the image's own depth of box (Layout::kRows), read as
  // DetectionSums is; with alsoSums, the colour sums of that box are read in
  // the same pass, for the stage after (the next region's binarization).
  [[nodiscard]] const BrightnessBox& PreciseLevels(const BoxBounds& box,
                                                   const BoxBounds* alsoSums = nullptr);
  void ReleaseSums() { sums_.Release(); }
  void ReleaseLevels() { levels_.Release(); }

  // The run reads its image again here: a later stage reads its box from
  // the source as it then is.
  void ReadAgain() { sumsFresh_ = levelsFresh_ = false; }

  // Passes over the source so far, and the rows of the image kept (for the
  // tests and the benchmark).
  [[nodiscard]] int Passes() const { return passes_; }

 private:
  [[nodiscard]] const DepthReduction& Reduction();
  // One pass filling the sums over sumsBox and the levels over levelsBox
  // (either may be null).
  void Read(const BoxBounds* sumsBox, const BoxBounds* levelsBox);

  const ImageSource& source_;
  std::optional<DepthReduction> reduction_;
  BrightnessBox sums_, levels_;
  bool sumsFresh_ = false, levelsFresh_ = false;
  int passes_ = 0;
};

}  // namespace qova
