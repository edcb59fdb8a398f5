#include "image/image_reader.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "image/byte_source.h"
#include "image/format_readers.h"
#include "image/qt_image.h"

namespace qova {

int BytesPerSample(SampleType type) {
  switch (type) {
    case SampleType::kUint8:
      return 1;
    case SampleType::kUint16:
      return 2;
    case SampleType::kFloat32:
      return 4;
    case SampleType::kFloat64:
      return 8;
  }
  return 1;
}

size_t CheckedRowBytes(int64_t width, int channels, int bytesPerSample) {
  const uint64_t perPixel = static_cast<uint64_t>(channels) * static_cast<uint64_t>(bytesPerSample);
  // Rows are indexed with signed sizes downstream; keep a row well inside.
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / 4;
  if (width <= 0 || perPixel == 0 || static_cast<uint64_t>(width) > limit / perPixel)
    throw FormatError("строка из " + std::to_string(width) + " точек не помещается в память");
  return static_cast<size_t>(static_cast<uint64_t>(width) * perPixel);
}

namespace {

enum class Magic { kBmp, kPng, kTiff, kPnm, kOther };

Magic SniffFormat(ByteSource& in) {
  uint8_t head[8] = {};
  const size_t n = in.Read(head, sizeof head);
  in.Seek(0);
  if (n >= 2 && head[0] == 'B' && head[1] == 'M') return Magic::kBmp;
  if (n >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) return Magic::kPng;
  // Classic TIFF and BigTIFF, which scans of several gigabytes need.
  if (n >= 4 && (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0 ||
                 std::memcmp(head, "II+\0", 4) == 0 || std::memcmp(head, "MM\0+", 4) == 0))
    return Magic::kTiff;
  if (n >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') return Magic::kPnm;
  return Magic::kOther;
}

// Rows of an image Qt decoded, as RGB.
void QtRows(const QImage& image, const RowSink& sink) {
  const int64_t w = image.width();
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  for (int y = 0; y < image.height(); ++y) {
    const auto* p = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int64_t x = 0; x < w; ++x) {
      row[3 * x] = static_cast<uint8_t>(qRed(p[x]));
      row[3 * x + 1] = static_cast<uint8_t>(qGreen(p[x]));
      row[3 * x + 2] = static_cast<uint8_t>(qBlue(p[x]));
    }
    sink(RowBand{y, 1, row.data(), row.size()});
  }
}

ImageInfo QtInfo(QImageReader& reader) {
  UseQtAllocationLimit();
  reader.setDecideFormatFromContent(true);
  ImageInfo info;
  if (!reader.canRead()) throw FormatError(reader.errorString().toStdString());
  QSize size = reader.size();
  if (!size.isValid() || size.isEmpty()) {  // a format that tells its size only by decoding
    QImage image;
    if (!reader.read(&image) || image.isNull())
      throw FormatError(reader.errorString().toStdString());
    size = image.size();
  }
  info.format = ImageFormat::kOther;
  info.format_name = reader.format().toStdString();
  info.width = size.width();
  info.height = size.height();
  info.channels = 3;
  info.streamed = false;
  info.decoded_by_qt = true;
  info.note = "формат " + info.format_name + " читается целиком средствами Qt";
  return info;
}

}  // namespace

std::unique_ptr<ByteSource> ImageReader::Source() const {
  return inMemory_ ? ByteSource::OfMemory(bytes_) : ByteSource::OpenFile(name_);
}

template <typename F>
static auto WithFileName(const std::string& name, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const FormatError& e) {
    throw QovaError("Не удаётся прочитать изображение " + name + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw QovaError("Недостаточно памяти для изображения " + name);
  } catch (const std::length_error&) {
    throw QovaError("Недостаточно памяти для изображения " + name);
  }
}

static ImageInfo ReadInfo(ByteSource& in, const ImageReader& reader, bool inMemory,
                          std::string_view bytes) {
  switch (SniffFormat(in)) {
    case Magic::kBmp:
      return ReadBmpInfo(in);
    case Magic::kPng:
      return ReadPngInfo(in);
    case Magic::kTiff:
      return ReadTiffInfo(in);
    case Magic::kPnm:
      return ReadPnmInfo(in);
    case Magic::kOther:
      break;
  }
  if (inMemory) {
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader qt(&buffer);
    return QtInfo(qt);
  }
  QImageReader qt(QString::fromStdString(reader.Name()));
  return QtInfo(qt);
}

ImageReader ImageReader::Open(const std::string& path) {
  ImageReader r;
  r.name_ = path;
  WithFileName(path, [&] {
    auto in = r.Source();
    r.info_ = ReadInfo(*in, r, false, {});
  });
  return r;
}

ImageReader ImageReader::OfBytes(std::string_view bytes, const std::string& name) {
  ImageReader r;
  r.name_ = name;
  r.bytes_ = bytes;
  r.inMemory_ = true;
  WithFileName(name, [&] {
    auto in = r.Source();
    r.info_ = ReadInfo(*in, r, true, bytes);
  });
  return r;
}

std::vector<uint8_t> ImageReader::ReadAll() const {
  const size_t row = info_.RowBytes();
  std::vector<uint8_t> pixels(row * static_cast<size_t>(info_.height));
  ReadRows([&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i)
      std::copy(
          band.Row(i), band.Row(i) + row,
          pixels.begin() + static_cast<std::ptrdiff_t>(row * static_cast<size_t>(band.y + i)));
  });
  return pixels;
}

void ImageReader::ReadRows(const RowSink& sink) const {
  if (info_.decoded_by_qt) {
    const QImage image = WithFileName(
        name_, [&] { return inMemory_ ? DecodeBytesWithQt(bytes_, name_) : DecodeWithQt(name_); });
    if (image.width() != info_.width || image.height() != info_.height)
      throw QovaError("Не удаётся прочитать изображение " + name_ + ": размер изменился");
    QtRows(image, sink);
    return;
  }
  WithFileName(name_, [&] {
    auto in = Source();
    // The header is read again: the file may have changed since Open.
    ImageInfo now;
    switch (info_.format) {
      case ImageFormat::kBmp:
        now = ReadBmpInfo(*in);
        break;
      case ImageFormat::kPng:
        now = ReadPngInfo(*in);
        break;
      case ImageFormat::kTiff:
        now = ReadTiffInfo(*in);
        break;
      case ImageFormat::kPnm:
        now = ReadPnmInfo(*in);
        break;
      case ImageFormat::kOther:
        break;
    }
    if (now.width != info_.width || now.height != info_.height || now.channels != info_.channels ||
        now.sample != info_.sample || now.decoded_by_qt != info_.decoded_by_qt)
      throw FormatError("файл изменился с тех пор, как его открыли");
    in->Seek(0);
    // Checked rows: a band that does not fit the header is a reader's fault.
    const RowSink checked = [&](const RowBand& band) {
      if (band.y < 0 || band.rows <= 0 || band.y + band.rows > info_.height ||
          band.stride < info_.RowBytes())
        throw FormatError("внутренняя ошибка: полоса строк вне рисунка");
      sink(band);
    };
    switch (info_.format) {
      case ImageFormat::kBmp:
        ReadBmpRows(*in, checked);
        break;
      case ImageFormat::kPng:
        ReadPngRows(*in, checked);
        break;
      case ImageFormat::kTiff:
        ReadTiffRows(*in, checked);
        break;
      case ImageFormat::kPnm:
        ReadPnmRows(*in, checked);
        break;
      case ImageFormat::kOther:
        break;
    }
  });
}

}  // namespace qova
