#pragma once
// The grey levels J of an image with the lines made bright, read in one of
// two orientations: the near-horizontal family of lines is fitted exactly
// like the near-vertical one, on the transposed image, so every fit is "a
// near-vertical line, profiles along rows". No copy: the view reads the
// RGB32 pixels, G = (r + g + b)/3 as a double, J = G or 255 − G.

#include <QImage>
#include <cstdint>

namespace qova::precise {

class GreyView {
 public:
  // image must be Format_RGB32 or Format_ARGB32 and outlive the view.
  GreyView(const QImage& image, bool linesDark, bool transposed)
      : bits_(image.constBits()),
        linesDark_(linesDark),
        width_(transposed ? image.height() : image.width()),
        height_(transposed ? image.width() : image.height()),
        rowStride_(transposed ? 4 : image.bytesPerLine()),
        columnStride_(transposed ? image.bytesPerLine() : 4) {}

  bool LinesDark() const { return linesDark_; }
  // Width and height in this orientation.
  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

  // J at column x, row y of this orientation; the caller keeps (x, y) inside.
  double At(int x, int y) const {
    const uchar* p =
        bits_ + static_cast<qsizetype>(y) * rowStride_ + static_cast<qsizetype>(x) * columnStride_;
    const QRgb v = *reinterpret_cast<const QRgb*>(p);
    const double g = (qRed(v) + qGreen(v) + qBlue(v)) / 3.0;
    return linesDark_ ? 255 - g : g;
  }

 private:
  const uchar* bits_;
  bool linesDark_;
  int width_, height_;
  qsizetype rowStride_, columnStride_;
};

}  // namespace qova::precise
