#include "platform/image_file.h"

#include <QFileInfo>
#include <QImageReader>
#include <utility>

#include "core/qova_error.h"

namespace qova {

namespace {
// Scans of 100 megapixels and more are normal; refuse only what could not be
// held in memory with the working arrays anyway.
constexpr int kAllocationLimitMiB = 4096;
}  // namespace

QImage LoadImageFile(const std::string& path, QImage reuse) {
  const QString file = QString::fromStdString(path);
  if (!QFileInfo(file).isFile()) throw QovaError("Не удаётся открыть файл " + path);
  QImageReader::setAllocationLimit(kAllocationLimitMiB);
  QImageReader reader(file);
  reader.setDecideFormatFromContent(true);
  // Shared pixels stay untouched: writing them would copy them first.
  QImage image = reuse.isDetached() ? std::move(reuse) : QImage();
  reuse = QImage();
  if (!reader.read(&image) || image.isNull())
    throw QovaError("Не удаётся прочитать изображение " + path + ": " +
                    reader.errorString().toStdString());
  image = AsRgb32(std::move(image));
  if (image.isNull()) throw QovaError("Недостаточно памяти для изображения " + path);
  return image;
}

QImage AsRgb32(QImage image) {
  if (image.format() == QImage::Format_RGB32 || image.isNull()) return image;
  // Alpha plays no part: every pixel is read as 24-bit RGB.
  image =
      image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (image.format() == QImage::Format_ARGB32) image.reinterpretAsFormat(QImage::Format_RGB32);
  return image;
}

}  // namespace qova
