#pragma once
// A consumer of a reading pass that keeps only the pixels inside given
// bounding boxes, at the file's own depth: what a run over a few regions of
// a gigapixel scan holds instead of the whole image.

#include <cstdint>
#include <vector>

#include "image/image_info.h"

namespace qova {

// Pixels x0 <= x < x1, y0 <= y < y1.
struct PixelBox {
  int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  [[nodiscard]] int64_t Width() const { return x1 - x0; }
  [[nodiscard]] int64_t Height() const { return y1 - y0; }
  [[nodiscard]] bool Empty() const { return x1 <= x0 || y1 <= y0; }
};

// The box cut to the image; empty when it lies outside.
[[nodiscard]] PixelBox ClipToImage(const PixelBox& box, const ImageInfo& info);

// Bytes BoxRows holds for these boxes (each clipped to the image; boxes that
// overlap are held once each).
[[nodiscard]] uint64_t BoxBytes(const ImageInfo& info, const std::vector<PixelBox>& boxes);

class BoxRows {
 public:
  // Throws QovaError("Недостаточно памяти ...") when the boxes cannot be held.
  BoxRows(const ImageInfo& info, std::vector<PixelBox> boxes);

  // Give it to ImageReader::ReadRows: [&](const RowBand& b) { keeper.Take(b); }
  void Take(const RowBand& band);

  [[nodiscard]] size_t Count() const { return boxes_.size(); }
  // The box as clipped to the image.
  [[nodiscard]] const PixelBox& Box(size_t i) const { return boxes_[i]; }
  // Row y of the image inside box i (y0 <= y < y1): Box(i).Width() pixels
  // of info.BytesPerPixel() bytes, from column x0.
  [[nodiscard]] const uint8_t* Row(size_t i, int64_t y) const;
  [[nodiscard]] size_t Stride(size_t i) const { return strides_[i]; }
  // Rows of the image that fell in at least one box, and all rows seen.
  [[nodiscard]] int64_t RowsKept() const { return rowsKept_; }
  [[nodiscard]] int64_t RowsSeen() const { return rowsSeen_; }

 private:
  ImageInfo info_;
  std::vector<PixelBox> boxes_;
  std::vector<size_t> strides_;
  std::vector<std::vector<uint8_t>> pixels_;
  int64_t rowsKept_ = 0, rowsSeen_ = 0;
};

}  // namespace qova
