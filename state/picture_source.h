#pragma once
// A picture of the image's size that the window draws part by part: the open
// image, or one of step mode's pictures of a run. Each keeps what it shows in
// a compact form and hands out its pixels a piece of a row at a time, so that
// the window never holds the image at 32 bits a pixel.

#include <QRgb>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qova {

// The pixels [first, end) of one axis that a screen pixel shows.
struct PixelSpan {
  int32_t first = 0;
  int32_t end = 0;
};

class PictureSource {
 public:
  virtual ~PictureSource() = default;

  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Pixels [x, x + n) of row y, opaque; the piece lies inside the picture.
  virtual void ReadRow(int32_t y, int32_t x, int32_t n, QRgb* out) const = 0;
  // The sums of red, green and blue of the blocks columns[i] × rows, in
  // sums[3·i], sums[3·i + 1], sums[3·i + 2]. The spans lie inside the picture
  // and follow each other from left to right. This one reads the rows.
  virtual void SumBlocks(const std::vector<PixelSpan>& columns, PixelSpan rows,
                         uint64_t* sums) const {
    if (columns.empty()) return;
    const int32_t x0 = columns.front().first;
    const int32_t n = columns.back().end - x0;
    std::vector<QRgb> row(static_cast<size_t>(n));
    std::fill(sums, sums + 3 * columns.size(), uint64_t{0});
    for (int32_t y = rows.first; y < rows.end; ++y) {
      ReadRow(y, x0, n, row.data());
      uint64_t* sum = sums;
      for (const PixelSpan& c : columns) {
        for (int32_t x = c.first; x < c.end; ++x) {
          const QRgb p = row[static_cast<size_t>(x - x0)];
          sum[0] += qRed(p);
          sum[1] += qGreen(p);
          sum[2] += qBlue(p);
        }
        sum += 3;
      }
    }
  }
  // The bytes of pixels it holds.
  virtual size_t HeldBytes() const = 0;
};

}  // namespace qova
