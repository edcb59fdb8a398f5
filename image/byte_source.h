#pragma once
// The bytes of an image file, read in order with seeks, from a file or from
// memory; a short read at the end is normal and reported by the count.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qova {

class ByteSource {
 public:
  // Throws QovaError("Не удаётся открыть файл <path>") when it cannot be opened.
  static std::unique_ptr<ByteSource> OpenFile(const std::string& path);
  // The bytes must outlive the source.
  static std::unique_ptr<ByteSource> OfMemory(std::string_view bytes);

  virtual ~ByteSource() = default;
  [[nodiscard]] uint64_t Size() const { return size_; }
  [[nodiscard]] uint64_t Position() const { return pos_; }
  [[nodiscard]] bool AtEnd() const { return pos_ >= size_; }
  // Positions past the end are allowed; reads there give nothing.
  void Seek(uint64_t pos) { pos_ = pos; }
  // Reads up to n bytes; returns how many were read.
  size_t Read(void* dst, size_t n);
  // One byte, or false at the end.
  bool GetByte(uint8_t& b) {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) {
      b = buf_[pos_++ - bufStart_];
      return true;
    }
    return Read(&b, 1) == 1;
  }

 protected:
  // Fills dst from the medium at pos; returns how many bytes were read.
  virtual size_t ReadAt(uint64_t pos, void* dst, size_t n) = 0;

  uint64_t size_ = 0;

 private:
  uint64_t pos_ = 0;
  std::vector<uint8_t> buf_;
  uint64_t bufStart_ = 0;
  size_t bufLen_ = 0;
};

}  // namespace qova
