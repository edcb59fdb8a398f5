#pragma once
// The open image as the window keeps it: 8 bits a channel, one channel for a
// grey image and three for a colour one, and a pyramid of block sums built
// once, from which a reduced view takes the exact mean of any block without
// reading every pixel of it.

#include <QImage>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "state/picture_source.h"

namespace qova {

class CompactPicture final : public PictureSource {
 public:
  // The picture of an image in any format Qt reads, each pixel as
  // convertToFormat(Format_RGB32) gives it: Format_Grayscale8 when every
  // pixel is grey, else Format_RGB888. Throws std::bad_alloc when memory
  // runs out.
  static std::shared_ptr<const CompactPicture> From(const QImage& image);
  // The picture of pixels already compact (Format_Grayscale8 or
  // Format_RGB888), which it keeps as they are: a reader that reads a file
  // at its own depth hands them over here.
  static std::shared_ptr<const CompactPicture> FromCompact(QImage pixels);

  const QImage& Pixels() const { return pixels_; }
  bool Grey() const { return pixels_.format() == QImage::Format_Grayscale8; }

  int32_t Width() const override { return pixels_.width(); }
  int32_t Height() const override { return pixels_.height(); }
  void ReadRow(int32_t y, int32_t x, int32_t n, QRgb* out) const override;
  // From the pyramid: each block is cut into aligned squares of 1, 4, 8 and
  // 16 pixels a side, whose sums are held.
  void SumBlocks(const std::vector<PixelSpan>& columns, PixelSpan rows,
                 uint64_t* sums) const override;
  size_t HeldBytes() const override;

  // The image at 32 bits a pixel (Format_RGB32) as the detection reads it,
  // made row by row; null when memory runs out.
  QImage ToRgb32() const;
  // Whether an image (Format_RGB32) holds exactly these pixels.
  bool SameAs(const QImage& rgb32) const;

 private:
  // Level k holds the sums of the squares of 2^k pixels a side (smaller at
  // the right and bottom edges), channel by channel; levels 2 to 4 are kept,
  // a level-1 square costs as much to add up from the pixels as to read.
  static constexpr int kTopLevel = 4;
  struct Level {
    int32_t width = 0;  // squares across
    int32_t height = 0;
    std::vector<uint16_t> sums;
  };

  void BuildPyramid();
  // The sums of [x0, x1) × [y0, y1), channel by channel, added to sum: from
  // the pixels at level 0, else from the squares of that level, which the
  // rectangle is made of.
  void AddRect(int32_t x0, int32_t x1, int32_t y0, int32_t y1, int level, uint64_t* sum) const;

  QImage pixels_;
  std::array<Level, kTopLevel + 1> levels_;
};

}  // namespace qova
