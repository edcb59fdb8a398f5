#pragma once
// The grey levels J of an image with the lines made bright, read in one of
// two orientations: the near-horizontal family of lines is fitted exactly
// like the near-vertical one, on the transposed image, so every fit is "a
// near-vertical line, profiles along rows". No copy: the view reads the
// RGB32 pixels. J is kept in thirds of a grey level, 3G = r + g + b, so that
// no pixel needs a division: J = 3G, or 765 − 3G where the lines are dark.
// Every fit is indifferent to the scale; where a grey level counts (the
// rounding of the pixels, the paper's brightness) the unit is kThirds.

#include <QImage>
#include <cstdint>

namespace qova::precise {

// Units of J in one grey level.
inline constexpr double kThirds = 3;

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
  bool Transposed() const { return rowStride_ == 4; }
  // Width and height in this orientation.
  int Width() const { return width_; }
  int Height() const { return height_; }

  // J at column x, row y of this orientation, in thirds of a grey level;
  // the caller keeps (x, y) inside.
  double At(int x, int y) const {
    const uchar* p =
        bits_ + static_cast<qsizetype>(y) * rowStride_ + static_cast<qsizetype>(x) * columnStride_;
    return Thirds(*reinterpret_cast<const QRgb*>(p));
  }

  // Adds J at n neighbouring columns x, x+1, ... of row y to sum[0 .. n):
  // whole numbers, so that sums over any number of rows are exact.
  void AddRun(int x, int y, int n, int64_t* sum) const {
    const uchar* p =
        bits_ + static_cast<qsizetype>(y) * rowStride_ + static_cast<qsizetype>(x) * columnStride_;
    if (columnStride_ == 4) {
      const QRgb* q = reinterpret_cast<const QRgb*>(p);
      if (linesDark_)
        for (int i = 0; i < n; ++i) sum[i] += 765 - Sum(q[i]);
      else
        for (int i = 0; i < n; ++i) sum[i] += Sum(q[i]);
      return;
    }
    for (int i = 0; i < n; ++i, p += columnStride_) {
      const int v = Sum(*reinterpret_cast<const QRgb*>(p));
      sum[i] += linesDark_ ? 765 - v : v;
    }
  }

  // J at n neighbouring columns x, x+1, ... of row y.
  void ReadRun(int x, int y, int n, double* out) const {
    const uchar* p =
        bits_ + static_cast<qsizetype>(y) * rowStride_ + static_cast<qsizetype>(x) * columnStride_;
    if (columnStride_ == 4) {
      // Neighbouring pixels of an image row: one plain loop for each polarity.
      const QRgb* q = reinterpret_cast<const QRgb*>(p);
      if (linesDark_)
        for (int i = 0; i < n; ++i) out[i] = 765 - Sum(q[i]);
      else
        for (int i = 0; i < n; ++i) out[i] = Sum(q[i]);
      return;
    }
    for (int i = 0; i < n; ++i, p += columnStride_)
      out[i] = Thirds(*reinterpret_cast<const QRgb*>(p));
  }

 private:
  static int Sum(QRgb v) { return qRed(v) + qGreen(v) + qBlue(v); }
  double Thirds(QRgb v) const { return linesDark_ ? 765 - Sum(v) : Sum(v); }

  const uchar* bits_;
  bool linesDark_;
  int width_, height_;
  qsizetype rowStride_, columnStride_;
};

}  // namespace qova::precise
