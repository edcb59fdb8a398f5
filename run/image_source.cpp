#include "run/image_source.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "core/qova_error.h"
#include "image/qt_image.h"
#include "image/rgb32.h"

namespace qova {

void ImageSource::ReadRgb32Rows(int64_t y0, int64_t y1, const Rgb32RowSink& sink) const {
  const ImageInfo& info = Info();
  std::vector<QRgb> row(static_cast<size_t>(info.width));
  ReadRows(y0, y1, [&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i) {
      const int64_t y = band.y + i;
      if (y < y0 || y >= y1) continue;
      ToRgb32Row(info, band.Row(i), info.width, row.data());
      sink(y, row.data());
    }
  });
}

const SampleRange& ImageSource::Range() const {
  if (!range_) {
    RangeAccumulator range(Info());
    ReadRows(0, Info().height, [&](const RowBand& band) { range.Take(band); });
    range_ = range.Result();
  }
  return *range_;
}

// --- A file --------------------------------------------------------------------

FileImageSource::FileImageSource(const std::string& path) : reader_(ImageReader::Open(path)) {}

void FileImageSource::ReadRows(int64_t /*y0*/, int64_t /*y1*/, const RowSink& sink) const {
  // A file is decoded from its start whatever rows are wanted.
  reader_.ReadRows(sink);
}

int32_t ImageSide(int64_t pixels, const std::string& name) {
  if (pixels < 0 || pixels > std::numeric_limits<int32_t>::max())
    throw QovaError("Не удаётся прочитать изображение " + name + ": сторона из " +
                    std::to_string(pixels) + " точек слишком велика");
  return static_cast<int32_t>(pixels);
}

std::unique_ptr<ImageSource> OpenImageSource(const std::string& path) {
  try {
    return std::make_unique<FileImageSource>(path);
  } catch (const QovaError&) {
    // DecodeWithQt throws the message the window would show.
    return std::make_unique<HeldPictureSource>(DecodeWithQt(path), path);
  }
}

// --- A picture in memory -------------------------------------------------------

namespace {

ImageInfo PictureInfo(const QImage& picture) {
  ImageInfo info;
  info.format_name = "picture";
  info.width = picture.width();
  info.height = picture.height();
  info.channels = 3;  // alpha plays no part in any stage
  info.streamed = false;
  return info;
}

// Rows of a picture that is not Format_RGB32 are converted a band at a time,
// by Qt, so that the colours are Qt's and no copy of the whole picture is
// made.
constexpr int kConvertRows = 64;

}  // namespace

PictureSource::PictureSource(const QImage& picture, std::string name)
    : picture_(picture), name_(std::move(name)), info_(PictureInfo(picture)) {}

const QImage& PictureSource::Current() const {
  if (picture_.width() != info_.width || picture_.height() != info_.height)
    throw QovaError("Изображение " + name_ + " изменило размер");
  return picture_;
}

const QImage* PictureSource::Rgb32Picture() const {
  const QImage& p = Current();
  return p.format() == QImage::Format_RGB32 ? &p : nullptr;
}

void PictureSource::ReadRgb32Rows(int64_t y0, int64_t y1, const Rgb32RowSink& sink) const {
  const QImage& p = Current();
  y0 = std::max<int64_t>(y0, 0);
  y1 = std::min<int64_t>(y1, p.height());
  if (p.format() == QImage::Format_RGB32) {
    for (int64_t y = y0; y < y1; ++y)
      sink(y, reinterpret_cast<const QRgb*>(p.constScanLine(static_cast<int>(y))));
    return;
  }
  const bool alpha = p.hasAlphaChannel();
  for (int64_t y = y0; y < y1; y += kConvertRows) {
    const int rows = static_cast<int>(std::min<int64_t>(kConvertRows, y1 - y));
    QImage band = AsRgb32(p.copy(0, static_cast<int>(y), p.width(), rows));
    if (band.isNull()) throw QovaError("Недостаточно памяти для изображения " + name_);
    for (int i = 0; i < rows; ++i) {
      const auto* row = reinterpret_cast<const QRgb*>(band.constScanLine(i));
      if (!alpha) {
        sink(y + i, row);
        continue;
      }
      // Alpha is no brightness: every pixel is read as its 24-bit colour.
      auto* opaque = reinterpret_cast<QRgb*>(band.scanLine(i));
      for (int x = 0; x < band.width(); ++x) opaque[x] |= 0xff000000u;
      sink(y + i, opaque);
    }
  }
}

void PictureSource::ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const {
  std::vector<uint8_t> rgb(static_cast<size_t>(info_.width) * 3);
  ReadRgb32Rows(y0, y1, [&](int64_t y, const QRgb* row) {
    for (int64_t x = 0; x < info_.width; ++x) {
      rgb[3 * x] = static_cast<uint8_t>(qRed(row[x]));
      rgb[3 * x + 1] = static_cast<uint8_t>(qGreen(row[x]));
      rgb[3 * x + 2] = static_cast<uint8_t>(qBlue(row[x]));
    }
    sink(RowBand{y, 1, rgb.data(), rgb.size()});
  });
}

// --- Samples in memory ---------------------------------------------------------

MemoryImageSource::MemoryImageSource(const ImageInfo& info, const StridedPixels& pixels,
                                     std::string name)
    : info_(info), pixels_(pixels), name_(std::move(name)) {
  info_.format = ImageFormat::kOther;
  info_.format_name = "array";
  info_.streamed = false;
  info_.decoded_by_qt = false;
  info_.bottom_up = false;
  const int bytes = BytesPerSample(info_.sample);
  info_.bits = 8 * bytes;
  info_.file_bits = info_.bits;
  info_.significant_bits = info_.bits;
  info_.max_value = info_.sample == SampleType::kUint8    ? 255
                    : info_.sample == SampleType::kUint16 ? 65535
                                                          : 1;
  packed_ = pixels_.sampleStride == bytes && pixels_.pixelStride == bytes * info_.channels;
}

void MemoryImageSource::ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const {
  y0 = std::max<int64_t>(y0, 0);
  y1 = std::min<int64_t>(y1, info_.height);
  const size_t sample = static_cast<size_t>(BytesPerSample(info_.sample));
  const size_t rowBytes = info_.RowBytes();
  std::vector<uint8_t> row(packed_ ? 0 : rowBytes);
  for (int64_t y = y0; y < y1; ++y) {
    const uint8_t* from = pixels_.base + y * pixels_.rowStride;
    if (packed_) {
      sink(RowBand{y, 1, from, rowBytes});
      continue;
    }
    uint8_t* to = row.data();
    for (int64_t x = 0; x < info_.width; ++x) {
      const uint8_t* p = from + x * pixels_.pixelStride;
      for (int c = 0; c < info_.channels; ++c, to += sample)
        std::memcpy(to, p + c * pixels_.sampleStride, sample);
    }
    sink(RowBand{y, 1, row.data(), rowBytes});
  }
}

}  // namespace qova
