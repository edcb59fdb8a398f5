// Reading image files, also into the pixels of an image already held.
#include "platform/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/qova_error.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

class ImageFile : public ::testing::Test {
 protected:
  // A 24-bit BMP whose every pixel differs from its neighbours.
  std::string Plate(int w, int h, const char* name) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        image.setPixel(x, y, qRgb(x * 7 % 256, y * 5 % 256, (x + y) % 256));
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path), "BMP"));
    return path;
  }

  TempFolder folder_{"qova-image-file"};
  const fs::path dir_ = folder_.dir;
};

TEST_F(ImageFile, ReadsIntoThePixelsOfAnImageOfItsSize) {
  const std::string path = Plate(61, 37, "a.bmp");
  const QImage fresh = LoadImageFile(path);
  QImage held(61, 37, QImage::Format_RGB32);
  held.fill(qRgb(1, 2, 3));
  const uchar* pixels = held.constBits();
  const QImage read = LoadImageFile(path, std::move(held));
  EXPECT_EQ(read.constBits(), pixels);
  EXPECT_EQ(read, fresh);
}

TEST_F(ImageFile, LeavesSharedPixelsAndOtherSizesAlone) {
  const std::string path = Plate(20, 10, "b.bmp");
  QImage picture(20, 10, QImage::Format_RGB32);
  picture.fill(qRgb(9, 9, 9));
  QImage shared = picture;  // the picture layer still shows these pixels
  const QImage read = LoadImageFile(path, std::move(shared));
  EXPECT_NE(read.constBits(), picture.constBits());
  EXPECT_EQ(picture.pixel(5, 5), qRgb(9, 9, 9));
  EXPECT_EQ(read, LoadImageFile(path));

  QImage other(30, 10, QImage::Format_RGB32);
  EXPECT_EQ(LoadImageFile(path, std::move(other)), LoadImageFile(path));
}

TEST_F(ImageFile, AFileThatIsNoImageRaisesAlsoWhenReadingIntoPixels) {
  const std::string path = (dir_ / "c.bmp").string();
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fputs("BM not really a bitmap", f);
  std::fclose(f);
  EXPECT_THROW(LoadImageFile(path, QImage(20, 10, QImage::Format_RGB32)), QovaError);
  EXPECT_THROW(LoadImageFile((dir_ / "missing.bmp").string()), QovaError);
}

// Every format the stages may be given becomes the 24-bit RGB of its pixels,
// alpha ignored: a see-through pixel keeps its colour.
TEST(AsRgb32, KeepsTheColourOfEveryPixelWhateverItsAlpha) {
  QImage argb(256, 3, QImage::Format_ARGB32);
  for (int x = 0; x < 256; ++x)
    for (int y = 0; y < 3; ++y) argb.setPixel(x, y, qRgba(x, 255 - x, 40 * y, (x * 3 + y) % 256));
  for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGBA8888,
                                QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888}) {
    const QImage source = argb.convertToFormat(format);
    const QImage rgb = AsRgb32(source);
    ASSERT_EQ(rgb.format(), QImage::Format_RGB32) << format;
    for (int x = 0; x < 256; ++x)
      for (int y = 0; y < 3; ++y) {
        const QRgb want = source.pixel(x, y), got = rgb.pixel(x, y);
        // Premultiplied pixels carry their colour only as far as their alpha does.
        if (format == QImage::Format_ARGB32_Premultiplied && qAlpha(want) < 255) continue;
        EXPECT_EQ(qRed(got), qRed(want)) << format << " " << x << "," << y;
        EXPECT_EQ(qGreen(got), qGreen(want));
        EXPECT_EQ(qBlue(got), qBlue(want));
      }
  }
  QImage grey(4, 1, QImage::Format_Grayscale8);
  grey.fill(77);
  EXPECT_EQ(AsRgb32(grey).pixel(3, 0), qRgb(77, 77, 77));
  // An image of the stages' own format is the same pixels.
  const QImage rgb32 = argb.convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(AsRgb32(rgb32).constBits(), rgb32.constBits());
  EXPECT_TRUE(AsRgb32(QImage()).isNull());
}

}  // namespace
}  // namespace qova
