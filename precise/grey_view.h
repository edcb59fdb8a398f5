#pragma once
// The grey levels J of an image with the lines made bright, read in one of
// two orientations: the near-horizontal family of lines is fitted exactly
// like the near-vertical one, on the transposed image, so every fit is "a
// near-vertical line, profiles along rows". No copy: the view reads the
// RGB32 pixels, or the brightness a run kept of a box of the image at the
// image's own depth (core/brightness_box.h). J is the sum of a pixel's
// colour samples, r + g + b (thirds of a grey level for 8-bit images), so
// that no pixel needs a division: J, or white − J where the lines are dark.
// Every fit is indifferent to the scale; where a grey level counts (the
// rounding of the pixels, the paper's brightness) the view says what it is
// in units of J: for a deep image a grey level is a 255th of the range it
// uses, so a 12-bit image stored in 16 bits is measured as the same image at
// full range.

#include <QImage>
#include <cstdint>

#include "core/brightness_box.h"

namespace qova::precise {

// Units of J in one grey level of an 8-bit image.
inline constexpr double kThirds = 3;

// The standard deviation of a uniform rounding error of one unit, 1/√12:
// what rounding to whole grey levels adds to a pixel.
inline constexpr double kUniformRoundingSigma = 0.28867513459481287;

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

  // The brightness kept of a box of the image (it must outlive the view).
  // A read outside the box throws OutsideKeptBox.
  GreyView(const BrightnessBox& box, bool linesDark, bool transposed)
      : box_(&box),
        linesDark_(linesDark),
        transposed_(transposed),
        width_(transposed ? box.ImageHeight() : box.ImageWidth()),
        height_(transposed ? box.ImageWidth() : box.ImageHeight()),
        white_(box.Scale().white),
        greyLevel_(box.Scale().greyLevel),
        roundingSigma_(kUniformRoundingSigma * box.Scale().roundingStep),
        perElement_(box.Scale().perElement) {}

  bool LinesDark() const { return linesDark_; }
  bool Transposed() const { return box_ ? transposed_ : rowStride_ == 4; }
  // Width and height in this orientation.
  int Width() const { return width_; }
  int Height() const { return height_; }
  // J of white, of one grey level, and the standard deviation that rounding
  // the samples adds to one pixel's J.
  double White() const { return white_; }
  double GreyLevel() const { return greyLevel_; }
  double RoundingSigma() const { return roundingSigma_; }

  // J at column x, row y of this orientation; the caller keeps (x, y) inside.
  double At(int x, int y) const {
    if (box_) {
      double v = 0;
      ReadBox(x, y, 1, &v);
      return v;
    }
    const uchar* p =
        bits_ + static_cast<qsizetype>(y) * rowStride_ + static_cast<qsizetype>(x) * columnStride_;
    return Thirds(*reinterpret_cast<const QRgb*>(p));
  }

  // Adds J at n neighbouring columns x, x+1, ... of row y to sum[0 .. n).
  // 8- and 16-bit images give whole numbers, so that sums over any number of
  // rows are exact.
  void AddRun(int x, int y, int n, double* sum) const {
    if (box_) {
      AddBox(x, y, n, sum);
      return;
    }
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
    if (box_) {
      ReadBox(x, y, n, out);
      return;
    }
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

  // The kept elements of the run, first one and step between them; throws
  // when the run leaves the box.
  template <class T>
  const T* Elements(int x, int y, int n, size_t& step) const {
    const BoxBounds& b = box_->Bounds();
    const int ix = transposed_ ? y : x, iy = transposed_ ? x : y;
    const bool inside = transposed_ ? (ix >= b.x0 && ix < b.x1 && iy >= b.y0 && iy + n <= b.y1)
                                    : (iy >= b.y0 && iy < b.y1 && ix >= b.x0 && ix + n <= b.x1);
    if (!inside || n < 0) throw OutsideKeptBox();
    step = transposed_ ? box_->StepY() : box_->StepX();
    return box_->Data<T>() + box_->Offset(ix, iy);
  }
  template <class T, bool kAdd>
  void Run(int x, int y, int n, double* out) const {
    size_t step = 0;
    const T* p = Elements<T>(x, y, n, step);
    const double k = perElement_;
    for (int i = 0; i < n; ++i, p += step) {
      const double j = k * static_cast<double>(*p);
      const double v = linesDark_ ? white_ - j : j;
      if constexpr (kAdd)
        out[i] += v;
      else
        out[i] = v;
    }
  }
  template <bool kAdd>
  void BoxRun(int x, int y, int n, double* out) const {
    switch (box_->Type()) {
      case LevelType::kUint16:
        return Run<uint16_t, kAdd>(x, y, n, out);
      case LevelType::kUint32:
        return Run<uint32_t, kAdd>(x, y, n, out);
      case LevelType::kFloat32:
        return Run<float, kAdd>(x, y, n, out);
      case LevelType::kFloat64:
        return Run<double, kAdd>(x, y, n, out);
    }
  }
  void ReadBox(int x, int y, int n, double* out) const { BoxRun<false>(x, y, n, out); }
  void AddBox(int x, int y, int n, double* sum) const { BoxRun<true>(x, y, n, sum); }

  const uchar* bits_ = nullptr;
  const BrightnessBox* box_ = nullptr;
  bool linesDark_;
  bool transposed_ = false;
  int width_, height_;
  qsizetype rowStride_ = 0, columnStride_ = 0;
  double white_ = 255 * kThirds;
  double greyLevel_ = kThirds;
  double roundingSigma_ = kUniformRoundingSigma * kThirds;
  double perElement_ = 1;
};

}  // namespace qova::precise
