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

}  // namespace qova
