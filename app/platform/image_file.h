#pragma once
#include <QImage>
#include <string>

namespace qova {

// Reads any image Qt's readers know (BMP of every depth and RLE, PNG, TIFF,
// ...) as Format_RGB32. Throws QovaError with a message naming the file and
// the reason when it cannot be read.
QImage LoadImageFile(const std::string& path);

}  // namespace qova
