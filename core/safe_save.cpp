#include "core/safe_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "core/qova_error.h"

namespace qova {

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The new file keeps the permissions of the one it replaces; a new file gets
// the usual 0666 less the umask.
mode_t ModeFor(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The file a save really replaces: the target of a symbolic link, so that a
// linked settings file is updated rather than the link turned into a copy.
// A dangling link is replaced as it is.
std::string TargetOf(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

}  // namespace

SafeFile::SafeFile(const std::string& userPath, WriteFunction write)
    : userPath_(userPath), path_(TargetOf(userPath)), write_(std::move(write)) {
  const std::string cannotCreate = "Cannot create file " + userPath_;
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw QovaError(cannotCreate);
    // Renaming over a write-protected file would work through the folder;
    // refuse, as creating the file in place would.
    if (::access(path_.c_str(), W_OK) != 0) throw QovaError(cannotCreate);
  }
  std::string pattern = FolderOf(path_) + "/.qova-save-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkstemp(name.data());
  if (fd_ < 0) throw QovaError(cannotCreate);
  temp_ = name.data();
}

SafeFile::~SafeFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temp_.c_str());
  }
}

void SafeFile::Fail(const std::string& message) {
  ::close(fd_);
  fd_ = -1;
  ::unlink(temp_.c_str());
  throw QovaError(message);
}

void SafeFile::Flush() {
  if (fd_ < 0) throw QovaError("Stream write error");
  size_t done = 0;
  while (done < buffer_.size()) {
    const long n = write_ ? write_(fd_, buffer_.data() + done, buffer_.size() - done)
                          : ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR && !write_) continue;
    if (n <= 0) Fail("Stream write error");
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
}

void SafeFile::Write(std::string_view bytes) {
  // Pieces are gathered so that a stream of short rows costs few calls.
  constexpr size_t kChunk = size_t{1} << 20;
  if (buffer_.size() + bytes.size() > kChunk) Flush();
  if (bytes.size() >= kChunk) {
    buffer_.assign(bytes);
    Flush();
  } else {
    buffer_.append(bytes);
  }
}

void SafeFile::Commit() {
  Flush();
  if (::fchmod(fd_, ModeFor(path_)) != 0) { /* keep mkstemp's 0600 rather than fail */
  }
  if (::fsync(fd_) != 0) Fail("Stream write error");
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    ::unlink(temp_.c_str());
    throw QovaError("Stream write error");
  }
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    ::unlink(temp_.c_str());
    throw QovaError("Cannot create file " + userPath_);
  }
}

void SafeSave(const std::string& path, std::string_view bytes, const WriteFunction& write) {
  SafeFile file(path, write);
  file.Write(bytes);
  file.Commit();
}

}  // namespace qova
