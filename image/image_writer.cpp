#include "image/image_writer.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "core/qova_error.h"
#include "core/safe_save.h"
#include "image/image_reader.h"

namespace qova {

namespace {

[[noreturn]] void Unsupported(const std::string& what) {
  throw QovaError("Запись изображения: " + what + " не поддерживается");
}

bool LittleEndian() {
  const uint16_t one = 1;
  return *reinterpret_cast<const uint8_t*>(&one) == 1;
}

// Writes the whole buffer at offset; false when the disk refuses it.
bool WriteAt(int fd, const void* data, size_t n, uint64_t offset) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t k = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
    offset += static_cast<uint64_t>(k);
  }
  return true;
}

}  // namespace

class ImageWriter::Format {
 public:
  virtual ~Format() = default;
  virtual void Row(const uint8_t* row) = 0;
  // Row y, for the formats that place rows anywhere; others return false.
  virtual bool RowAt(int64_t, const uint8_t*) { return false; }
  virtual void Finish() = 0;
};

namespace {

// --- PNM: a header and the samples, 16-bit big-endian.
class PnmFormat : public ImageWriter::Format {
 public:
  PnmFormat(SafeFile& f, const WriteSpec& s) : f_(f), s_(s) {
    const bool wide = s.sample == SampleType::kUint16;
    f_.Write(std::string(s.channels == 1 ? "P5\n" : "P6\n") + std::to_string(s.width) + " " +
             std::to_string(s.height) + "\n" + (wide ? "65535" : "255") + "\n");
    out_.resize(static_cast<size_t>(s.width) * s.channels * (wide ? 2 : 1));
  }
  void Row(const uint8_t* row) override {
    if (s_.sample == SampleType::kUint16) {
      const size_t n = out_.size() / 2;
      for (size_t i = 0; i < n; ++i) {
        uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        out_[2 * i] = static_cast<char>(v >> 8);
        out_[2 * i + 1] = static_cast<char>(v & 0xff);
      }
    } else {
      std::memcpy(out_.data(), row, out_.size());
    }
    f_.Write(out_);
  }
  void Finish() override {}

 private:
  SafeFile& f_;
  const WriteSpec& s_;
  std::string out_;
};

// --- BMP: bottom-up as readers expect, each row written at its place.
class BmpFormat : public ImageWriter::Format {
 public:
  BmpFormat(SafeFile& f, const WriteSpec& s) : f_(f), s_(s) {
    const int bits = s.channels == 3 ? 24 : 8;
    stride_ = (static_cast<uint64_t>(s.width) * bits + 31) / 32 * 4;
    const uint32_t table = bits == 8 ? 1024 : 0;
    offset_ = 14 + 40 + table;
    const uint64_t size = offset_ + stride_ * static_cast<uint64_t>(s.height);
    if (size > 0xffffffffu || s.width > 0x7fffffff || s.height > 0x7fffffff)
      Unsupported("BMP больше 4 ГиБ");
    std::string h;
    auto u16 = [&](uint32_t v) {
      h += static_cast<char>(v & 0xff), h += static_cast<char>(v >> 8 & 0xff);
    };
    auto u32 = [&](uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
    auto ppm = [](double dpi) {
      return static_cast<uint32_t>(dpi > 0 ? std::lround(dpi / 0.0254) : 2835);
    };
    h += "BM";
    u32(static_cast<uint32_t>(size));
    u32(0);
    u32(offset_);
    u32(40);
    u32(static_cast<uint32_t>(s.width));
    u32(static_cast<uint32_t>(s.height));
    u16(1);
    u16(bits);
    u32(0);
    u32(static_cast<uint32_t>(stride_ * static_cast<uint64_t>(s.height)));
    u32(ppm(s.dpi_x));
    u32(ppm(s.dpi_y));
    u32(bits == 8 ? 256 : 0);
    u32(0);
    for (uint32_t i = 0; i < table / 4; ++i) u32(i << 16 | i << 8 | i);  // grey palette
    f_.Write(h);
    f_.Flush();
    out_.assign(stride_, 0);
  }
  void Row(const uint8_t* row) override { RowAt(y_++, row); }
  bool RowAt(int64_t y, const uint8_t* row) override {
    if (s_.channels == 3) {
      for (int64_t x = 0; x < s_.width; ++x) {
        out_[3 * x] = row[3 * x + 2];
        out_[3 * x + 1] = row[3 * x + 1];
        out_[3 * x + 2] = row[3 * x];
      }
    } else {
      std::memcpy(out_.data(), row, static_cast<size_t>(s_.width));
    }
    const uint64_t at = offset_ + stride_ * static_cast<uint64_t>(s_.height - 1 - y);
    if (!WriteAt(f_.Descriptor(), out_.data(), out_.size(), at))
      throw QovaError("Stream write error");
    return true;
  }
  void Finish() override {}

 private:
  SafeFile& f_;
  const WriteSpec& s_;
  uint64_t stride_ = 0, offset_ = 0;
  int64_t y_ = 0;
  std::vector<uint8_t> out_;
};

// --- PNG through libpng; errors come back by longjmp into Protected().
struct PngWrite {
  png_structp png = nullptr;
  png_infop info = nullptr;
  SafeFile* file = nullptr;
  char error[256] = {};
  ~PngWrite() { png_destroy_write_struct(&png, &info); }
};

extern "C" void OnPngWriteError(png_structp png, png_const_charp message) {
  auto* w = static_cast<PngWrite*>(png_get_error_ptr(png));
  std::snprintf(w->error, sizeof w->error, "%s", message);
  png_longjmp(png, 1);
}
extern "C" void OnPngWriteWarning(png_structp, png_const_charp) {}
extern "C" void OnPngWrite(png_structp png, png_bytep data, size_t n) {
  auto* w = static_cast<PngWrite*>(png_get_io_ptr(png));
  try {
    w->file->Write(std::string_view(reinterpret_cast<const char*>(data), n));
  } catch (const QovaError&) {
    png_error(png, "Stream write error");
  }
}
extern "C" void OnPngFlush(png_structp) {}

template <typename F>
bool PngProtected(PngWrite& w, F&& f) {
  if (setjmp(png_jmpbuf(w.png))) return false;
  f();
  return true;
}

class PngFormat : public ImageWriter::Format {
 public:
  PngFormat(SafeFile& f, const WriteSpec& s) {
    if (s.width > 0x7fffffff || s.height > 0x7fffffff) Unsupported("PNG такого размера");
    w_.file = &f;
    w_.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &w_, OnPngWriteError, OnPngWriteWarning);
    if (!w_.png || !(w_.info = png_create_info_struct(w_.png)))
      throw QovaError("Stream write error");
    const int type = s.channels == 1   ? PNG_COLOR_TYPE_GRAY
                     : s.channels == 2 ? PNG_COLOR_TYPE_GRAY_ALPHA
                     : s.channels == 3 ? PNG_COLOR_TYPE_RGB
                                       : PNG_COLOR_TYPE_RGB_ALPHA;
    const int depth = s.sample == SampleType::kUint16 ? 16 : 8;
    Check(PngProtected(w_, [&] {
      png_set_write_fn(w_.png, &w_, OnPngWrite, OnPngFlush);
      png_set_user_limits(w_.png, 0x7fffffff, 0x7fffffff);
      png_set_IHDR(w_.png, w_.info, static_cast<png_uint_32>(s.width),
                   static_cast<png_uint_32>(s.height), depth, type, PNG_INTERLACE_NONE,
                   PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
      if (s.dpi_x > 0 && s.dpi_y > 0)
        png_set_pHYs(w_.png, w_.info, static_cast<png_uint_32>(std::lround(s.dpi_x / 0.0254)),
                     static_cast<png_uint_32>(std::lround(s.dpi_y / 0.0254)), PNG_RESOLUTION_METER);
      png_write_info(w_.png, w_.info);
      if (depth == 16 && LittleEndian()) png_set_swap(w_.png);
    }));
  }
  void Row(const uint8_t* row) override {
    Check(PngProtected(w_, [&] { png_write_row(w_.png, const_cast<png_bytep>(row)); }));
  }
  void Finish() override {
    Check(PngProtected(w_, [&] { png_write_end(w_.png, nullptr); }));
  }

 private:
  void Check(bool ok) const {
    if (!ok)
      throw QovaError(std::strcmp(w_.error, "Stream write error") == 0
                          ? std::string("Stream write error")
                          : std::string("Запись PNG: ") + w_.error);
  }
  PngWrite w_;
};

// --- TIFF through libtiff, by scanlines, on the temporary file's descriptor.
struct TiffFile {
  int fd = -1;
  uint64_t pos = 0;
  std::string error;
};

extern "C" {
tmsize_t TiffWriteRead(thandle_t h, void* buf, tmsize_t n) {
  auto* t = static_cast<TiffFile*>(h);
  const ssize_t k = ::pread(t->fd, buf, static_cast<size_t>(n), static_cast<off_t>(t->pos));
  if (k > 0) t->pos += static_cast<uint64_t>(k);
  return k;
}
tmsize_t TiffWriteWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* t = static_cast<TiffFile*>(h);
  if (!WriteAt(t->fd, buf, static_cast<size_t>(n), t->pos)) return -1;
  t->pos += static_cast<uint64_t>(n);
  return n;
}
toff_t TiffWriteSeek(thandle_t h, toff_t off, int whence) {
  auto* t = static_cast<TiffFile*>(h);
  if (whence == SEEK_SET) {
    t->pos = off;
  } else if (whence == SEEK_CUR) {
    t->pos += off;
  } else {
    const off_t end = ::lseek(t->fd, 0, SEEK_END);
    t->pos = static_cast<uint64_t>(end) + off;
  }
  return t->pos;
}
int TiffWriteClose(thandle_t) { return 0; }
toff_t TiffWriteSize(thandle_t h) {
  return static_cast<toff_t>(::lseek(static_cast<TiffFile*>(h)->fd, 0, SEEK_END));
}
int TiffWriteMap(thandle_t, void**, toff_t*) { return 0; }
void TiffWriteUnmap(thandle_t, void*, toff_t) {}
int TiffWriteError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  auto* t = static_cast<TiffFile*>(user);
  if (t->error.empty()) t->error = text;
  return 1;
}
int TiffWriteWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
}

class TiffFormat : public ImageWriter::Format {
 public:
  TiffFormat(SafeFile& f, const WriteSpec& s) {
    if (s.width > 0xffffffffLL || s.height > 0xffffffffLL) Unsupported("TIFF такого размера");
    f.Flush();
    file_.fd = f.Descriptor();
    const uint64_t bytes =
        static_cast<uint64_t>(s.width) * s.height * s.channels * BytesPerSample(s.sample);
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffWriteError, &file_);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffWriteWarning, &file_);
    // Past 4 GiB only BigTIFF can point at the rows.
    tif_ = TIFFClientOpenExt("image", bytes > (uint64_t{3} << 30) ? "w8" : "w", &file_,
                             TiffWriteRead, TiffWriteWrite, TiffWriteSeek, TiffWriteClose,
                             TiffWriteSize, TiffWriteMap, TiffWriteUnmap, opts);
    TIFFOpenOptionsFree(opts);
    if (!tif_) Fail();
    const uint16_t bits = static_cast<uint16_t>(BytesPerSample(s.sample) * 8);
    bool ok =
        TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(s.width)) &&
        TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(s.height)) &&
        TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(s.channels)) &&
        TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, bits) &&
        TIFFSetField(tif_, TIFFTAG_SAMPLEFORMAT,
                     s.sample == SampleType::kFloat32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT) &&
        TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC,
                     s.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
        TIFFSetField(tif_, TIFFTAG_COMPRESSION,
                     s.compress ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
    if (ok && s.compress)
      ok = TIFFSetField(
          tif_, TIFFTAG_PREDICTOR,
          s.sample == SampleType::kFloat32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    if (ok && (s.channels == 2 || s.channels == 4)) {
      const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
      ok = TIFFSetField(tif_, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (ok && s.dpi_x > 0 && s.dpi_y > 0)
      ok = TIFFSetField(tif_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
           TIFFSetField(tif_, TIFFTAG_XRESOLUTION, static_cast<float>(s.dpi_x)) &&
           TIFFSetField(tif_, TIFFTAG_YRESOLUTION, static_cast<float>(s.dpi_y));
    if (ok) ok = TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif_, 0));
    if (!ok) Fail();
    row_.resize(static_cast<size_t>(s.width) * s.channels * BytesPerSample(s.sample));
  }
  ~TiffFormat() override {
    if (tif_) TIFFCleanup(tif_);
  }
  void Row(const uint8_t* row) override {
    std::memcpy(row_.data(), row, row_.size());  // libtiff may encode in place
    if (TIFFWriteScanline(tif_, row_.data(), static_cast<uint32_t>(y_++), 0) < 0) Fail();
  }
  void Finish() override {
    const bool ok = TIFFWriteDirectory(tif_) && TIFFFlush(tif_);
    TIFFCleanup(tif_);
    tif_ = nullptr;
    if (!ok) Fail();
  }

 private:
  [[noreturn]] void Fail() const {
    throw QovaError(file_.error.empty() ? "Stream write error" : "Запись TIFF: " + file_.error);
  }
  TiffFile file_;
  TIFF* tif_ = nullptr;
  int64_t y_ = 0;
  std::vector<uint8_t> row_;
};

void CheckSpec(const WriteSpec& s) {
  if (s.width <= 0 || s.height <= 0)
    Unsupported("размер " + std::to_string(s.width) + " × " + std::to_string(s.height));
  if (s.channels < 1 || s.channels > 4) Unsupported(std::to_string(s.channels) + " каналов");
  if (s.sample == SampleType::kFloat64) Unsupported("отсчёты по 64 бита");
  switch (s.format) {
    case WriteFormat::kPng:
      if (s.sample == SampleType::kFloat32) Unsupported("PNG с плавающей точкой");
      break;
    case WriteFormat::kTiff:
      if (s.sample == SampleType::kFloat32 && s.channels != 1)
        Unsupported("цветной TIFF с плавающей точкой");
      break;
    case WriteFormat::kPnm:
      if (s.sample == SampleType::kFloat32 || (s.channels != 1 && s.channels != 3))
        Unsupported("PGM/PPM с такими отсчётами");
      break;
    case WriteFormat::kBmp:
      if (s.sample != SampleType::kUint8 || (s.channels != 1 && s.channels != 3))
        Unsupported("BMP с такими отсчётами");
      break;
  }
}

}  // namespace

ImageWriter::ImageWriter(const std::string& path, const WriteSpec& spec) : spec_(spec) {
  CheckSpec(spec_);
  file_ = std::make_unique<SafeFile>(path);
  switch (spec_.format) {
    case WriteFormat::kPng:
      format_ = std::make_unique<PngFormat>(*file_, spec_);
      break;
    case WriteFormat::kTiff:
      format_ = std::make_unique<TiffFormat>(*file_, spec_);
      break;
    case WriteFormat::kPnm:
      format_ = std::make_unique<PnmFormat>(*file_, spec_);
      break;
    case WriteFormat::kBmp:
      format_ = std::make_unique<BmpFormat>(*file_, spec_);
      break;
  }
}

ImageWriter::~ImageWriter() = default;

void ImageWriter::WriteRows(const uint8_t* rows, int64_t count, size_t stride) {
  if (!format_ || count < 0 || written_ + count > spec_.height)
    throw QovaError("Запись изображения: строк больше, чем объявлено");
  if (placed_) throw QovaError("Запись изображения: строки уже пишутся не по порядку");
  for (int64_t i = 0; i < count; ++i) format_->Row(rows + static_cast<size_t>(i) * stride);
  written_ += count;
}

void ImageWriter::WriteBand(const RowBand& band) {
  if (!format_ || band.rows < 0 || band.y < 0 || band.y + band.rows > spec_.height ||
      written_ + band.rows > spec_.height)
    throw QovaError("Запись изображения: полоса строк вне рисунка");
  if (band.y == written_ && !placed_) {
    WriteRows(band.data, band.rows, band.stride);
    return;
  }
  // Out of order (a bottom-up bitmap): each row at its place, once.
  placed_ = true;
  for (int64_t i = 0; i < band.rows; ++i)
    if (!format_->RowAt(band.y + i, band.Row(i)))
      throw QovaError("Запись изображения: этот формат пишется только сверху вниз");
  written_ += band.rows;
}

void ImageWriter::Finish() {
  if (!format_ || written_ != spec_.height)
    throw QovaError("Запись изображения: записано " + std::to_string(written_) + " строк из " +
                    std::to_string(spec_.height));
  format_->Finish();
  format_.reset();
  file_->Commit();
}

void CopyImage(const ImageReader& reader, const std::string& path, WriteFormat format) {
  const ImageInfo& info = reader.Info();
  WriteSpec spec{format,      info.width, info.height, info.channels,
                 info.sample, info.dpi_x, info.dpi_y};
  ImageWriter writer(path, spec);
  const bool bottomUp = info.bottom_up && format != WriteFormat::kBmp;
  std::vector<uint8_t> whole;
  if (bottomUp) whole.resize(info.RowBytes() * static_cast<size_t>(info.height));
  reader.ReadRows([&](const RowBand& band) {
    if (!bottomUp) return writer.WriteBand(band);
    for (int64_t i = 0; i < band.rows; ++i)
      std::memcpy(&whole[static_cast<size_t>(band.y + i) * info.RowBytes()], band.Row(i),
                  info.RowBytes());
  });
  if (bottomUp) writer.WriteRows(whole.data(), info.height, info.RowBytes());
  writer.Finish();
}

}  // namespace qova
