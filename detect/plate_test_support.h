#pragma once
// A rendered plate binarized over one region of mouse-placed corners as a run
// does it, for the detection tests and benchmark that start from a real mask.
// Needs qova_binarize and qova_synth.

#include <cstring>
#include <vector>

#include "detect/detect_test_support.h"
#include "synth/synthetic_plate.h"
#include "tests/support/run_arrays.h"

namespace qova::testing {

// Binarizes image over the region of the given corners rounded to whole
// pixels (as clicked) and puts the mask and the region into s; returns the
// region's index.
inline int32_t BinarizedPlateRegion(DetectRecord& s, const QImage& image,
                                    const std::vector<QPointF>& corners) {
  RunArrays run(image);
  s.Regions.Append(ClickedRegion(corners));
  const int32_t index = s.Regions.Length() - 1;
  run.Binarize(*s.Regions[index]);
  s.ImageWidth = image.width();
  s.ImageHeight = image.height();
  s.BinaryMask.Allocate(s.ImageWidth, s.ImageHeight);
  for (int32_t x = 0; x < s.ImageWidth; ++x)
    std::memcpy(s.BinaryMask[x], run.work.BinaryMask[x], static_cast<size_t>(s.ImageHeight));
  return index;
}

}  // namespace qova::testing
