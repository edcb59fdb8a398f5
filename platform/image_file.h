#pragma once
#include <QImage>
#include <string>

#include "image/qt_image.h"  // AsRgb32, for the callers that convert what they were given

namespace qova {

// Reads any image Qt's readers know (BMP of every depth and RLE, PNG, TIFF,
// ...) as Format_RGB32. Throws QovaError with a message naming the file and
// the reason when it cannot be read. When reuse holds the only reference to
// pixels of the file's size and format, the file is read into them: on a
// large scan fresh memory costs several times the decoding (every page is
// faulted in and cleared), and the run reads its image again each time.
QImage LoadImageFile(const std::string& path, QImage reuse = QImage());

}  // namespace qova
