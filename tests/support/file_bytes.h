#pragma once
// The bytes of a file, for tests that compare what was written.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qova {

// The whole file as it is on disk; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace qova
