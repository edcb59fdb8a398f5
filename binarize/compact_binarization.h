#pragma once
// The brightness statistics, threshold and edge mask of a region on the
// compact working form a run keeps instead of the whole-image arrays: the
// colour sums r + g + b of the region's box as 16-bit integers (from which
// every brightness (r + g + b)/3 is the same double as ever), a bit a pixel
// for where a gradient has been computed this run, and the mask. G is
// computed again wherever it is read, from the same four brightness values
// by the same operations, so every G, every sum over them and every mask
// pixel is bit for bit what binarization.h computes on the whole-image
// arrays, its plain twin.

#include <QImage>
#include <algorithm>
#include <bit>
#include <cstdint>

#include "binarize/binarization.h"
#include "core/brightness_box.h"
#include "core/pixel_array.h"
#include "core/search_region.h"

namespace qova {

// One bit a pixel over the image, [x][y] like the working arrays, from zero
// pages: only the columns a region touches cost memory.
class PixelBits {
 public:
  void Allocate(int32_t width, int32_t height) {
    words_.Allocate(width, (height + 63) / 64);
    height_ = height;
  }
  void Release() { words_.Release(), height_ = 0; }
  bool Get(int32_t x, int32_t y) const { return (words_[x][y >> 6] >> (y & 63)) & 1; }
  // Sets the bits of column x from row first to last.
  void SetRun(int32_t x, int32_t first, int32_t last);
  // Calls run(a, b) for each run a ... b of set bits of column x within rows
  // first ... last, in growing y.
  template <class Run>
  void ForEachRun(int32_t x, int32_t first, int32_t last, Run run) const {
    const uint64_t* words = words_[x];
    int32_t y = first;
    while (y <= last) {
      // The next set bit from y, then the next clear one: a word at a time.
      y = Next(words, y, last, true);
      if (y > last) return;
      const int32_t end = Next(words, y, last, false);
      run(y, end - 1);
      y = end;
    }
  }
  int32_t Width() const { return words_.Width(); }
  int32_t Height() const { return height_; }

 private:
  // The first row from y to last whose bit is set (or clear); last + 1 for none.
  static int32_t Next(const uint64_t* words, int32_t y, int32_t last, bool set) {
    while (y <= last) {
      uint64_t w = words[y >> 6];
      if (!set) w = ~w;
      w >>= (y & 63);
      if (w != 0) return std::min(last + 1, y + std::countr_zero(w));
      y = (y | 63) + 1;
    }
    return last + 1;
  }

  PixelArray<uint64_t> words_;
  int32_t height_ = 0;
};

// What a run works on besides the brightness: the mask the scans read, the
// pixels whose gradient this run has computed (the plain arrays' non-zero
// GradientArray cells), and in step mode the gradient picture.
struct CompactWork {
  PixelArray<uint8_t> BinaryMask;  // [x][y], 1 = edge pixel
  PixelBits Computed;              // G computed here this run
  QImage WorkBitmap;               // Format_Grayscale8, only with steps

  // Every array at width × height, zeroed, straight from the system;
  // WorkBitmap (black) only when steps. Throws QovaError when memory runs
  // out, after giving back what it had.
  void Allocate(int32_t width, int32_t height, bool steps);
  void Release();
  int32_t Width() const { return BinaryMask.Width(); }
  int32_t Height() const { return BinaryMask.Height(); }
};

// The box of colour sums ComputeGradientStatistics needs for a region: its
// bounding box widened by one pixel, clipped to the image.
[[nodiscard]] BoxBounds SumsBox(const SearchRegion& region, int32_t width, int32_t height);

// ComputeGradientStatistics on the colour sums (LevelType::kUint16,
// Layout::kColumns, covering SumsBox(region)): the same statistics, G
// marked computed on the region's interior pixels and, with a WorkBitmap,
// its grey levels there.
GradientStatistics ComputeGradientStatistics(const BrightnessBox& sums, const SearchRegion& region,
                                             CompactWork& work);

// BinarizeRegion on the colour sums: every pixel of the region's bounding
// box whose G (computed this run, else 0) exceeds threshold is set in the
// mask; the sums must cover SumsBox(region).
void BinarizeRegion(const BrightnessBox& sums, const SearchRegion& region, int32_t threshold,
                    CompactWork& work);

}  // namespace qova
