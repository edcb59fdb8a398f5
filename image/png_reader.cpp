// PNG through libpng, row by row at the file's depth: grey of 1, 2 and 4
// bits expanded to 8 as Qt's colour table does, 16-bit samples in native
// order, palettes expanded to their colours. Interlaced files are decoded
// whole first. libpng reports errors by longjmp: every call into it goes
// through Protected(), whose frame holds nothing with a destructor.

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "image/format_readers.h"

namespace qova {

namespace {

struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ByteSource* in = nullptr;
  bool readingEnd = false;
  char error[256] = {};
  ~PngRead() { png_destroy_read_struct(&png, &info, nullptr); }
};

extern "C" void OnPngError(png_structp png, png_const_charp message) {
  auto* r = static_cast<PngRead*>(png_get_error_ptr(png));
  std::snprintf(r->error, sizeof r->error, "%s", message);
  png_longjmp(png, 1);
}

extern "C" void OnPngWarning(png_structp, png_const_charp) {}

extern "C" void OnPngRead(png_structp png, png_bytep data, size_t length) {
  auto* r = static_cast<PngRead*>(png_get_io_ptr(png));
  // Qt accepts a file that lacks the last check sum of its end chunk.
  if (r->readingEnd && length == 4 &&
      r->in->Size() - std::min(r->in->Size(), r->in->Position()) < 4) {
    const uint8_t iendCrc[4] = {0xae, 0x42, 0x60, 0x82};
    std::memcpy(data, iendCrc, 4);
    r->in->Seek(r->in->Size());
    return;
  }
  if (r->in->Read(data, length) != length) png_error(png, "файл обрывается");
}

template <typename F>
bool Protected(PngRead& r, F&& f) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  f();
  return true;
}

[[noreturn]] void Fail(const PngRead& r) {
  throw FormatError(std::string("ошибка PNG: ") + (r.error[0] ? r.error : "неизвестная"));
}

// What the header says and how rows are handed out.
struct Setup {
  png_uint_32 w = 0, h = 0;
  int depth = 0, colour = 0, interlace = 0;
  ImageInfo info;
  std::vector<uint8_t> table;  // palette: index -> channels samples (256 entries)
  int tableChannels = 0;
};

void Open(PngRead& r, ByteSource& in) {
  uint8_t sig[8] = {};
  if (in.Read(sig, 8) != 8 || png_sig_cmp(sig, 0, 8) != 0) throw FormatError("это не рисунок PNG");
  r.in = &in;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, OnPngError, OnPngWarning);
  if (!r.png) throw FormatError("libpng не запускается");
  r.info = png_create_info_struct(r.png);
  if (!r.info) throw FormatError("libpng не запускается");
  // No size limit but the checked row size: gigapixel scans are normal input.
  png_set_user_limits(r.png, 0x7fffffff, 0x7fffffff);
  png_set_read_fn(r.png, &r, OnPngRead);
  png_set_sig_bytes(r.png, 8);
}

void BuildPalette(PngRead& r, Setup& s) {
  png_colorp palette = nullptr;
  int count = 0;
  if (!png_get_PLTE(r.png, r.info, &palette, &count) || count <= 0 || count > 256)
    throw FormatError("у рисунка PNG нет палитры");
  png_bytep trans = nullptr;
  int numTrans = 0;
  png_color_16p transColour = nullptr;
  if (!png_get_tRNS(r.png, r.info, &trans, &numTrans, &transColour) || !trans) numTrans = 0;
  std::vector<uint32_t> colours(256);
  auto entry = [&](int i) -> uint32_t {
    const uint32_t a = i < numTrans ? trans[i] : 0xff;
    return a << 24 | palette[i].red << 16 | palette[i].green << 8 | palette[i].blue;
  };
  for (int i = 0; i < 256; ++i) {
    if (i < count)
      colours[i] = entry(i);
    else if (s.depth == 1)  // Qt's two-colour picture: a missing second colour is white
      colours[i] = 0xffffffffu;
    else  // Qt replaces an index beyond the palette by 0
      colours[i] = colours[0];
  }
  const int used = 1 << s.depth;
  const bool grey =
      numTrans == 0 && std::all_of(colours.begin(), colours.begin() + used, [](uint32_t c) {
        return ((c >> 16) & 0xff) == ((c >> 8) & 0xff) && (c & 0xff) == ((c >> 8) & 0xff);
      });
  s.tableChannels = grey ? 1 : numTrans > 0 ? 4 : 3;
  s.table.resize(256 * s.tableChannels);
  for (int i = 0; i < 256; ++i) {
    const uint32_t c = colours[i];
    const uint8_t rgba[4] = {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                             static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 24)};
    std::memcpy(&s.table[i * s.tableChannels], grey ? rgba + 2 : rgba, s.tableChannels);
  }
}

Setup ReadSetup(PngRead& r, ByteSource& in) {
  Open(r, in);
  Setup s;
  if (!Protected(r, [&] {
        png_read_info(r.png, r.info);
        png_get_IHDR(r.png, r.info, &s.w, &s.h, &s.depth, &s.colour, &s.interlace, nullptr,
                     nullptr);
      }))
    Fail(r);
  ImageInfo& info = s.info;
  info.format = ImageFormat::kPng;
  info.format_name = "PNG";
  info.width = s.w;
  info.height = s.h;
  info.file_bits = s.depth;
  const bool palette = s.colour == PNG_COLOR_TYPE_PALETTE;
  if (palette) {
    BuildPalette(r, s);
    info.channels = s.tableChannels;
  } else {
    info.channels = png_get_channels(r.png, r.info);
  }
  const bool wide = s.depth == 16;
  info.sample = wide ? SampleType::kUint16 : SampleType::kUint8;
  info.bits = wide ? 16 : 8;
  info.max_value = wide ? 65535 : 255;
  info.significant_bits = palette ? 8 : s.depth;
  png_color_8p sbit = nullptr;
  if (!palette && png_get_sBIT(r.png, r.info, &sbit) && sbit) {
    const int sig = s.colour & PNG_COLOR_MASK_COLOR ? std::max({sbit->red, sbit->green, sbit->blue})
                                                    : sbit->gray;
    if (sig > 0 && sig <= s.depth) info.significant_bits = sig;
  }
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(r.png, r.info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
    info.dpi_x = resX * 0.0254;
    info.dpi_y = resY * 0.0254;
  }
  png_bytep trans = nullptr;
  int numTrans = 0;
  png_color_16p key = nullptr;
  // Qt shows the transparent grey of a 2- to 8-bit grey file as black.
  if (s.colour == PNG_COLOR_TYPE_GRAY && s.depth >= 2 && s.depth <= 8 &&
      png_get_tRNS(r.png, r.info, &trans, &numTrans, &key) && key && key->gray < (1u << s.depth))
    info.transparent_grey = key->gray * 255 / ((1 << s.depth) - 1);
  // Deflate packs at most 1032 bytes into one: a header that declares more
  // than the file could hold is refused before any row is read.
  const uint64_t declared = (png_get_rowbytes(r.png, r.info) + 1) * static_cast<uint64_t>(s.h);
  if (declared / 1100 > in.Size())
    throw FormatError("объявлено " + std::to_string(s.w) + " × " + std::to_string(s.h) +
                      " точек, больше, чем вмещает файл");
  if (s.interlace != PNG_INTERLACE_NONE) {
    info.streamed = false;
    info.note = "чересстрочный PNG читается целиком";
  }
  (void)CheckedRowBytes(info.width,
                        std::max(info.channels, static_cast<int>(png_get_channels(r.png, r.info))),
                        wide ? 2 : 1);
  return s;
}

// The transformations that make libpng give the samples handed out.
void SetTransforms(PngRead& r, const Setup& s, int& passes) {
  if (!Protected(r, [&] {
        if (s.colour == PNG_COLOR_TYPE_PALETTE)
          png_set_packing(r.png);
        else if (s.depth < 8)
          png_set_expand_gray_1_2_4_to_8(r.png);
        if (s.depth == 16) {
          const uint16_t one = 1;
          if (*reinterpret_cast<const uint8_t*>(&one) == 1) png_set_swap(r.png);
        }
        passes = png_set_interlace_handling(r.png);
        png_read_update_info(r.png, r.info);
      }))
    Fail(r);
}

}  // namespace

ImageInfo ReadPngInfo(ByteSource& in) {
  PngRead r;
  return ReadSetup(r, in).info;
}

void ReadPngRows(ByteSource& in, const RowSink& sink) {
  PngRead r;
  const Setup s = ReadSetup(r, in);
  int passes = 1;
  SetTransforms(r, s, passes);
  const size_t rowBytes = png_get_rowbytes(r.png, r.info);
  const bool palette = s.colour == PNG_COLOR_TYPE_PALETTE;
  const size_t outBytes = s.info.RowBytes();
  if (!palette && rowBytes != outBytes) throw FormatError("ошибка PNG: неожиданная длина строки");
  std::vector<uint8_t> out(outBytes);
  auto expand = [&](const uint8_t* row) -> const uint8_t* {
    if (!palette) return row;
    const int c = s.tableChannels;
    for (png_uint_32 x = 0; x < s.w; ++x) std::memcpy(&out[x * c], &s.table[row[x] * c], c);
    return out.data();
  };
  if (passes > 1) {  // interlaced: the whole picture first
    std::vector<uint8_t> whole(rowBytes * s.h);
    std::vector<png_bytep> rows(s.h);
    for (png_uint_32 y = 0; y < s.h; ++y) rows[y] = whole.data() + rowBytes * y;
    if (!Protected(r, [&] { png_read_image(r.png, rows.data()); })) Fail(r);
    for (png_uint_32 y = 0; y < s.h; ++y) {
      const uint8_t* row = expand(rows[y]);
      sink(RowBand{y, 1, row, outBytes});
    }
  } else {
    std::vector<uint8_t> raw(rowBytes);
    for (png_uint_32 y = 0; y < s.h; ++y) {
      if (!Protected(r, [&] { png_read_row(r.png, raw.data(), nullptr); })) Fail(r);
      const uint8_t* row = expand(raw.data());
      sink(RowBand{y, 1, row, outBytes});
    }
  }
  r.readingEnd = true;
  if (!Protected(r, [&] { png_read_end(r.png, nullptr); })) Fail(r);
}

}  // namespace qova
