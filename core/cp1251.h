#pragma once
// Text files (settings, statistics, coordinate files) are single-byte
// Windows-1251; the program works in UTF-8. Convert at the file boundary only.

#include <string>
#include <string_view>

namespace qova {

// UTF-8 to Windows-1251; a character the code page lacks becomes '?'.
std::string Utf8ToCp1251(std::string_view utf8);

// Windows-1251 to UTF-8; the one unassigned byte (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace qova
