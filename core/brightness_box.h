#pragma once
// The brightness of the pixels of one box of an image, kept compactly at the
// image's own depth: what a run holds of a gigapixel scan instead of the
// whole picture. Each pixel's brightness is J = r + g + b of its colour
// samples (3·v for grey), stored as the smallest exact number: the sum of
// three 8-bit colours as 16 bits, a 16-bit grey sample as itself, the sum of
// three 16-bit colours as 32 bits, float samples as they come.

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/qova_error.h"

namespace qova {

enum class LevelType : uint8_t { kUint16, kUint32, kFloat32, kFloat64 };

[[nodiscard]] inline size_t LevelBytes(LevelType t) {
  return t == LevelType::kUint16 ? 2 : t == LevelType::kUint32 || t == LevelType::kFloat32 ? 4 : 8;
}

// How the numbers of a box stand for brightness, in units of J.
struct BrightnessScale {
  double perElement = 1;    // J = perElement · the number kept (3 where a grey sample is kept)
  double greyLevel = 3;     // J of one grey level: 3 for 8-bit images; for deeper ones 3·(max −
                            // min)/255 of the range the image uses, so that thresholds in grey
                            // levels mean the same share of its contrast at any depth
  double white = 765;       // J of white: views of dark lines read white − J
  double black = 0;         // J of the least value the image uses (0 for 8-bit images)
  double roundingStep = 3;  // J of one rounding step of a grey pixel (0: samples not rounded)
};

// Pixels x0 <= x < x1, y0 <= y < y1.
struct BoxBounds {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  [[nodiscard]] bool Empty() const { return x1 <= x0 || y1 <= y0; }
  [[nodiscard]] int64_t Width() const { return int64_t{x1} - x0; }
  [[nodiscard]] int64_t Height() const { return int64_t{y1} - y0; }
  [[nodiscard]] bool Contains(int32_t x, int32_t y) const {
    return x >= x0 && x < x1 && y >= y0 && y < y1;
  }
  [[nodiscard]] bool Contains(const BoxBounds& b) const {
    return b.Empty() || (b.x0 >= x0 && b.x1 <= x1 && b.y0 >= y0 && b.y1 <= y1);
  }
};

// A read outside the box a run kept: the run keeps a wider box and reads
// the image again.
class OutsideKeptBox : public QovaError {
 public:
  OutsideKeptBox() : QovaError("Чтение вне сохранённой части изображения") {}
};

class BrightnessBox {
 public:
  enum class Layout {
    kRows,     // element (x, y) at (y − y0)·width + (x − x0)
    kColumns,  // element (x, y) at (x − x0)·height + (y − y0)
  };

  // An empty box of an image of imageWidth × imageHeight pixels. Throws
  // std::bad_alloc when the memory cannot be had.
  void Allocate(int32_t imageWidth, int32_t imageHeight, const BoxBounds& bounds, LevelType type,
                Layout layout, const BrightnessScale& scale) {
    Release();
    imageWidth_ = imageWidth, imageHeight_ = imageHeight;
    bounds_ = bounds.Empty() ? BoxBounds{} : bounds;
    type_ = type, layout_ = layout, scale_ = scale;
    size_ = static_cast<size_t>(bounds_.Width()) * static_cast<size_t>(bounds_.Height()) *
            LevelBytes(type);
    // Not zeroed: every element is written before it is read.
    if (size_ > 0) bytes_ = std::make_unique_for_overwrite<uint8_t[]>(size_);
  }
  void Release() {
    bytes_.reset();
    size_ = 0;
    bounds_ = BoxBounds{};
  }

  [[nodiscard]] int32_t ImageWidth() const { return imageWidth_; }
  [[nodiscard]] int32_t ImageHeight() const { return imageHeight_; }
  [[nodiscard]] const BoxBounds& Bounds() const { return bounds_; }
  [[nodiscard]] LevelType Type() const { return type_; }
  [[nodiscard]] Layout Order() const { return layout_; }
  [[nodiscard]] const BrightnessScale& Scale() const { return scale_; }
  [[nodiscard]] size_t Bytes() const { return size_; }

  // The elements of row y from column x0 (kRows), or of column x from row
  // y0 (kColumns), as T (the type's own: uint16_t, uint32_t, float, double).
  template <class T>
  [[nodiscard]] T* Row(int32_t y) {
    return reinterpret_cast<T*>(bytes_.get()) + Offset(bounds_.x0, y);
  }
  template <class T>
  [[nodiscard]] const T* Row(int32_t y) const {
    return reinterpret_cast<const T*>(bytes_.get()) + Offset(bounds_.x0, y);
  }
  template <class T>
  [[nodiscard]] T* Column(int32_t x) {
    return reinterpret_cast<T*>(bytes_.get()) + Offset(x, bounds_.y0);
  }
  template <class T>
  [[nodiscard]] const T* Column(int32_t x) const {
    return reinterpret_cast<const T*>(bytes_.get()) + Offset(x, bounds_.y0);
  }
  // Element (x, y) is Data<T>()[Offset(x, y)].
  template <class T>
  [[nodiscard]] const T* Data() const {
    return reinterpret_cast<const T*>(bytes_.get());
  }
  // Elements from one to the next along a row and along a column.
  [[nodiscard]] size_t StepX() const {
    return layout_ == Layout::kRows ? 1 : static_cast<size_t>(bounds_.Height());
  }
  [[nodiscard]] size_t StepY() const {
    return layout_ == Layout::kRows ? static_cast<size_t>(bounds_.Width()) : 1;
  }
  [[nodiscard]] size_t Offset(int32_t x, int32_t y) const {
    return static_cast<size_t>(x - bounds_.x0) * StepX() +
           static_cast<size_t>(y - bounds_.y0) * StepY();
  }

  // The number kept at (x, y), which must lie in the box.
  [[nodiscard]] double Element(int32_t x, int32_t y) const {
    const uint8_t* p = bytes_.get() + Offset(x, y) * LevelBytes(type_);
    switch (type_) {
      case LevelType::kUint16:
        return Load<uint16_t>(p);
      case LevelType::kUint32:
        return Load<uint32_t>(p);
      case LevelType::kFloat32:
        return Load<float>(p);
      case LevelType::kFloat64:
        return Load<double>(p);
    }
    return 0;
  }

 private:
  template <class T>
  static double Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
  }

  int32_t imageWidth_ = 0, imageHeight_ = 0;
  BoxBounds bounds_;
  LevelType type_ = LevelType::kUint16;
  Layout layout_ = Layout::kRows;
  BrightnessScale scale_;
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_ = 0;
};

}  // namespace qova
