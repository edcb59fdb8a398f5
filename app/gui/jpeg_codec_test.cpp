#include "app/gui/jpeg_codec.h"

#include <gtest/gtest.h>

#include <QPainter>

#include "app/gui/preview_picture.h"
#include "core/qova_error.h"

namespace qova {
namespace {

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(JpegCodec, EmbeddedPreviewDecodesToAGridPlate) {
  const QImage preview = DecodeJpeg(kPreviewJpeg, kPreviewJpegSize);
  ASSERT_FALSE(preview.isNull());
  EXPECT_GT(preview.width(), 0);
  EXPECT_GT(preview.height(), 0);
  EXPECT_EQ(preview.format(), QImage::Format_RGB32);
  // A plate has dark lines on a light ground: both must be there.
  int dark = 0, light = 0;
  for (int y = 0; y < preview.height(); y += 3) {
    const auto* row = reinterpret_cast<const QRgb*>(preview.constScanLine(y));
    for (int x = 0; x < preview.width(); x += 3) {
      if (qGray(row[x]) < 100) ++dark;
      if (qGray(row[x]) > 180) ++light;
    }
  }
  EXPECT_GT(dark, 100);
  EXPECT_GT(light, 4 * dark);
  EXPECT_FALSE(PreviewPicture().isNull());
}

TEST(JpegCodec, RoundTripKeepsSizeAndColours) {
  QImage image(37, 21, QImage::Format_RGB32);
  image.fill(qRgb(200, 40, 40));
  QPainter(&image).fillRect(0, 0, 16, 21, QColor(20, 20, 220));
  const std::string jpeg = EncodeJpeg(image, 95);
  const QImage back = DecodeJpeg(Bytes(jpeg), jpeg.size());
  ASSERT_EQ(back.size(), image.size());
  const QRgb left = back.pixel(4, 10), right = back.pixel(30, 10);
  EXPECT_NEAR(qBlue(left), 220, 12);
  EXPECT_NEAR(qRed(right), 200, 12);
}

TEST(JpegCodec, CorruptStreamIsAnErrorNotAnAbort) {
  EXPECT_THROW(DecodeJpeg(nullptr, 0), QovaError);
  const std::string garbage = "this is not a JPEG stream at all";
  try {
    DecodeJpeg(Bytes(garbage), garbage.size());
    FAIL() << "garbage decoded";
  } catch (const QovaError& e) {
    EXPECT_NE(std::string(e.what()).find("JPEG"), std::string::npos) << e.what();
  }
  // A real header followed by a cut: the library stops with an error.
  const std::string head(reinterpret_cast<const char*>(kPreviewJpeg), 200);
  EXPECT_THROW(DecodeJpeg(Bytes(head), head.size()), QovaError);
  // A damaged frame header (the width set to zero).
  std::string broken(reinterpret_cast<const char*>(kPreviewJpeg), kPreviewJpegSize);
  const size_t sof = broken.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  broken[sof + 7] = 0;
  broken[sof + 8] = 0;
  EXPECT_THROW(DecodeJpeg(Bytes(broken), broken.size()), QovaError);
}

TEST(JpegCodec, EncodingANullImageIsAnError) { EXPECT_THROW(EncodeJpeg(QImage(), 80), QovaError); }

}  // namespace
}  // namespace qova
