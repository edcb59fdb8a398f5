#pragma once
// The built-in preview picture is a JPEG; it is decoded and (at build time)
// encoded with the JPEG library's own API.

#include <QImage>
#include <cstddef>
#include <string>

namespace qova {

// Decodes a JPEG stream to Format_RGB32. Throws QovaError with the library's
// message when the stream is corrupt or truncated; never aborts.
QImage DecodeJpeg(const unsigned char* data, size_t size);

// Encodes an image as a baseline JPEG of the given quality (1..100). Throws
// QovaError when the library fails.
std::string EncodeJpeg(const QImage& image, int quality);

}  // namespace qova
