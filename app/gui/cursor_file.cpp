#include "app/gui/cursor_file.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <algorithm>

namespace qova {

namespace {

uint16_t ReadU16(const QByteArray& b, int at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               (static_cast<unsigned char>(b[at + 1]) << 8));
}

constexpr int kDirHeaderSize = 6;  // reserved, type, count
constexpr int kDirEntrySize = 16;  // the hotspot sits at bytes 4..7 of an entry
constexpr uint16_t kTypeCursor = 2;

}  // namespace

std::optional<QPoint> CursorHotspot(const QByteArray& bytes) {
  if (bytes.size() < kDirHeaderSize + kDirEntrySize) return std::nullopt;
  if (ReadU16(bytes, 0) != 0 || ReadU16(bytes, 2) != kTypeCursor || ReadU16(bytes, 4) == 0)
    return std::nullopt;
  return QPoint(ReadU16(bytes, kDirHeaderSize + 4), ReadU16(bytes, kDirHeaderSize + 6));
}

std::optional<QCursor> LoadCursorFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QByteArray bytes = file.readAll();
  const std::optional<QPoint> hotspot = CursorHotspot(bytes);
  if (!hotspot) return std::nullopt;
  // Qt's ICO reader reads the images of a cursor file as well.
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "cur");
  QImage image = reader.read();
  if (image.isNull()) {
    buffer.seek(0);
    QImageReader icoReader(&buffer, "ico");
    image = icoReader.read();
  }
  if (image.isNull()) return std::nullopt;
  // A hotspot outside the picture is clamped onto it.
  const int hx = std::min(hotspot->x(), image.width() - 1);
  const int hy = std::min(hotspot->y(), image.height() - 1);
  return QCursor(QPixmap::fromImage(image), hx, hy);
}

}  // namespace qova
