#include "image/rgb32.h"

#include "core/qova_error.h"
#include "image/image_reader.h"

namespace qova {

namespace {

uint32_t Opaque(uint32_t r, uint32_t g, uint32_t b) {
  return 0xff000000u | (r & 0xff) << 16 | (g & 0xff) << 8 | (b & 0xff);
}

// Qt's 16-bit colour to 8 bits, rounding: x / 257.
uint32_t Div257(uint32_t x) {
  x += 128;
  return (x - (x >> 8)) >> 8;
}

}  // namespace

void ToRgb32Row(const ImageInfo& info, const uint8_t* row, int64_t width, QRgb* out) {
  if (info.sample != SampleType::kUint8)
    throw QovaError("Рисунок глубже 8 бит нельзя показать как 8-битный без приведения");
  const int c = info.channels;
  const auto max = static_cast<uint32_t>(info.max_value);
  if (c <= 2) {
    for (int64_t x = 0; x < width; ++x) {
      uint32_t v = row[x * c];
      if (info.pnm_scaled) v = v * 255 / max;  // Qt's grey of a PGM below 255
      out[x] = info.transparent_grey == int64_t{v} ? 0xff000000u : Opaque(v, v, v);
    }
    return;
  }
  for (int64_t x = 0; x < width; ++x) {
    const uint8_t* p = row + x * c;
    if (info.pnm_scaled)  // Qt's colour of a PPM below 255, through 16 bits
      out[x] =
          Opaque(Div257((p[0] * 0xffffu / max) & 0xffff), Div257((p[1] * 0xffffu / max) & 0xffff),
                 Div257((p[2] * 0xffffu / max) & 0xffff));
    else
      out[x] = Opaque(p[0], p[1], p[2]);
  }
}

QImage ReadRgb32(const ImageReader& reader) {
  const ImageInfo& info = reader.Info();
  QImage image(static_cast<int>(info.width), static_cast<int>(info.height), QImage::Format_RGB32);
  if (image.isNull()) throw QovaError("Недостаточно памяти для изображения " + reader.Name());
  reader.ReadRows([&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i)
      ToRgb32Row(info, band.Row(i), info.width,
                 reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(band.y + i))));
  });
  return image;
}

}  // namespace qova
