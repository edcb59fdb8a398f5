#include "core/safe_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

void SafeSave(const std::string& userPath, std::string_view bytes, const WriteFunction& write) {
  const std::string cannotCreate = "Cannot create file " + userPath;
  const std::string path = TargetOf(userPath);
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw QovaError(cannotCreate);
    // Renaming over a write-protected file would work through the folder;
    // refuse, as creating the file in place would.
    if (::access(path.c_str(), W_OK) != 0) throw QovaError(cannotCreate);
  }

  const std::string folder = FolderOf(path);
  std::string pattern = folder + "/.qova-save-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw QovaError(cannotCreate);
  const std::string temp(name.data());

  auto fail = [&](const std::string& message) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw QovaError(message);
  };

  size_t done = 0;
  while (done < bytes.size()) {
    const long n = write ? write(fd, bytes.data() + done, bytes.size() - done)
                         : ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR && !write) continue;
    if (n <= 0) fail("Stream write error");
    done += static_cast<size_t>(n);
  }
  if (::fchmod(fd, ModeFor(path)) != 0) { /* keep mkstemp's 0600 rather than fail */
  }
  if (::fsync(fd) != 0) fail("Stream write error");
  if (::close(fd) != 0) {
    ::unlink(temp.c_str());
    throw QovaError("Stream write error");
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    throw QovaError(cannotCreate);
  }
}

}  // namespace qova
