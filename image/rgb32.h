#pragma once
// 8-bit rows as Qt's 32-bit colours, exactly as LoadImageFile gives them:
// the bridge by which an 8-bit image of this reader feeds everything that
// today reads QImage pixels.

#include <QImage>
#include <cstdint>

#include "image/image_info.h"

namespace qova {

// Fills out[0 .. width) with 0xffRRGGBB for one row of width pixels handed
// out by ImageReader. Only for 8-bit samples (info.sample == kUint8); deeper
// rows throw QovaError (their reduction to 8 bits is the caller's).
void ToRgb32Row(const ImageInfo& info, const uint8_t* row, int64_t width, QRgb* out);

// The whole image as Format_RGB32, for tests and small pictures.
[[nodiscard]] QImage ReadRgb32(const class ImageReader& reader);

}  // namespace qova
