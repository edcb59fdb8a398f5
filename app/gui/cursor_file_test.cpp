#include "app/gui/cursor_file.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

namespace qova {
namespace {

// A cursor file made from Qt's icon writer: the type becomes 2 (cursor) and
// the two planes/bits fields of the entry become the hotspot.
QByteArray MakeCursorFile(int size, int hotX, int hotY) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int i = 0; i < size; ++i) image.setPixel(i, size / 2, qRgba(0, 0, 0, 255));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "ico");
  EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
  bytes[2] = 2;
  bytes[6 + 4] = static_cast<char>(hotX & 0xFF);
  bytes[6 + 5] = static_cast<char>(hotX >> 8);
  bytes[6 + 6] = static_cast<char>(hotY & 0xFF);
  bytes[6 + 7] = static_cast<char>(hotY >> 8);
  return bytes;
}

std::string WriteTemp(const QTemporaryDir& dir, const QByteArray& bytes) {
  const QString path = dir.filePath("MyCross.cur");
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  return path.toStdString();
}

TEST(CursorFile, HotspotComesFromTheDirectoryEntry) {
  const QByteArray bytes = MakeCursorFile(32, 15, 17);
  const auto hot = CursorHotspot(bytes);
  ASSERT_TRUE(hot.has_value());
  EXPECT_EQ(*hot, QPoint(15, 17));
}

TEST(CursorFile, IconsAndShortFilesAreNoCursors) {
  QByteArray icon = MakeCursorFile(16, 1, 1);
  icon[2] = 1;  // an icon, not a cursor
  EXPECT_FALSE(CursorHotspot(icon).has_value());
  EXPECT_FALSE(CursorHotspot(QByteArray("\0\0\2\0", 4)).has_value());
  EXPECT_FALSE(CursorHotspot(QByteArray()).has_value());
}

TEST(CursorFile, LoadsPictureAndHotspot) {
  QTemporaryDir dir;
  const std::string path = WriteTemp(dir, MakeCursorFile(32, 15, 16));
  const auto cursor = LoadCursorFile(path);
  ASSERT_TRUE(cursor.has_value());
  EXPECT_EQ(cursor->hotSpot(), QPoint(15, 16));
  EXPECT_EQ(cursor->pixmap().size(), QSize(32, 32));
}

TEST(CursorFile, MissingOrCorruptFileGivesNothing) {
  QTemporaryDir dir;
  EXPECT_FALSE(LoadCursorFile(dir.filePath("none.cur").toStdString()).has_value());
  QByteArray bytes = MakeCursorFile(32, 1, 1);
  bytes.truncate(40);  // the directory survives, the picture does not
  EXPECT_FALSE(LoadCursorFile(WriteTemp(dir, bytes)).has_value());
}

}  // namespace
}  // namespace qova
