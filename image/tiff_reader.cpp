// TIFF through libtiff, by scanlines or by rows of tiles, at the file's
// depth: 1-, 8- and 16-bit grey, 32-bit float grey, 8-bit palettes, 8- and
// 16-bit RGB and 16-bit RGBA, samples contiguous. Layouts of at most 8 bits
// that this reader does not stream (YCbCr, CMYK, planes apart, palettes of
// fewer bits, 8-bit alpha, which Qt premultiplies and back) are decoded by
// Qt, so that an 8-bit file reads as it does today; deeper ones are refused
// with the cause.

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "image/format_readers.h"

namespace qova {

namespace {

struct TiffSource {
  ByteSource* in = nullptr;
  std::string error;
};

extern "C" {
tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t n) {
  return static_cast<tmsize_t>(static_cast<TiffSource*>(h)->in->Read(buf, static_cast<size_t>(n)));
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return 0; }
toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
  ByteSource& in = *static_cast<TiffSource*>(h)->in;
  const uint64_t base = whence == SEEK_CUR ? in.Position() : whence == SEEK_END ? in.Size() : 0;
  in.Seek(base + off);
  return in.Position();
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<TiffSource*>(h)->in->Size(); }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}
int TiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* src = static_cast<TiffSource*>(user);
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  // libtiff starts many messages with the name given at opening ("image: ").
  std::string message = text;
  if (message.rfind("image: ", 0) == 0) message.erase(0, 7);
  (void)module;
  if (src->error.empty()) src->error = message;
  return 1;
}
int TiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
}

class Tiff {
 public:
  explicit Tiff(ByteSource& in) {
    src_.in = &in;
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffError, &src_);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffWarning, &src_);
    tif_ = TIFFClientOpenExt("image", "rm", &src_, TiffRead, TiffWrite, TiffSeek, TiffClose,
                             TiffSize, TiffMap, TiffUnmap, opts);
    TIFFOpenOptionsFree(opts);
    if (!tif_) Fail("не открывается");
  }
  ~Tiff() {
    if (tif_) TIFFClose(tif_);
  }
  Tiff(const Tiff&) = delete;
  Tiff& operator=(const Tiff&) = delete;
  [[nodiscard]] TIFF* get() const { return tif_; }
  [[noreturn]] void Fail(const std::string& what) const {
    throw FormatError("ошибка TIFF: " + (src_.error.empty() ? what : src_.error));
  }

 private:
  TiffSource src_;
  TIFF* tif_ = nullptr;
};

enum class Kind { kBilevel, kGrey, kFloat, kPalette, kRgb };

struct Layout {
  uint32_t w = 0, h = 0;
  uint16_t bps = 1, spp = 1, photometric = 0, sampleFormat = SAMPLEFORMAT_UINT,
           planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
  Kind kind = Kind::kGrey;
  bool inverted = false;  // MINISWHITE
  int outChannels = 1;
  std::vector<uint8_t> table;  // palette: index -> outChannels bytes
  std::string qtReason;        // non-empty: decoded by Qt for this reason
};

std::string CompressionName(uint16_t c) {
  const TIFFCodec* codec = TIFFFindCODEC(c);
  return std::to_string(c) + (codec && codec->name ? std::string(" (") + codec->name + ")" : "");
}

// Reads the tags and chooses how the rows are read; throws for a layout that
// is refused.
Layout ReadLayout(const Tiff& t, ImageInfo& info) {
  TIFF* tif = t.get();
  Layout L;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &L.w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &L.h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &L.bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &L.spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &L.sampleFormat);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &L.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &L.compression);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &L.photometric))
    throw FormatError("в TIFF нет тега PhotometricInterpretation");
  if (L.w == 0 || L.h == 0)
    throw FormatError("размер " + std::to_string(L.w) + " × " + std::to_string(L.h) +
                      " недопустим");
  if (!TIFFIsCODECConfigured(L.compression))
    throw FormatError("сжатие TIFF " + CompressionName(L.compression) +
                      " не поддерживается библиотекой libtiff");
  uint16_t extraCount = 0;
  uint16_t* extra = nullptr;
  TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  const bool alpha = extraCount > 0 && extra &&
                     (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
  const bool uint = L.sampleFormat == SAMPLEFORMAT_UINT;
  const bool grey =
      L.photometric == PHOTOMETRIC_MINISBLACK || L.photometric == PHOTOMETRIC_MINISWHITE;
  const bool contiguous = L.spp == 1 || L.planar == PLANARCONFIG_CONTIG;
  L.inverted = L.photometric == PHOTOMETRIC_MINISWHITE;

  std::string refusal;
  if (!contiguous) {
    refusal = "планарная раскладка (PlanarConfiguration=2) не поддерживается";
  } else if (grey && L.spp == 1 && uint && (L.bps == 1 || L.bps == 8 || L.bps == 16)) {
    L.kind = L.bps == 1 ? Kind::kBilevel : Kind::kGrey;
  } else if (L.photometric == PHOTOMETRIC_MINISBLACK && L.spp == 1 &&
             L.sampleFormat == SAMPLEFORMAT_IEEEFP && L.bps == 32) {
    L.kind = Kind::kFloat;
  } else if (L.photometric == PHOTOMETRIC_PALETTE && L.spp == 1 && uint && L.bps == 8) {
    L.kind = Kind::kPalette;
  } else if (L.photometric == PHOTOMETRIC_RGB && uint && (L.bps == 8 || L.bps == 16) &&
             (L.spp == 3 || (L.spp == 4 && extraCount == 1))) {
    // Qt premultiplies 8-bit colours by their alpha and back, which changes
    // them; an unspecified fourth sample is dropped, as Qt's colours show.
    if (L.bps == 8 && alpha) {
      refusal = "8-битный TIFF с прозрачностью";
    } else {
      L.kind = Kind::kRgb;
      L.outChannels = L.bps == 16 && L.spp == 4 ? 4 : 3;
    }
  } else if (L.sampleFormat != SAMPLEFORMAT_UINT && L.sampleFormat != SAMPLEFORMAT_IEEEFP) {
    refusal =
        "формат отсчётов SampleFormat=" + std::to_string(L.sampleFormat) + " не поддерживается";
  } else if (L.bps != 1 && L.bps != 8 && L.bps != 16 && L.bps != 32) {
    refusal = std::to_string(L.bps) + " бит на отсчёт не поддерживается";
  } else {
    refusal = "раскладка TIFF (Photometric=" + std::to_string(L.photometric) +
              ", отсчётов на точку " + std::to_string(L.spp) + ", " + std::to_string(L.bps) +
              " бит, формат " + std::to_string(L.sampleFormat) + ") не поддерживается";
  }
  if (!refusal.empty()) {
    // What Qt reads today at 8 bits or fewer stays readable, through Qt.
    if (L.bps <= 8 && L.sampleFormat == SAMPLEFORMAT_UINT)
      L.qtReason = refusal;
    else
      throw FormatError(refusal);
  }

  if (L.kind == Kind::kPalette && L.qtReason.empty()) {
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
      throw FormatError("у TIFF с палитрой нет таблицы цветов");
    bool allGrey = true;
    for (int i = 0; i < 256; ++i)
      allGrey = allGrey && r[i] >> 8 == g[i] >> 8 && g[i] >> 8 == b[i] >> 8;
    L.outChannels = allGrey ? 1 : 3;
    // Qt keeps the top byte of each 16-bit colour.
    for (int i = 0; i < 256; ++i) {
      if (allGrey) {
        L.table.push_back(static_cast<uint8_t>(r[i] >> 8));
      } else {
        L.table.push_back(static_cast<uint8_t>(r[i] >> 8));
        L.table.push_back(static_cast<uint8_t>(g[i] >> 8));
        L.table.push_back(static_cast<uint8_t>(b[i] >> 8));
      }
    }
  }

  info.format = ImageFormat::kTiff;
  info.format_name = "TIFF";
  info.width = L.w;
  info.height = L.h;
  info.file_bits = L.bps;
  if (!L.qtReason.empty()) {
    info.channels = 3;
    info.decoded_by_qt = true;
    info.streamed = false;
    info.note = "читается целиком средствами Qt: " + L.qtReason;
  } else {
    info.channels = L.outChannels;
    info.sample = L.kind == Kind::kFloat ? SampleType::kFloat32
                  : L.bps == 16          ? SampleType::kUint16
                                         : SampleType::kUint8;
    info.bits = BytesPerSample(info.sample) * 8;
    info.max_value = L.kind == Kind::kFloat ? 1.0 : L.bps == 16 ? 65535 : 255;
    info.significant_bits = L.kind == Kind::kBilevel ? 1 : info.bits;
    uint16_t maxSample = 0;
    if (L.bps == 16 && TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &maxSample) && maxSample > 0) {
      int bits = 1;
      while ((1 << bits) <= maxSample) ++bits;
      info.significant_bits = std::min(bits, 16);
    }
  }
  float rx = 0, ry = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &rx) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &ry) &&
      std::isfinite(rx) && std::isfinite(ry) && rx > 0 && ry > 0 &&
      (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)) {
    const double k = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    info.dpi_x = rx * k;
    info.dpi_y = ry * k;
  }
  (void)CheckedRowBytes(L.w, std::max<int>(L.spp, info.channels), std::max(1, L.bps / 8));
  return L;
}

// A stored row (samples as the file holds them) into the row handed out.
void ConvertRow(const Layout& L, const uint8_t* raw, uint8_t* out) {
  const uint32_t w = L.w;
  switch (L.kind) {
    case Kind::kBilevel:  // Qt: bit 1 is white, or black for MINISWHITE
      for (uint32_t x = 0; x < w; ++x) {
        const bool bit = (raw[x >> 3] >> (7 - (x & 7))) & 1;
        out[x] = bit != L.inverted ? 255 : 0;
      }
      return;
    case Kind::kGrey:
      if (L.bps == 8) {
        for (uint32_t x = 0; x < w; ++x) out[x] = L.inverted ? 255 - raw[x] : raw[x];
      } else {
        const auto* in = reinterpret_cast<const uint16_t*>(raw);
        auto* o = reinterpret_cast<uint16_t*>(out);
        for (uint32_t x = 0; x < w; ++x) o[x] = L.inverted ? 65535 - in[x] : in[x];
      }
      return;
    case Kind::kFloat:
      std::memcpy(out, raw, size_t{w} * 4);
      return;
    case Kind::kPalette: {
      const int c = L.outChannels;
      for (uint32_t x = 0; x < w; ++x) std::memcpy(out + size_t{x} * c, &L.table[raw[x] * c], c);
      return;
    }
    case Kind::kRgb: {
      const size_t bytes = L.bps / 8, in = L.spp * bytes, o = L.outChannels * bytes;
      if (in == o) {
        std::memcpy(out, raw, size_t{w} * o);
      } else {
        for (uint32_t x = 0; x < w; ++x) std::memcpy(out + x * o, raw + x * in, o);
      }
      return;
    }
  }
}

void ScanlineRows(const Tiff& t, const Layout& L, const ImageInfo& info, const RowSink& sink) {
  TIFF* tif = t.get();
  const tmsize_t scan = TIFFScanlineSize(tif);
  if (scan <= 0) t.Fail("длина строки");
  std::vector<uint8_t> raw(static_cast<size_t>(scan)), out(info.RowBytes());
  for (uint32_t y = 0; y < L.h; ++y) {
    if (TIFFReadScanline(tif, raw.data(), y, 0) < 0) t.Fail("строка " + std::to_string(y));
    ConvertRow(L, raw.data(), out.data());
    sink(RowBand{y, 1, out.data(), out.size()});
  }
}

void TileRows(const Tiff& t, const Layout& L, const ImageInfo& info, const RowSink& sink) {
  TIFF* tif = t.get();
  uint32_t tw = 0, th = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
  const tmsize_t tileBytes = TIFFTileSize(tif), tileRow = TIFFTileRowSize(tif);
  if (tw == 0 || th == 0 || tileBytes <= 0 || tileRow <= 0) t.Fail("размер плитки");
  // A band is one row of tiles, in the file's samples, then converted.
  const size_t rawRow = (size_t{L.w} * L.spp * L.bps + 7) / 8;
  const size_t bandRows = std::min(th, L.h);
  std::vector<uint8_t> tile(static_cast<size_t>(tileBytes)), raw(rawRow * bandRows),
      out(info.RowBytes() * bandRows);
  for (uint32_t y0 = 0; y0 < L.h; y0 += th) {
    const uint32_t rows = std::min(th, L.h - y0);
    for (uint32_t x0 = 0; x0 < L.w; x0 += tw) {
      if (TIFFReadTile(tif, tile.data(), x0, y0, 0, 0) < 0)
        t.Fail("плитка " + std::to_string(x0) + ", " + std::to_string(y0));
      const size_t offset = (size_t{x0} * L.spp * L.bps) / 8;
      const size_t bytes = std::min<size_t>(static_cast<size_t>(tileRow), rawRow - offset);
      for (uint32_t i = 0; i < rows; ++i)
        std::memcpy(&raw[i * rawRow + offset], &tile[i * static_cast<size_t>(tileRow)], bytes);
    }
    for (uint32_t i = 0; i < rows; ++i) ConvertRow(L, &raw[i * rawRow], &out[i * info.RowBytes()]);
    sink(RowBand{y0, rows, out.data(), info.RowBytes()});
  }
}

}  // namespace

ImageInfo ReadTiffInfo(ByteSource& in) {
  Tiff t(in);
  ImageInfo info;
  ReadLayout(t, info);
  return info;
}

void ReadTiffRows(ByteSource& in, const RowSink& sink) {
  Tiff t(in);
  ImageInfo info;
  const Layout L = ReadLayout(t, info);
  if (info.decoded_by_qt) throw FormatError("внутренняя ошибка: этот TIFF читает Qt");
  if (TIFFIsTiled(t.get()))
    TileRows(t, L, info, sink);
  else
    ScanlineRows(t, L, info, sink);
}

}  // namespace qova
