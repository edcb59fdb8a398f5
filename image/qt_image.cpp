#include "image/qt_image.h"

#include <QBuffer>
#include <QByteArray>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <atomic>
#include <limits>
#include <utility>

#include "core/qova_error.h"

namespace qova {

namespace {

// Scans of 100 megapixels and more are normal; refuse only what could not be
// held in memory with the working arrays anyway, unless a run that checked
// the machine's memory allows more.
std::atomic<int> allocationLimitMiB{4096};

}  // namespace

void UseQtAllocationLimit() { QImageReader::setAllocationLimit(allocationLimitMiB.load()); }

void AllowQtAllocation(uint64_t bytes) {
  const uint64_t mib = std::min<uint64_t>((bytes >> 20) + 1, std::numeric_limits<int>::max());
  int now = allocationLimitMiB.load();
  while (static_cast<uint64_t>(now) < mib &&
         !allocationLimitMiB.compare_exchange_weak(now, static_cast<int>(mib))) {
  }
}

namespace {

QImage Decode(QImageReader& reader, const std::string& name, QImage reuse) {
  UseQtAllocationLimit();
  reader.setDecideFormatFromContent(true);
  // Shared pixels stay untouched: writing them would copy them first.
  QImage image = reuse.isDetached() ? std::move(reuse) : QImage();
  reuse = QImage();
  if (!reader.read(&image) || image.isNull())
    throw QovaError("Не удаётся прочитать изображение " + name + ": " +
                    reader.errorString().toStdString());
  image = AsRgb32(std::move(image));
  if (image.isNull()) throw QovaError("Недостаточно памяти для изображения " + name);
  return image;
}

}  // namespace

QImage AsRgb32(QImage image) {
  if (image.format() == QImage::Format_RGB32 || image.isNull()) return image;
  // Alpha plays no part: every pixel is read as 24-bit RGB.
  image =
      image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (image.format() == QImage::Format_ARGB32) image.reinterpretAsFormat(QImage::Format_RGB32);
  return image;
}

QImage DecodeWithQt(const std::string& path, QImage reuse) {
  const QString file = QString::fromStdString(path);
  if (!QFileInfo(file).isFile()) throw QovaError("Не удаётся открыть файл " + path);
  QImageReader reader(file);
  return Decode(reader, path, std::move(reuse));
}

QImage DecodeBytesWithQt(std::string_view bytes, const std::string& name) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  return Decode(reader, name, QImage());
}

}  // namespace qova
