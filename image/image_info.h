#pragma once
// What an image file holds, read from its header without its pixels, and the
// bands of rows a reading pass hands out.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qova {

enum class ImageFormat { kBmp, kTiff, kPng, kPnm, kOther };

// How one sample is stored in the rows handed out (native byte order).
// Files give the first three; kFloat64 comes only from arrays in memory.
enum class SampleType { kUint8, kUint16, kFloat32, kFloat64 };

[[nodiscard]] int BytesPerSample(SampleType type);

struct ImageInfo {
  ImageFormat format = ImageFormat::kOther;
  std::string format_name;  // "BMP", "TIFF", "PNG", "PGM", "PPM", "PBM", or Qt's name ("jpeg")
  int64_t width = 0;
  int64_t height = 0;
  // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA, in that sample order. Palette
  // images are handed out as their colours: grey when every colour of the
  // palette is grey, else RGB (RGBA where the palette has transparency).
  int channels = 0;
  SampleType sample = SampleType::kUint8;
  int bits = 8;  // bits of a sample as handed out: 8, 16 or 32
  // Bits the file says are significant (PNG sBIT, a PNM maxval, a 1- to
  // 4-bit sample expanded to 8); equal to bits when the file says nothing.
  int significant_bits = 8;
  // The value that stands for white: 255, 65535, a PNM maxval; 1 for float.
  double max_value = 255;
  // Dots per inch where the file holds a resolution, else 0.
  double dpi_x = 0;
  double dpi_y = 0;
  // False when the file is decoded whole before its rows are handed out
  // (Qt's readers for the formats this reader does not stream, interlaced
  // PNG, a damaged RLE bitmap); note says why.
  bool streamed = true;
  bool decoded_by_qt = false;  // rows come from Qt's reader, as RGB (see LoadImageFile)
  bool bottom_up = false;      // bands come from the last row up (most bitmaps)
  std::string note;

  // Details the conversion to Qt's 32-bit colours needs (see rgb32.h).
  int file_bits = 8;              // bits of a sample in the file (1, 2, 4, 8, 16, 32)
  int64_t transparent_grey = -1;  // PNG tRNS grey key, in the values handed out; -1 none
  bool pnm_scaled = false;        // a PNM whose maxval is below 255

  [[nodiscard]] size_t BytesPerPixel() const {
    return static_cast<size_t>(channels) * static_cast<size_t>(BytesPerSample(sample));
  }
  [[nodiscard]] size_t RowBytes() const { return BytesPerPixel() * static_cast<size_t>(width); }
};

// Consecutive rows y .. y + rows - 1 (top to bottom), row i at data + i *
// stride, each width * channels samples. Bands come in the order the file
// stores them: a bottom-up bitmap hands out its rows from y = height - 1 up.
// The data is valid only during the call.
struct RowBand {
  int64_t y = 0;
  int64_t rows = 0;
  const uint8_t* data = nullptr;
  size_t stride = 0;

  [[nodiscard]] const uint8_t* Row(int64_t i) const {
    return data + static_cast<size_t>(i) * stride;
  }
};

// Receives every band of a pass once; may throw to end the pass.
using RowSink = std::function<void(const RowBand&)>;

}  // namespace qova
