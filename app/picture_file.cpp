#include "app/picture_file.h"

#include <QImage>
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/qova_error.h"
#include "image/qt_image.h"
#include "platform/platform.h"
#include "run/image_source.h"

namespace qova {

namespace {

// Thrown by a sink to end a pass that has read what it needs.
struct PassDone {};

bool IsGrey(QRgb p) { return qRed(p) == qGreen(p) && qGreen(p) == qBlue(p); }

// Whether the reader's passes give the window's picture: files it decodes
// row by row. The rest (Qt's formats, an interlaced PNG, a damaged RLE
// bitmap) are decoded whole either way, and an 8-bit one through Qt as ever.
bool StreamsPicture(const ImageInfo& info) { return !info.decoded_by_qt && info.streamed; }

// Whether the file's rows, in their 8-bit colours, are exactly same's
// pixels. A deep image's samples are kept for the read-out on the way.
bool SameAsFile(const ImageReader& reader, const DepthReduction& reduce, const CompactPicture& same,
                DeepSamples* deep) {
  const ImageInfo& info = reader.Info();
  if (same.Width() != info.width || same.Height() != info.height) return false;
  const bool hold = deep && deep->HoldRows();
  std::vector<QRgb> file(static_cast<size_t>(info.width)), shown(file.size());
  try {
    reader.ReadRows([&](const RowBand& band) {
      for (int64_t i = 0; i < band.rows; ++i) {
        const int64_t y = band.y + i;
        if (y < 0 || y >= info.height) throw PassDone{};
        reduce.ToRgb32(band.Row(i), 0, info.width, file.data());
        same.ReadRow(static_cast<int32_t>(y), 0, same.Width(), shown.data());
        if (file != shown) throw PassDone{};
        if (hold) deep->KeepRow(y, band.Row(i));
      }
    });
  } catch (const PassDone&) {
    return false;
  }
  return true;
}

// A picture of colours that are all grey, at one byte a pixel (the grey
// level is the blue of each, as CompactPicture::From takes it).
QImage GreyOf(const QImage& rgb888) {
  QImage grey(rgb888.width(), rgb888.height(), QImage::Format_Grayscale8);
  if (grey.isNull()) throw std::bad_alloc();
  for (int y = 0; y < rgb888.height(); ++y) {
    const uchar* src = rgb888.constScanLine(y);
    uchar* dst = grey.scanLine(y);
    for (int x = 0; x < rgb888.width(); ++x) dst[x] = src[3 * x + 2];
  }
  return grey;
}

// The compact pixels of the file, row by row as the reader hands them out:
// one byte a pixel for a grey image, three for a colour one (one again at
// the end when every colour turned out grey, as CompactPicture::From
// chooses).
QImage ReadCompact(const ImageReader& reader, const DepthReduction& reduce, DeepSamples* deep) {
  const ImageInfo& info = reader.Info();
  const int32_t w = ImageSide(info.width, reader.Name());
  const int32_t h = ImageSide(info.height, reader.Name());
  const bool grey = info.channels <= 2;
  QImage pixels(w, h, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  if (pixels.isNull() && w > 0 && h > 0) throw std::bad_alloc();
  const bool hold = deep && deep->HoldRows();
  bool allGrey = true;
  int64_t rows = 0;
  std::vector<QRgb> rgb(static_cast<size_t>(w));
  reader.ReadRows([&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i, ++rows) {
      const int64_t y = band.y + i;
      if (y < 0 || y >= h)
        throw QovaError("Не удаётся прочитать изображение " + reader.Name() + ": строка вне его");
      reduce.ToRgb32(band.Row(i), 0, w, rgb.data());
      uchar* dst = pixels.scanLine(static_cast<int>(y));
      if (grey) {
        for (int32_t x = 0; x < w; ++x) {
          if (!IsGrey(rgb[size_t(x)]))  // not the reader's grey: Qt reads it instead
            throw QovaError("Не удаётся прочитать изображение " + reader.Name());
          dst[x] = static_cast<uchar>(qBlue(rgb[size_t(x)]));
        }
      } else {
        for (int32_t x = 0; x < w; ++x, dst += 3) {
          const QRgb p = rgb[size_t(x)];
          dst[0] = static_cast<uchar>(qRed(p));
          dst[1] = static_cast<uchar>(qGreen(p));
          dst[2] = static_cast<uchar>(qBlue(p));
          allGrey = allGrey && IsGrey(p);
        }
      }
      if (hold) deep->KeepRow(y, band.Row(i));
    }
  });
  if (rows != h)
    throw QovaError("Не удаётся прочитать изображение " + reader.Name() + ": не все строки");
  if (!grey && allGrey) pixels = GreyOf(pixels);
  return pixels;
}

PictureFile Streamed(const ImageReader& reader, const std::shared_ptr<const CompactPicture>& same,
                     uint64_t heldBytes) {
  PictureFile file;
  file.info = reader.Info();
  SampleRange range;
  if (IsDeep(file.info)) {
    range = ScanRange(reader);
    file.deep = std::make_shared<DeepSamples>(reader, heldBytes);
  }
  const DepthReduction reduce(file.info, range);
  if (same && SameAsFile(reader, reduce, *same, file.deep.get())) {
    file.picture = same;
    return file;
  }
  file.picture = CompactPicture::FromCompact(ReadCompact(reader, reduce, file.deep.get()));
  return file;
}

PictureFile ThroughQt(Platform& desktop, const std::string& path,
                      const std::shared_ptr<const CompactPicture>& same) {
  const QImage image = AsRgb32(desktop.ReadBitmap(path));
  if (image.isNull()) throw QovaError("Недостаточно памяти для изображения " + path);
  PictureFile file;
  file.info.format_name = "Qt";
  file.info.width = image.width();
  file.info.height = image.height();
  file.info.channels = 3;
  file.info.streamed = false;
  file.info.decoded_by_qt = true;
  file.picture = same && same->SameAs(image) ? same : CompactPicture::From(image);
  return file;
}

}  // namespace

DeepSamples::DeepSamples(ImageReader reader, uint64_t heldBytes)
    : reader_(std::move(reader)), heldBytes_(heldBytes) {}

bool DeepSamples::HoldRows() {
  const ImageInfo& info = Info();
  const uint64_t bytes =
      static_cast<uint64_t>(info.RowBytes()) * static_cast<uint64_t>(info.height);
  if (bytes == 0 || bytes > heldBytes_) return false;
  held_.assign(static_cast<size_t>(bytes), 0);
  return true;
}

void DeepSamples::KeepRow(int64_t y, const uint8_t* row) {
  const size_t bytes = Info().RowBytes();
  if (y < 0 || y >= Info().height || held_.size() < bytes * static_cast<size_t>(Info().height))
    return;
  std::memcpy(held_.data() + static_cast<size_t>(y) * bytes, row, bytes);
}

void DeepSamples::ReadBand(int64_t y) {
  const ImageInfo& info = Info();
  const size_t bytes = info.RowBytes();
  const int64_t lo = std::max<int64_t>(0, y - kBandRows / 2);
  const int64_t hi = std::min<int64_t>(info.height, lo + kBandRows);
  bandRows_ = 0;  // until the band is whole
  band_.assign(static_cast<size_t>(hi - lo) * bytes, 0);
  int64_t got = 0;
  try {
    // A pass from the file's start that ends as soon as the band is read.
    reader_.ReadRows([&](const RowBand& band) {
      for (int64_t i = 0; i < band.rows; ++i) {
        const int64_t r = band.y + i;
        if (r < lo || r >= hi) continue;
        std::memcpy(band_.data() + static_cast<size_t>(r - lo) * bytes, band.Row(i), bytes);
        if (++got == hi - lo) throw PassDone{};
      }
    });
  } catch (const PassDone&) {
  }
  if (got != hi - lo)
    throw QovaError("Не удаётся прочитать изображение " + reader_.Name() + ": не все строки");
  bandY0_ = lo;
  bandRows_ = hi - lo;
}

PixelSamples DeepSamples::At(int64_t x, int64_t y) {
  const ImageInfo& info = Info();
  if (x < 0 || y < 0 || x >= info.width || y >= info.height) return {};
  const size_t bytes = info.RowBytes();
  if (!held_.empty()) return SamplesAt(info, held_.data() + static_cast<size_t>(y) * bytes, x);
  if (y < bandY0_ || y >= bandY0_ + bandRows_) ReadBand(y);
  return SamplesAt(info, band_.data() + static_cast<size_t>(y - bandY0_) * bytes, x);
}

PictureFile ReadPictureFile(Platform& desktop, const std::string& path,
                            const std::shared_ptr<const CompactPicture>& same, uint64_t heldBytes) {
  std::optional<ImageReader> reader;
  try {
    reader = ImageReader::Open(path);
  } catch (const QovaError&) {
    // A deep file is refused with the reader's reason (cut short, a layout
    // it does not read); any other goes to Qt, which reads it or says why.
    if (DeclaresDeepImage(path)) throw;
  }
  if (reader && (IsDeep(reader->Info()) || StreamsPicture(reader->Info()))) {
    try {
      return Streamed(*reader, same, heldBytes);
    } catch (const QovaError&) {
      if (IsDeep(reader->Info())) throw;
      // An 8-bit file the reader gives up on halfway: Qt reads it as it
      // always has, or refuses it with its own words.
    }
  }
  return ThroughQt(desktop, path, same);
}

}  // namespace qova
