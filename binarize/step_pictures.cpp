#include "binarize/step_pictures.h"

#include <algorithm>
#include <new>
#include <vector>

#include "binarize/region_pixels.h"
#include "state/qrgb.h"

namespace qova {

namespace {

class GreyPicture final : public PictureSource {
 public:
  explicit GreyPicture(QImage grey) : grey_(std::move(grey)) {}
  int32_t Width() const override { return grey_.width(); }
  int32_t Height() const override { return grey_.height(); }
  void ReadRow(int32_t y, int32_t x, int32_t n, QRgb* out) const override {
    const uchar* row = grey_.constScanLine(y) + x;
    for (int32_t i = 0; i < n; ++i) out[i] = qRgb(row[i], row[i], row[i]);
  }
  size_t HeldBytes() const override { return static_cast<size_t>(grey_.sizeInBytes()); }

 private:
  QImage grey_;
};

class MaskPicture final : public PictureSource {
 public:
  MaskPicture(const PixelArray<uint8_t>& mask, const PixelBox& box, int32_t width, int32_t height)
      : width_(width), height_(height), box_(box) {
    if (box_.Empty()) return;
    boxWidth_ = int64_t{box_.x1} - box_.x0 + 1;
    const int64_t boxHeight = int64_t{box_.y1} - box_.y0 + 1;
    bits_.assign(static_cast<size_t>((boxWidth_ * boxHeight + 63) / 64), 0);
    for (int32_t x = box_.x0; x <= box_.x1; ++x) {
      const uint8_t* column = mask[x];
      for (int32_t y = box_.y0; y <= box_.y1; ++y)
        if (column[y] != 0) {
          const size_t bit = Bit(x, y);
          bits_[bit / 64] |= uint64_t{1} << (bit % 64);
        }
    }
  }
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void ReadRow(int32_t y, int32_t x, int32_t n, QRgb* out) const override {
    const QRgb black = ToQRgb(kBlack), white = ToQRgb(kWhite);
    std::fill(out, out + n, black);
    if (box_.Empty() || y < box_.y0 || y > box_.y1) return;
    const int32_t from = std::max(x, box_.x0), to = std::min(x + n - 1, box_.x1);
    for (int32_t i = from; i <= to; ++i) {
      const size_t bit = Bit(i, y);
      if ((bits_[bit / 64] >> (bit % 64)) & 1) out[i - x] = white;
    }
  }
  size_t HeldBytes() const override { return bits_.size() * sizeof(uint64_t); }

 private:
  // The box row by row.
  size_t Bit(int32_t x, int32_t y) const {
    return static_cast<size_t>((int64_t{y} - box_.y0) * boxWidth_ + (x - box_.x0));
  }

  int32_t width_, height_;
  PixelBox box_;
  int64_t boxWidth_ = 0;
  std::vector<uint64_t> bits_;
};

}  // namespace

std::shared_ptr<const PictureSource> GradientPicture(const QImage& workBitmap) {
  if (workBitmap.format() != QImage::Format_Grayscale8) {
    const QImage grey = workBitmap.convertToFormat(QImage::Format_Grayscale8);
    if (grey.isNull() && !workBitmap.isNull()) throw std::bad_alloc();
    return std::make_shared<GreyPicture>(grey);
  }
  return std::make_shared<GreyPicture>(workBitmap);
}

std::shared_ptr<const PictureSource> BinaryPicture(const PixelArray<uint8_t>& mask,
                                                   const SearchRegion& region, int32_t width,
                                                   int32_t height) {
  const PixelBox box =
      ClippedBox(region, 0, std::min(width, mask.Width()), std::min(height, mask.Height()));
  return std::make_shared<MaskPicture>(mask, box, width, height);
}

}  // namespace qova
