#pragma once
// A folder in which no file can be created, for the tests of saves that must
// fail and keep the old file. Clearing the write bits is enough for a normal
// user; root ignores them, so for root the folder is also marked immutable
// (ext4 and most Linux file systems). Locked() tells whether either worked,
// so a test can skip where neither is possible.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace qova {

class LockedFolder {
 public:
  explicit LockedFolder(const std::filesystem::path& dir) : dir_(dir) {
    std::error_code ec;
    std::filesystem::permissions(
        dir_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec, ec);
    if (!Writable()) return;
    const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      immutable_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
  }
  ~LockedFolder() { Unlock(); }
  LockedFolder(const LockedFolder&) = delete;
  LockedFolder& operator=(const LockedFolder&) = delete;

  // True when no new file can be made in the folder.
  bool Locked() const { return !Writable(); }

  void Unlock() {
    if (immutable_) {
      const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
      if (fd >= 0) {
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
          flags &= ~FS_IMMUTABLE_FL;
          if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0) immutable_ = false;
        }
        ::close(fd);
      }
    }
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }

 private:
  // access() answers for root too, but says nothing of the immutable flag, so
  // try to make a file.
  bool Writable() const {
    const std::string probe = (dir_ / ".probe-XXXXXX").string();
    std::string name = probe;
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(name.c_str());
    return true;
  }

  std::filesystem::path dir_;
  bool immutable_ = false;
};

}  // namespace qova
