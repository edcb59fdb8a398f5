#pragma once
// A per-pixel working array indexed [x][y]: width columns of height cells,
// each column contiguous. The memory comes zeroed from the system (calloc of a
// large block maps fresh zero pages), so only the pages a region touches cost
// memory: a huge scan with one small region stays cheap.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/qova_error.h"

namespace qova {

template <class T>
class PixelArray {
 public:
  PixelArray() = default;
  ~PixelArray() { Release(); }
  PixelArray(const PixelArray&) = delete;
  PixelArray& operator=(const PixelArray&) = delete;

  // Allocates width × height zeroed cells; throws QovaError when the system
  // cannot provide them. Any earlier block is released first.
  void Allocate(int32_t width, int32_t height) {
    Release();
    if (width < 0 || height < 0) throw QovaError("Invalid array size");
    const size_t cells = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (cells != 0) {
      if (cells > SIZE_MAX / sizeof(T)) throw QovaError("Out of memory");
      data_ = static_cast<T*>(std::calloc(cells, sizeof(T)));
      if (data_ == nullptr) throw QovaError("Out of memory");
    }
    width_ = width;
    height_ = height;
  }

  void Release() {
    std::free(data_);
    data_ = nullptr;
    width_ = height_ = 0;
  }

  bool Allocated() const { return data_ != nullptr; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

  // Column x: the caller indexes it with y in [0, Height()).
  T* operator[](int32_t x) { return data_ + static_cast<size_t>(x) * static_cast<size_t>(height_); }
  const T* operator[](int32_t x) const {
    return data_ + static_cast<size_t>(x) * static_cast<size_t>(height_);
  }

  bool Contains(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && x < width_ && y < height_;
  }
  // Bounds-checked access for code that is not a hot loop.
  T& At(int32_t x, int32_t y) {
    if (!Contains(x, y)) throw RangeError("Range check error: pixel outside the array");
    return (*this)[x][y];
  }

 private:
  T* data_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace qova
