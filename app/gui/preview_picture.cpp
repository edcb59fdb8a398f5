#include "app/gui/preview_picture.h"

#include "app/gui/jpeg_codec.h"
#include "core/qova_error.h"

namespace qova {

QImage PreviewPicture() {
  try {
    return DecodeJpeg(kPreviewJpeg, kPreviewJpegSize);
  } catch (const QovaError&) {
    return QImage();
  }
}

}  // namespace qova
