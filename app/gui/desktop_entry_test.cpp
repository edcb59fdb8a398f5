// The desktop entry: the desktop starts "qova FILE" for an image the user
// opens with the program, and offers it only for the image types it reads.
#include <gtest/gtest.h>

#include <QFile>
#include <QImageReader>
#include <QMimeDatabase>
#include <QStringList>

namespace qova {
namespace {

// The value of a key of the entry's main group.
QString EntryValue(const QString& key) {
  QFile file(QStringLiteral(QOVA_DESKTOP_ENTRY));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return QString();
  bool mainGroup = false;
  for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
    if (line.startsWith('[')) mainGroup = line.trimmed() == "[Desktop Entry]";
    if (mainGroup && line.startsWith(key + '=')) return line.mid(key.size() + 1).trimmed();
  }
  return QString();
}

TEST(DesktopEntry, StartsTheProgramWithTheFileItOpens) {
  EXPECT_EQ(EntryValue("Exec"), "qova %f");
  EXPECT_EQ(EntryValue("Type"), "Application");
}

TEST(DesktopEntry, DeclaresOnlyImageTypesTheProgramReads) {
  const QStringList declared = EntryValue("MimeType").split(';', Qt::SkipEmptyParts);
  EXPECT_TRUE(declared.contains("image/bmp"));
  const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
  const QMimeDatabase types;
  for (const QString& name : declared) {
    const QMimeType type = types.mimeTypeForName(name);
    ASSERT_TRUE(type.isValid()) << name.toStdString();
    // A declared alias (image/x-ms-bmp) names the same type as the reader's.
    EXPECT_TRUE(readable.contains(type.name().toUtf8())) << name.toStdString();
  }
}

}  // namespace
}  // namespace qova
