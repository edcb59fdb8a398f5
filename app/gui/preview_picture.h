#pragma once
// The built-in preview picture that fills the image view until an image is
// opened: a grid plate rendered and compressed at build time.

#include <QImage>
#include <cstddef>

namespace qova {

extern const unsigned char kPreviewJpeg[];
extern const size_t kPreviewJpegSize;

// The decoded preview picture; a null image when it cannot be decoded (the
// view then stays empty rather than stopping the program).
QImage PreviewPicture();

}  // namespace qova
