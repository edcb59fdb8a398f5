#pragma once
// The 8-bit picture of an image of any depth, as the specified detection
// reads it and the window shows it: an 8-bit image exactly as Qt's colours
// (rgb32.h); a deeper one with the range of values it actually uses mapped
// onto 0–255, so that a 12-bit image stored in 16 bits shows its whole
// contrast instead of the 16 levels of its top byte. Also what a pixel holds
// at the image's own depth, for a read-out.

#include <QImage>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/image_info.h"
#include "image/sample_range.h"

namespace qova {

class DepthReduction {
 public:
  // range: the colour samples' range over the image (ScanRange); unused for
  // 8-bit images. A deep image that uses a single value maps it by its
  // place between 0 and info.max_value.
  DepthReduction(const ImageInfo& info, const SampleRange& range);

  // Whether the picture is the 8-bit image's own colours (no mapping).
  [[nodiscard]] bool Exact() const { return info_.sample == SampleType::kUint8; }

  // Pixels x0 <= x < x0 + n of a row handed out at info's depth, as
  // 0xffRRGGBB: grey as r = g = b, alpha ignored.
  void ToRgb32(const uint8_t* row, int64_t x0, int64_t n, QRgb* out) const;

  // The 8-bit level of one colour sample v of a deep image:
  // round(255·(v − min)/(max − min)), within 0 … 255.
  [[nodiscard]] uint8_t Level(double v) const;

 private:
  template <typename T>
  void Map(const T* row, int64_t x0, int64_t n, QRgb* out) const;

  ImageInfo info_;
  double min_ = 0, span_ = 0, scale_ = 0;  // scale_ = 255 / span_
  std::vector<uint8_t> table_;             // 16-bit samples: the level of every value
};

// The samples of one pixel at the image's own depth: count values (1 grey,
// 2 grey and alpha, 3 RGB, 4 RGBA), as the file holds them.
struct PixelSamples {
  int count = 0;
  std::array<double, 4> value{};
};
[[nodiscard]] PixelSamples SamplesAt(const ImageInfo& info, const uint8_t* row, int64_t x);

// The samples as a read-out shows them: "4095", "1023, 2047, 4095", floats
// with up to 7 significant digits.
[[nodiscard]] std::string SamplesText(const ImageInfo& info, const PixelSamples& samples);

// The depth for a caption or a status bar: "8 бит", "16 бит", "32 бита с
// плавающей точкой".
[[nodiscard]] std::string DepthText(const ImageInfo& info);

}  // namespace qova
