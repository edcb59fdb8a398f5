#pragma once
// Every file the program writes goes through here: the bytes are written to a
// temporary file in the same folder, flushed, and renamed over the old file,
// so a failure never leaves half a file and never destroys the old one.

#include <functional>
#include <string>
#include <string_view>

namespace qova {

// Writes up to n bytes to the descriptor, as POSIX write() does. Tests put a
// failing writer here to simulate a full disk.
using WriteFunction = std::function<long(int fd, const char* data, unsigned long n)>;

// Replaces the file at path with bytes. Throws QovaError with
// "Cannot create file <path>" when the file cannot be created and
// "Stream write error" when writing fails; the old file is then unchanged.
// A symbolic link is followed (its target is replaced); a write-protected
// file is not replaced ("Cannot create file").
void SafeSave(const std::string& path, std::string_view bytes, const WriteFunction& write = {});

// The same, for a file written in pieces too large to hold at once (an image
// rendered or converted as a stream of rows): Write() appends, Commit()
// flushes and renames the temporary file over path. Destroyed without a
// successful Commit(), the temporary file is removed and path is untouched.
// Errors as SafeSave's.
class SafeFile {
 public:
  explicit SafeFile(const std::string& path, WriteFunction write = {});
  ~SafeFile();
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  void Write(std::string_view bytes);
  void Commit();
  // The temporary file's descriptor, for writers that seek (TIFF); call
  // Flush() before using it when Write() was used too.
  [[nodiscard]] int Descriptor() const { return fd_; }
  void Flush();

 private:
  void Fail(const std::string& message);

  std::string userPath_, path_, temp_;
  WriteFunction write_;
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace qova
