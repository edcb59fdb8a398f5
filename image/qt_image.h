#pragma once
// Qt's readers, as the window has always read images: any format Qt knows,
// as Format_RGB32, alpha ignored. The reader below falls back on it for the
// formats and layouts it does not stream.

#include <QImage>
#include <cstdint>
#include <string>
#include <string_view>

namespace qova {

// Sets Qt's readers' limit on the memory of one image, as every read here
// does: scans of 100 megapixels and more are normal.
void UseQtAllocationLimit();

// Raises that limit to at least bytes for the rest of the process: a run
// that has checked the machine has the memory for an image Qt decodes whole
// lets Qt have it.
void AllowQtAllocation(uint64_t bytes);

// Reads the file as Format_RGB32. Throws QovaError with a message naming the
// file and the reason when it cannot be read. When reuse holds the only
// reference to pixels of the file's size and format, the file is read into
// them: on a large scan fresh memory costs several times the decoding.
QImage DecodeWithQt(const std::string& path, QImage reuse = QImage());

// The same for bytes in memory; name stands for the file in messages.
QImage DecodeBytesWithQt(std::string_view bytes, const std::string& name);

// The pixels of image as the stages read them: Format_RGB32, every pixel
// its 24-bit RGB and any alpha ignored, as the reader gives a file's. A null
// image when the memory for the conversion cannot be had.
[[nodiscard]] QImage AsRgb32(QImage image);

}  // namespace qova
