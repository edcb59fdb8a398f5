#pragma once
// What today's LoadImageFile gives for a file, made deterministic for
// comparisons: Qt reads into pixels of the size and format it allocates,
// found by a first read and zeroed here, so that what a damaged file lacks
// reads as zeros (as fresh memory does at scan sizes) and not as leftovers
// of the test's heap.

#include <QImage>
#include <QImageReader>
#include <string>

namespace qova {

inline bool QtReadAsToday(const std::string& path, QImage& out) {
  QImageReader::setAllocationLimit(4096);  // as LoadImageFile
  QImage image;
  {
    QImageReader first(QString::fromStdString(path));
    first.setDecideFormatFromContent(true);
    if (!first.read(&image) || image.isNull()) return false;
  }
  image.fill(0);
  QImageReader reader(QString::fromStdString(path));
  reader.setDecideFormatFromContent(true);
  if (!reader.read(&image) || image.isNull()) return false;
  if (image.format() != QImage::Format_RGB32) {
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                          : QImage::Format_RGB32);
    if (image.format() == QImage::Format_ARGB32) image.reinterpretAsFormat(QImage::Format_RGB32);
  }
  out = image;
  return true;
}

}  // namespace qova
