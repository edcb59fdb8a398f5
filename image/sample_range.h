#pragma once
// The range of values an image actually uses, found in one streaming pass:
// what maps a 12-bit image stored in 16 bits onto the full scale.

#include <cstdint>

#include "image/image_info.h"

namespace qova {

class ImageReader;

struct SampleRange {
  double min = 0;           // smallest and largest finite sample of the colour (or
  double max = 0;           // grey) channels; alpha is not brightness and is left out
  uint64_t samples = 0;     // finite samples seen
  uint64_t non_finite = 0;  // NaN and infinite samples (float images)
  [[nodiscard]] bool Empty() const { return samples == 0; }
};

// Accumulates bands of rows of one image.
class RangeAccumulator {
 public:
  explicit RangeAccumulator(const ImageInfo& info) : info_(info) {}
  void Take(const RowBand& band);
  [[nodiscard]] const SampleRange& Result() const { return range_; }

 private:
  template <typename T>
  void TakeRow(const T* row);

  ImageInfo info_;
  SampleRange range_;
};

// One pass over the reader's rows.
[[nodiscard]] SampleRange ScanRange(const ImageReader& reader);

}  // namespace qova
