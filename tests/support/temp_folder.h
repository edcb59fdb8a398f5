#pragma once
// A fresh folder for the files one test writes, removed afterwards; on
// request also the current folder while it lives, for the code that looks up
// QOVAUser.ini and the like relative to it.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tests/support/file_bytes.h"

namespace qova {

class TempFolder {
 public:
  enum class Enter { No, Yes };

  explicit TempFolder(const std::string& prefix = "qova", Enter enter = Enter::No) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder " + pattern);
    dir = pattern;
    if (enter == Enter::Yes) {
      previous_ = std::filesystem::current_path();
      std::filesystem::current_path(dir);
    }
  }
  ~TempFolder() {
    std::error_code ec;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ec);
    // A test may have made the folder read-only.
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  static std::string Get(const std::string& path) { return ReadAll(path); }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::filesystem::path dir;

 private:
  std::filesystem::path previous_;
};

}  // namespace qova
