// Any bytes as a small grey image, four corners and starting points for the
// precise refinement: the lattice, the fits and the completion must cope
// with nonsense starts and pictures without a grid. Nothing may crash, read
// outside the image, or run away.
#include <QImage>
#include <cstdint>
#include <cstring>
#include <vector>

#include "precise/precise_refinement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qova;
  // Layout: width, height (a byte each, + 1), eight corner bytes, the count
  // of starting points, their coordinates (two bytes each, scaled), then the
  // pixels row by row (repeated when short).
  if (size < 12) return 0;
  const int w = data[0] + 1, h = data[1] + 1;
  std::vector<VT_Point> corners;
  for (int k = 0; k < 4; ++k)
    corners.emplace_back(data[2 + 2 * k] * w / 256.0, data[3 + 2 * k] * h / 256.0);
  const size_t count = data[10];
  size_t at = 11;
  std::vector<VT_Point> starts;
  for (size_t k = 0; k < count && at + 1 < size; ++k, at += 2)
    starts.emplace_back(data[at] * w / 256.0 + 0.25, data[at + 1] * h / 256.0 - 0.5);
  if (at >= size) return 0;
  QImage image(w, h, QImage::Format_Grayscale8);
  const size_t pixels = size - at;
  for (int y = 0; y < h; ++y) {
    uchar* row = image.scanLine(y);
    for (int x = 0; x < w; ++x) row[x] = data[at + (static_cast<size_t>(y) * w + x) % pixels];
  }
  PreciseParams params;
  params.threads = 1;
  const PreciseResult result = RefinePrecise(image, corners, starts, params);
  for (const PrecisePoint& p : result.points)
    if (!(p.x >= 0 && p.y >= 0 && p.x <= w - 1 && p.y <= h - 1)) __builtin_trap();
  return 0;
}
