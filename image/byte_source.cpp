#include "image/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/qova_error.h"

namespace qova {

namespace {

// Large scans are read in blocks; a row of a gigapixel plate is 100 KB.
constexpr size_t kBlock = size_t{1} << 18;

class FileSource : public ByteSource {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd) { size_ = size; }
  ~FileSource() override { ::close(fd_); }

 protected:
  size_t ReadAt(uint64_t pos, void* dst, size_t n) override {
    size_t done = 0;
    while (done < n) {
      const ssize_t r =
          ::pread(fd_, static_cast<char*>(dst) + done, n - done, static_cast<off_t>(pos + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      done += static_cast<size_t>(r);
    }
    return done;
  }

 private:
  int fd_;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) { size_ = bytes.size(); }

 protected:
  size_t ReadAt(uint64_t pos, void* dst, size_t n) override {
    if (pos >= bytes_.size()) return 0;
    const size_t k = std::min<uint64_t>(n, bytes_.size() - pos);
    std::memcpy(dst, bytes_.data() + pos, k);
    return k;
  }

 private:
  std::string_view bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> ByteSource::OpenFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    throw QovaError("Не удаётся открыть файл " + path);
  }
  return std::make_unique<FileSource>(fd, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> ByteSource::OfMemory(std::string_view bytes) {
  return std::make_unique<MemorySource>(bytes);
}

size_t ByteSource::Read(void* dst, size_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  size_t done = 0;
  while (done < n && pos_ < size_) {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) {
      const size_t k = std::min<uint64_t>(n - done, bufStart_ + bufLen_ - pos_);
      std::memcpy(out + done, buf_.data() + (pos_ - bufStart_), k);
      done += k;
      pos_ += k;
      continue;
    }
    if (n - done >= kBlock) {  // large reads bypass the buffer
      const size_t k = ReadAt(pos_, out + done, n - done);
      done += k;
      pos_ += k;
      break;
    }
    buf_.resize(kBlock);
    bufStart_ = pos_;
    bufLen_ = ReadAt(pos_, buf_.data(), kBlock);
    if (bufLen_ == 0) break;
  }
  return done;
}

}  // namespace qova
