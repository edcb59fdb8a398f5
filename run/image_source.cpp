#include "run/image_source.h"

#include <QImageReader>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
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

bool IsDeep(const ImageInfo& info) { return info.sample != SampleType::kUint8; }

void CheckBeforeRun(const ImageSource& source) {
  const ImageInfo& info = source.Info();
  if (!IsDeep(info)) return;
  const SampleRange& range = source.Range();
  const std::string name = "Не удаётся прочитать изображение " + source.Name() + ": ";
  if (range.non_finite > 0 && range.Empty())
    throw QovaError(name +
                    "ни одно значение не является конечным числом (все NaN или бесконечность)");
  if (range.non_finite > 0)
    throw QovaError(name + "значения, не являющиеся конечными числами (NaN или бесконечность): " +
                    std::to_string(range.non_finite));
}

int32_t ImageSide(int64_t pixels, const std::string& name) {
  if (pixels < 0 || pixels > std::numeric_limits<int32_t>::max())
    throw QovaError("Не удаётся прочитать изображение " + name + ": сторона из " +
                    std::to_string(pixels) + " точек слишком велика");
  return static_cast<int32_t>(pixels);
}

namespace {

// Whether Qt would read the file deeper than 8 bits a sample: a file the
// stream reader refused (a planar 16-bit TIFF, say) must not be read through
// Qt's top bytes instead.
bool QtReadsDeep(const std::string& path) {
  QImageReader reader(QString::fromStdString(path));
  reader.setDecideFormatFromContent(true);
  switch (reader.imageFormat()) {
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
      return true;
    default:
      return false;
  }
}

// Whether the file's header declares samples deeper than 8 bits: a 16-bit
// PNG or PGM/PPM. A TIFF counts too, as the stream reader passes every TIFF
// of 8 bits or fewer a sample on to Qt itself: a TIFF it refuses has a
// layout it does not read (planar, 12 bits, a codec it lacks) or no header.
bool DeclaresDeepSamples(const std::string& path) {
  std::string head(64, '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  if (head.size() >= 2 && (head.compare(0, 2, "II") == 0 || head.compare(0, 2, "MM") == 0))
    return true;
  if (head.size() >= 25 && head.compare(1, 3, "PNG") == 0) return head[24] == 16;
  if (head.size() >= 2 && head[0] == 'P' &&
      (head[1] == '2' || head[1] == '3' || head[1] == '5' || head[1] == '6')) {
    // The third number of the header, past '#' comments: the value of white.
    std::string numbers;
    for (size_t i = 2, comment = 0; i < head.size(); ++i) {
      if (head[i] == '#') comment = 1;
      if (head[i] == '\n' || head[i] == '\r') comment = 0;
      if (!comment) numbers += head[i];
    }
    long w = 0, h = 0, maxval = 0;
    return std::sscanf(numbers.c_str(), "%ld %ld %ld", &w, &h, &maxval) == 3 && maxval > 255;
  }
  return false;
}

}  // namespace

bool DeclaresDeepImage(const std::string& path) {
  return DeclaresDeepSamples(path) || QtReadsDeep(path);
}

std::unique_ptr<ImageSource> OpenImageSource(const std::string& path) {
  try {
    return std::make_unique<FileImageSource>(path);
  } catch (const QovaError&) {
    // A deep file is refused with the stream reader's reason, which names
    // what is wrong with it (cut short, a layout it does not read), never
    // read through Qt's top bytes. Any other file Qt reads, or refuses with
    // its reason, as the window does.
    if (DeclaresDeepImage(path)) throw;
    return std::make_unique<HeldQImageSource>(DecodeWithQt(path), path);
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

QImageSource::QImageSource(const QImage& picture, std::string name)
    : picture_(picture), name_(std::move(name)), info_(PictureInfo(picture)) {}

const QImage& QImageSource::Current() const {
  if (picture_.width() != info_.width || picture_.height() != info_.height)
    throw QovaError("Изображение " + name_ + " изменило размер");
  return picture_;
}

void QImageSource::ReadRgb32Rows(int64_t y0, int64_t y1, const Rgb32RowSink& sink) const {
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

void ImageSource::RgbRowsFromRgb32(int64_t y0, int64_t y1, const RowSink& sink) const {
  std::vector<uint8_t> rgb(static_cast<size_t>(Info().width) * 3);
  ReadRgb32Rows(y0, y1, [&](int64_t y, const QRgb* row) {
    for (int64_t x = 0; x < Info().width; ++x) {
      rgb[3 * x] = static_cast<uint8_t>(qRed(row[x]));
      rgb[3 * x + 1] = static_cast<uint8_t>(qGreen(row[x]));
      rgb[3 * x + 2] = static_cast<uint8_t>(qBlue(row[x]));
    }
    sink(RowBand{y, 1, rgb.data(), rgb.size()});
  });
}

void QImageSource::ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const {
  RgbRowsFromRgb32(y0, y1, sink);
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
  // Rows handed out where they lie must be whole samples, each aligned.
  const auto aligned = [&](int64_t v) { return v % bytes == 0; };
  packed_ = (pixels_.sampleStride == bytes || info_.channels == 1) &&
            pixels_.pixelStride == bytes * info_.channels && aligned(pixels_.rowStride) &&
            reinterpret_cast<uintptr_t>(pixels_.base) % static_cast<uintptr_t>(bytes) == 0;
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
