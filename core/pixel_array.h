#pragma once
// A per-pixel working array indexed [x][y]: width columns of height cells,
// each column contiguous. The memory comes zeroed from the system (fresh zero
// pages, never a pass writing zeros), so only the pages a region touches cost
// memory: a huge scan with one small region stays cheap.
//
// Blocks of 2 MiB and more are mapped on their own, aligned to 2 MiB and,
// up to kMostHuge, advised as transparent huge pages where the system offers
// them: a whole-plate region then faults its arrays in 2 MiB at a time
// instead of 4 KiB. A region still costs only the huge pages its columns
// lie in: a compact region of a hundred-megapixel scan touches tens of
// megabytes, not the whole array. Beyond kMostHuge (a gigapixel's mask) the
// kernel's search for free 2 MiB pages at every first touch costs more than
// the huge pages save: a run over a 32768² plate took 18 s with the advice
// and 13.5 s without, its 64-megapixel twin the same either way.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/qova_error.h"

// Under AddressSanitizer every column is a block of its own, so that a cell
// read past the end of a column (or before its start) is reported instead of
// silently landing in the neighbouring column, and a column index outside
// the array stops the program with a message. Other builds keep the one
// zeroed block.
#if defined(__SANITIZE_ADDRESS__)
#define QOVA_PIXEL_ARRAY_COLUMNS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QOVA_PIXEL_ARRAY_COLUMNS 1
#endif
#endif

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
#ifdef QOVA_PIXEL_ARRAY_COLUMNS
      // Column blocks are touched at once; refuse what the single block
      // would not have got either.
      if (cells > (size_t{1} << 32) / sizeof(T)) throw QovaError("Out of memory");
      columns_ = static_cast<T**>(std::calloc(static_cast<size_t>(width), sizeof(T*)));
      if (columns_ == nullptr) throw QovaError("Out of memory");
      width_ = width;
      for (int32_t x = 0; x < width; ++x) {
        columns_[x] = static_cast<T*>(std::calloc(static_cast<size_t>(height), sizeof(T)));
        if (columns_[x] == nullptr) {
          Release();
          throw QovaError("Out of memory");
        }
      }
      data_ = columns_[0];
#else
      if (cells > (SIZE_MAX - 2 * kHugePage) / sizeof(T)) throw QovaError("Out of memory");
      const size_t bytes = cells * sizeof(T);
      if (bytes >= kHugePage) {
        data_ = static_cast<T*>(MapHugeAligned(bytes));
        if (data_ != nullptr) mappedBytes_ = RoundUpToHugePage(bytes);
      } else {
        data_ = static_cast<T*>(std::calloc(cells, sizeof(T)));
      }
      if (data_ == nullptr) throw QovaError("Out of memory");
#endif
    }
    width_ = width;
    height_ = height;
  }
  void Release() {
#ifdef QOVA_PIXEL_ARRAY_COLUMNS
    if (columns_ != nullptr)
      for (int32_t x = 0; x < width_; ++x) std::free(columns_[x]);
    std::free(columns_);
    columns_ = nullptr;
#else
    if (mappedBytes_ != 0)
      ::munmap(data_, mappedBytes_);
    else
      std::free(data_);
    mappedBytes_ = 0;
#endif
    data_ = nullptr;
    width_ = height_ = 0;
  }
  bool Allocated() const { return data_ != nullptr; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

  // Column x: the caller indexes it with y in [0, Height()).
#ifdef QOVA_PIXEL_ARRAY_COLUMNS
  T* operator[](int32_t x) { return Column(x); }
  const T* operator[](int32_t x) const { return Column(x); }
#else
  T* operator[](int32_t x) { return data_ + static_cast<size_t>(x) * static_cast<size_t>(height_); }
  const T* operator[](int32_t x) const {
    return data_ + static_cast<size_t>(x) * static_cast<size_t>(height_);
  }
#endif
  bool Contains(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && x < width_ && y < height_;
  }
  // Bounds-checked access for code that is not a hot loop.
  T& At(int32_t x, int32_t y) {
    if (!Contains(x, y)) throw RangeError("Range check error: pixel outside the array");
    return (*this)[x][y];
  }

 private:
#ifdef QOVA_PIXEL_ARRAY_COLUMNS
  T* Column(int32_t x) const {
    if (x < 0 || x >= width_ || columns_ == nullptr) {
      std::fprintf(stderr, "PixelArray: column %d outside the array of %d columns\n",
                   static_cast<int>(x), static_cast<int>(width_));
      std::abort();
    }
    return columns_[x];
  }
  T** columns_ = nullptr;
#else
  static constexpr size_t kHugePage = size_t{2} << 20;
  static constexpr size_t kMostHuge = size_t{256} << 20;

  static size_t RoundUpToHugePage(size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
  }

  // Anonymous zero pages starting on a 2 MiB boundary, so that every whole
  // huge page of the block can be one; nullptr when the system refuses. The
  // advice is only advice: where huge pages are off, the block is ordinary
  // zero pages and nothing else changes.
  static void* MapHugeAligned(size_t bytes) {
    const size_t size = RoundUpToHugePage(bytes);
    const size_t mapped = size + kHugePage;
    void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
    if (aligned > start) ::munmap(p, aligned - start);
    const uintptr_t end = start + mapped, alignedEnd = aligned + size;
    if (end > alignedEnd) ::munmap(reinterpret_cast<void*>(alignedEnd), end - alignedEnd);
#ifdef MADV_HUGEPAGE
    if (size <= kMostHuge) ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
  }

  size_t mappedBytes_ = 0;  // the length of a block mapped on its own; 0 for calloc
#endif
  T* data_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace qova
