#include "state/compact_picture.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace qova {
namespace {

// The picture reads, pixel for pixel, what the 32-bit conversion of the
// image gives (alpha aside), and keeps one byte a pixel exactly when every
// pixel is grey.
void ExpectSamePixels(const QImage& image, bool grey) {
  const auto picture = CompactPicture::From(image);
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(picture->Grey(), grey);
  EXPECT_EQ(picture->Pixels().format(), grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  EXPECT_TRUE(picture->SameAs(rgb));
  EXPECT_EQ(picture->ToRgb32(), rgb);
  std::vector<QRgb> row(static_cast<size_t>(image.width()));
  for (int y = 0; y < image.height(); ++y) {
    picture->ReadRow(y, 0, image.width(), row.data());
    for (int x = 0; x < image.width(); ++x)
      ASSERT_EQ(row[static_cast<size_t>(x)], rgb.pixel(x, y) | 0xFF000000u) << x << "," << y;
  }
}

QImage Noise(int w, int h, bool grey, unsigned seed) {
  std::mt19937 random(seed);
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = static_cast<int>(random() % 256);
      image.setPixel(x, y, grey ? qRgb(v, v, v) : qRgb(v, static_cast<int>(random() % 256), 7));
    }
  return image;
}

TEST(CompactPicture, KeepsEveryFormatsPixelsAtTheFilesChannelCount) {
  ExpectSamePixels(Noise(37, 23, true, 1), true);
  ExpectSamePixels(Noise(37, 23, false, 2), false);
  // A palette of greys (an 8-bit grey bitmap) and one with a colour.
  QImage indexed(19, 11, QImage::Format_Indexed8);
  QVector<QRgb> greys;
  for (int i = 0; i < 256; ++i) greys.push_back(qRgb(i, i, i));
  indexed.setColorTable(greys);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 19; ++x) indexed.setPixel(x, y, static_cast<uint>((x * 31 + y * 7) % 256));
  ExpectSamePixels(indexed, true);
  greys[3] = qRgb(3, 4, 3);
  indexed.setColorTable(greys);
  indexed.setPixel(0, 0, 3);
  ExpectSamePixels(indexed, false);
  // One bit a pixel, 16-bit grey, and alpha, which plays no part.
  ExpectSamePixels(Noise(70, 9, true, 3).convertToFormat(QImage::Format_Mono), true);
  ExpectSamePixels(Noise(33, 70, true, 4).convertToFormat(QImage::Format_Grayscale16), true);
  QImage alpha = Noise(12, 80, false, 5).convertToFormat(QImage::Format_ARGB32);
  alpha.setPixel(3, 3, qRgba(10, 20, 30, 40));
  ExpectSamePixels(alpha, false);
  // Nothing at all, and one pixel.
  ExpectSamePixels(Noise(1, 1, false, 6), false);
  const auto empty = CompactPicture::From(QImage());
  EXPECT_EQ(empty->Width(), 0);
  EXPECT_EQ(empty->HeldBytes(), 0u);
}

// The pyramid's block sums are the sums of the pixels: blocks of any size at
// any place, whole squares of 4, 8 and 16 and their parts at the edges.
TEST(CompactPicture, PyramidSumsAreThePixelSums) {
  std::mt19937 random(20261209);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int round = 0; round < 40; ++round) {
    const int w = uniform(1, 90), h = uniform(1, 90);
    const auto picture = CompactPicture::From(Noise(w, h, round % 2 == 0, round));
    // The plain twin: the sums of the rows the picture reads.
    const PictureSource& rows = *picture;
    for (int k = 0; k < 20; ++k) {
      std::vector<PixelSpan> columns;
      for (int x = uniform(0, w - 1); x < w && columns.size() < 6;) {
        const int end = std::min(w, x + uniform(1, 40));
        columns.push_back({x, end});
        x = end;
      }
      const int y0 = uniform(0, h - 1);
      const PixelSpan span{y0, std::min(h, y0 + uniform(1, 40))};
      std::vector<uint64_t> fast(3 * columns.size()), plain(3 * columns.size());
      picture->SumBlocks(columns, span, fast.data());
      rows.PictureSource::SumBlocks(columns, span, plain.data());
      ASSERT_EQ(fast, plain) << "round " << round << ", rows " << span.first << ".." << span.end;
    }
  }
}

TEST(CompactPicture, HoldsLittleMoreThanItsPixels) {
  const auto grey = CompactPicture::From(Noise(640, 480, true, 7));
  EXPECT_LT(grey->HeldBytes(), size_t{640} * 480 * 6 / 5);
  const auto colour = CompactPicture::From(Noise(640, 480, false, 8));
  EXPECT_LT(colour->HeldBytes(), size_t{640} * 480 * 36 / 10);
  // Pixels already compact are kept as they are.
  QImage pixels(40, 30, QImage::Format_Grayscale8);
  pixels.fill(77);
  const uchar* bits = pixels.constBits();
  const auto kept = CompactPicture::FromCompact(pixels);
  EXPECT_EQ(kept->Pixels().constBits(), bits);
  EXPECT_FALSE(kept->SameAs(Noise(40, 30, true, 9)));
  QImage same(40, 30, QImage::Format_RGB32);
  same.fill(qRgb(77, 77, 77));
  EXPECT_TRUE(kept->SameAs(same));
}

}  // namespace
}  // namespace qova
