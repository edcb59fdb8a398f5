#pragma once
#include <QImage>
#include <string>

namespace qova {

// Reads any image Qt's readers know (BMP of every depth and RLE, PNG, TIFF,
// ...) as Format_RGB32. Throws QovaError with a message naming the file and
// the reason when it cannot be read. When reuse holds the only reference to
// pixels of the file's size and format, the file is read into them: on a
// large scan fresh memory costs several times the decoding (every page is
// faulted in and cleared), and the run reads its image again each time.
QImage LoadImageFile(const std::string& path, QImage reuse = QImage());

// The pixels of image as the stages read them: Format_RGB32, every pixel
// its 24-bit RGB and any alpha ignored, as the reader gives a file's. A null
// image when the memory for the conversion cannot be had.
[[nodiscard]] QImage AsRgb32(QImage image);

}  // namespace qova
