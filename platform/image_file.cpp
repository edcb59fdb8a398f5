#include "platform/image_file.h"

#include <utility>

#include "image/qt_image.h"

namespace qova {

QImage LoadImageFile(const std::string& path, QImage reuse) {
  return DecodeWithQt(path, std::move(reuse));
}

}  // namespace qova
