// Windows bitmaps, streamed row by row in the order the file stores them.
// Every value is the one Qt's reader gives (today's LoadImageFile): the same
// header checks, the same mask scales, a colour table padded with black, a
// pixel area cut short read as zeros, and the same decoding of damaged RLE
// records; a test compares the two on random and damaged files.

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/format_readers.h"

namespace qova {

namespace {

constexpr int kOld = 12, kWin = 40, kOs2 = 64, kWin4 = 108, kWin5 = 124;
constexpr int kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3;
// Qt refuses bitmaps of more pixels than this; larger ones are read here, but
// only when the file can hold what they declare.
constexpr uint64_t kQtPixelCap = uint64_t{16384} * 16384;

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 0xff) {
  return ((a & 0xffu) << 24) | ((r & 0xffu) << 16) | ((g & 0xffu) << 8) | (b & 0xffu);
}

class LeReader {
 public:
  explicit LeReader(ByteSource& in) : in_(in) {}
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint32_t U32() {
    uint8_t b[4] = {};
    if (in_.Read(b, 4) != 4) ok = false;
    return b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t{b[3]} << 24);
  }
  int16_t I16() {
    uint8_t b[2] = {};
    if (in_.Read(b, 2) != 2) ok = false;
    return static_cast<int16_t>(b[0] | (b[1] << 8));
  }
  bool ok = true;

 private:
  ByteSource& in_;
};

int CalcShift(uint32_t mask) {
  int result = 0;
  while (mask && !(mask & 1)) {
    ++result;
    mask >>= 1;
  }
  return result;
}

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t scale = 0;
  [[nodiscard]] uint32_t Of(uint32_t c) const { return ((c & mask) >> shift) * scale; }
};

// Everything the pixel pass needs, read from the headers, the masks and the
// colour table; the source is left where Qt starts reading pixels.
struct Layout {
  int64_t width = 0, height = 0;
  bool topDown = false;
  int nbits = 0, comp = 0;
  int32_t xppm = 0, yppm = 0;
  int ncols = 0;
  std::vector<uint32_t> table;  // effective colours by index (2 or 256 entries)
  bool grey = false;            // every colour of the table is grey
  bool transp = false;
  Channel red, green, blue, alpha;
  uint64_t stride = 0;  // bytes of a stored row (uncompressed)
};

[[noreturn]] void Bad(const std::string& reason) { throw FormatError(reason); }

bool Fits(uint32_t mask, Channel& ch) {
  ch.mask = mask;
  ch.shift = CalcShift(mask);
  const uint32_t span = (mask >> ch.shift) + 1;
  if (span == 0) return false;
  ch.scale = 256 / span;
  return true;
}

Layout ReadLayout(ByteSource& in) {
  LeReader s(in);
  uint8_t magic[2] = {};
  in.Read(magic, 2);
  s.I32();  // bfSize
  s.I16();
  s.I16();
  const int32_t offBits = s.I32();
  if (!s.ok || magic[0] != 'B' || magic[1] != 'M') Bad("это не точечный рисунок BMP");

  const int32_t biSize = s.I32();
  int32_t w = 0, h = 0, comp = kRgb, xppm = 0, yppm = 0, clrUsed = 0;
  int16_t planes = 0, nbits = 0;
  uint32_t masks[4] = {};
  if (biSize == kWin || biSize == kOs2 || biSize == kWin4 || biSize == kWin5) {
    w = s.I32();
    h = s.I32();
    planes = s.I16();
    nbits = s.I16();
    comp = s.I32();
    s.I32();  // biSizeImage
    xppm = s.I32();
    yppm = s.I32();
    clrUsed = s.I32();
    s.I32();  // biClrImportant
    if (biSize >= kWin4) {
      for (uint32_t& m : masks) m = s.U32();
      for (int i = 0; i < 13; ++i) s.I32();  // colour space, end points, gammas
      if (biSize == kWin5)
        for (int i = 0; i < 4; ++i) s.I32();
    }
  } else {  // the old OS/2 header, as Qt reads any other size
    w = s.I16();
    h = s.I16();
    planes = s.I16();
    nbits = s.I16();
  }
  if (!s.ok) Bad("заголовок рисунка обрывается");
  if (!(nbits == 1 || nbits == 4 || nbits == 8 || nbits == 16 || nbits == 24 || nbits == 32))
    Bad("глубина " + std::to_string(nbits) + " бит на точку не поддерживается");
  if (planes != 1) Bad("число плоскостей " + std::to_string(planes) + " вместо 1");
  if (!(comp == kRgb || (nbits == 4 && comp == kRle4) || (nbits == 8 && comp == kRle8) ||
        ((nbits == 16 || nbits == 32) && comp == kBitfields)))
    Bad("сжатие " + std::to_string(comp) + " при " + std::to_string(nbits) +
        " битах на точку не поддерживается");
  if (h == std::numeric_limits<int32_t>::min() || w <= 0 || h == 0)
    Bad("размер " + std::to_string(w) + " × " + std::to_string(h) + " недопустим");
  if (in.AtEnd()) Bad("в файле нет точек");

  Layout L;
  L.width = w;
  L.height = h < 0 ? -int64_t{h} : h;
  L.topDown = h < 0;
  L.nbits = nbits;
  L.comp = comp;
  L.xppm = xppm;
  L.yppm = yppm;
  const bool bitfields = comp == kBitfields;

  if (14 + int64_t{biSize} >= 0) in.Seek(static_cast<uint64_t>(14 + int64_t{biSize}));
  uint32_t red = 0, green = 0, blue = 0, alphaMask = 0;
  if (biSize >= kWin4) {
    red = masks[0], green = masks[1], blue = masks[2], alphaMask = masks[3];
  } else if (bitfields && (nbits == 16 || nbits == 32)) {
    red = s.U32();
    green = s.U32();
    blue = s.U32();
    if (!s.ok) Bad("маски цветов обрываются");
  }
  L.transp = (bitfields || (comp == kRgb && nbits == 32 && alphaMask == 0xff000000u)) && alphaMask;

  if (nbits <= 8) {
    L.ncols = clrUsed ? clrUsed : 1 << nbits;
    if (L.ncols < 1 || L.ncols > 256)
      Bad("таблица цветов из " + std::to_string(clrUsed) + " цветов недопустима");
    std::vector<uint32_t> colours;
    const int entry = biSize == kOld ? 3 : 4;
    for (int i = 0; i < L.ncols; ++i) {
      uint8_t rgb[4];
      if (in.Read(rgb, entry) != static_cast<size_t>(entry) || in.AtEnd())
        Bad("таблица цветов обрывается");
      colours.push_back(Rgb(rgb[2], rgb[1], rgb[0]));
    }
    if (nbits == 1) {  // Qt's two colours; a missing second one is white
      L.table = {colours[0], L.ncols > 1 ? colours[1] : 0xffffffffu};
    } else {  // indices beyond the table are black
      L.table.assign(256, 0xff000000u);
      std::copy(colours.begin(), colours.end(), L.table.begin());
    }
    const size_t used = nbits == 4 ? 16 : L.table.size();
    L.grey = std::all_of(L.table.begin(), L.table.begin() + used, [](uint32_t c) {
      return ((c >> 16) & 0xff) == ((c >> 8) & 0xff) && ((c >> 8) & 0xff) == (c & 0xff);
    });
  } else if (bitfields) {
    if (!Fits(red, L.red) || !Fits(green, L.green) || !Fits(blue, L.blue) ||
        !Fits(alphaMask, L.alpha))
      Bad("маска цвета 0xFFFFFFFF недопустима");
  } else if (nbits == 24 || nbits == 32) {
    L.red = {0x00ff0000u, 16, 1};
    L.green = {0x0000ff00u, 8, 1};
    L.blue = {0x000000ffu, 0, 1};
    if (L.transp && !Fits(alphaMask, L.alpha)) Bad("маска прозрачности недопустима");
  } else {  // 16 bits, 5-5-5
    L.red = {0x7c00u, 7, 1};
    L.green = {0x03e0u, 2, 1};
    L.blue = {0x001fu, 0, 8};
  }

  // A data offset that points back into the tables is ignored, as Qt does.
  if (offBits >= 0 && static_cast<uint64_t>(offBits) > in.Position())
    in.Seek(static_cast<uint64_t>(offBits));
  L.stride = (static_cast<uint64_t>(L.width) * nbits + 31) / 32 * 4;

  const uint64_t pixels = static_cast<uint64_t>(L.width) * static_cast<uint64_t>(L.height);
  if (pixels > kQtPixelCap) {
    const uint64_t start = in.Position(), size = in.Size();
    const uint64_t remaining = size > start ? size - start : 0;
    const bool fits = comp == kRle4 || comp == kRle8
                          ? static_cast<uint64_t>(L.height) <= 1 + remaining / 4 * 255
                          : remaining / L.stride >= static_cast<uint64_t>(L.height);
    if (!fits)
      Bad("объявлено " + std::to_string(L.width) + " × " + std::to_string(L.height) +
          " точек, больше, чем вмещает файл");
  }
  return L;
}

int ChannelsOf(const Layout& L) {
  if (L.nbits <= 8) return L.grey ? 1 : 3;
  return L.transp ? 4 : 3;
}

// Colours of a row of palette indices into the row handed out.
void IndexedRow(const Layout& L, const uint8_t* index, int64_t w, uint8_t* out) {
  if (L.grey) {
    for (int64_t x = 0; x < w; ++x) out[x] = L.table[index[x]] & 0xff;
    return;
  }
  for (int64_t x = 0; x < w; ++x) {
    const uint32_t c = L.table[index[x]];
    out[3 * x] = (c >> 16) & 0xff;
    out[3 * x + 1] = (c >> 8) & 0xff;
    out[3 * x + 2] = c & 0xff;
  }
}

// A stored row (uncompressed) into the row handed out.
void StoredRow(const Layout& L, const uint8_t* raw, uint8_t* index, uint8_t* out) {
  const int64_t w = L.width;
  switch (L.nbits) {
    case 1:
      for (int64_t x = 0; x < w; ++x) index[x] = (raw[x >> 3] >> (7 - (x & 7))) & 1;
      IndexedRow(L, index, w, out);
      return;
    case 4:
      for (int64_t x = 0; x < w; ++x) index[x] = (x & 1) ? raw[x >> 1] & 0x0f : raw[x >> 1] >> 4;
      IndexedRow(L, index, w, out);
      return;
    case 8:
      IndexedRow(L, raw, w, out);
      return;
    default: {
      const int bytes = L.nbits / 8;
      const int ch = L.transp ? 4 : 3;
      for (int64_t x = 0; x < w; ++x) {
        const uint8_t* b = raw + x * bytes;
        uint32_t c = b[0] | (b[1] << 8);
        if (bytes > 2) c |= uint32_t{b[2]} << 16;
        if (bytes > 3) c |= uint32_t{b[3]} << 24;
        uint8_t* o = out + x * ch;
        o[0] = L.red.Of(c) & 0xff;
        o[1] = L.green.Of(c) & 0xff;
        o[2] = L.blue.Of(c) & 0xff;
        if (ch == 4) o[3] = L.alpha.Of(c) & 0xff;
      }
    }
  }
}

// The file's k-th stored row is image row k of a top-down bitmap, else
// row height - 1 - k.
int64_t ImageRow(const Layout& L, int64_t k) { return L.topDown ? k : L.height - 1 - k; }

void UncompressedRows(ByteSource& in, const Layout& L, const RowSink& sink) {
  std::vector<uint8_t> raw(L.stride), index(static_cast<size_t>(L.width)),
      out(static_cast<size_t>(L.width) * ChannelsOf(L));
  // Qt keeps the bytes of a row cut short at 1 and 8 bits a pixel and
  // leaves the whole row zero at the other depths.
  const bool keepsPart = L.nbits == 1 || L.nbits == 8;
  for (int64_t k = 0; k < L.height; ++k) {
    const size_t n = in.Read(raw.data(), raw.size());
    if (n != raw.size()) std::fill(raw.begin() + (keepsPart ? n : 0), raw.end(), 0);
    StoredRow(L, raw.data(), index.data(), out.data());
    sink(RowBand{ImageRow(L, k), 1, out.data(), out.size()});
  }
}

// RLE decoding, step by step as Qt does it, over Qt's memory: file row y is
// memory row height - 1 - y, rows bpl = width rounded up to 4 bytes apart,
// and the write position p moves on through that memory, so that a run too
// long for its row spills into the rows decoded before it. The Target
// receives the writes and the moves to a new row.
struct Memory {
  int64_t h, w, bpl;
  [[nodiscard]] int64_t RowStart(int64_t y) const { return (h - y - 1) * bpl; }
};

template <typename Target>
void DecodeRle(ByteSource& in, const Layout& L, Target& t) {
  const Memory m{L.height, L.width, (L.width + 3) / 4 * 4};
  const bool four = L.comp == kRle4;
  int64_t x = 0, y = 0;
  int64_t p = m.RowStart(0);
  const int64_t endp = p + m.w;
  uint8_t b = 0;
  while (y < m.h) {
    if (!in.GetByte(b)) break;
    if (b == 0) {  // escape
      if (!in.GetByte(b) || b == 1) break;
      if (b == 0) {  // end of line
        x = 0;
        ++y;
        t.MoveTo(y);
        p = m.RowStart(y);
      } else if (b == 2) {  // delta; a byte the file lacks counts 0
        uint8_t dx = 0, dy = 0;
        in.GetByte(dx);
        x += dx;
        in.GetByte(dy);
        y += dy;
        if (x >= m.w) x = m.w - 1;
        if (y >= m.h) y = m.h - 1;
        t.MoveTo(y);
        p = m.RowStart(y) + x;
      } else {  // absolute run of b pixels
        int64_t c = b;
        if (p + c > endp) c = endp - p;
        if (four) {
          uint8_t v = static_cast<uint8_t>(c);  // a byte the file lacks keeps the last one
          for (int64_t i = c / 2; i > 0; --i) {
            in.GetByte(v);
            t.Put(p++, v >> 4);
            t.Put(p++, v & 0x0f);
          }
          if (c & 1) {
            uint8_t tail = 0;
            in.GetByte(tail);
            t.Put(p++, tail >> 4);
          }
          if ((((c & 3) + 1) & 2) == 2) in.GetByte(b);  // word alignment
        } else {
          for (int64_t i = 0; i < c; ++i) {
            uint8_t v;
            if (!in.GetByte(v)) Bad("данные RLE обрываются внутри записи");
            t.Put(p + i, v);
          }
          if (c & 1) in.GetByte(b);
          p += c;
        }
        x += c;
      }
    } else {  // encoded run of b pixels
      int64_t c = b;
      if (p + c > endp) c = endp - p;
      uint8_t v = static_cast<uint8_t>(c);  // four bits: a byte the file lacks keeps the count
      if (!in.GetByte(v) && !four) v = 0;
      for (int64_t i = 0; i < c; ++i) t.Put(p++, four ? ((i & 1) ? v & 0x0f : v >> 4) : v);
      x += c;
    }
  }
  t.Finish();
}

// First pass: does any write land outside the row being decoded?
struct SpillCheck {
  const Memory& m;
  int64_t start;
  bool spills = false;
  void MoveTo(int64_t y) { start = m.RowStart(y); }
  void Put(int64_t p, uint8_t) {
    if (p < start || p >= start + m.bpl) spills = true;
  }
  void Finish() {}
};

// Streaming: the row being decoded is handed out when the decoder moves on;
// rows it skips are zero.
struct RowStream {
  const Layout& L;
  const RowSink& sink;
  const Memory& m;
  int64_t y = 0;
  std::vector<uint8_t> index, out;
  RowStream(const Layout& l, const RowSink& s, const Memory& mem)
      : L(l),
        sink(s),
        m(mem),
        index(static_cast<size_t>(mem.bpl)),
        out(static_cast<size_t>(l.width) * ChannelsOf(l)) {}
  void Emit() {
    IndexedRow(L, index.data(), L.width, out.data());
    sink(RowBand{ImageRow(L, y), 1, out.data(), out.size()});
    std::fill(index.begin(), index.end(), 0);
    ++y;
  }
  void MoveTo(int64_t to) {
    while (y < to && y < m.h) Emit();
  }
  void Put(int64_t p, uint8_t v) { index[static_cast<size_t>(p - m.RowStart(y))] = v; }
  void Finish() { MoveTo(m.h); }
};

// A damaged file whose runs spill: Qt's whole memory, then its rows.
struct WholeMemory {
  std::vector<uint8_t> bytes;
  void MoveTo(int64_t) {}
  void Put(int64_t p, uint8_t v) { bytes[static_cast<size_t>(p)] = v; }
  void Finish() {}
};

void RleRows(ByteSource& in, const Layout& L, const RowSink& sink) {
  const Memory m{L.height, L.width, (L.width + 3) / 4 * 4};
  const uint64_t start = in.Position();
  SpillCheck check{m, m.RowStart(0)};
  DecodeRle(in, L, check);
  in.Seek(start);
  if (!check.spills) {
    RowStream stream(L, sink, m);
    DecodeRle(in, L, stream);
    return;
  }
  // Held whole only where Qt would have held it: beyond, such damage is refused.
  if (static_cast<uint64_t>(m.h) * static_cast<uint64_t>(m.w) > kQtPixelCap)
    Bad("записи RLE выходят за свои строки, а рисунок слишком велик, чтобы читать его целиком");
  WholeMemory whole;
  whole.bytes.assign(static_cast<size_t>(m.h * m.bpl), 0);
  DecodeRle(in, L, whole);
  std::vector<uint8_t> out(static_cast<size_t>(L.width) * ChannelsOf(L));
  for (int64_t k = 0; k < L.height; ++k) {
    IndexedRow(L, whole.bytes.data() + m.RowStart(k) * 1, L.width, out.data());
    sink(RowBand{ImageRow(L, k), 1, out.data(), out.size()});
  }
}

}  // namespace

ImageInfo ReadBmpInfo(ByteSource& in) {
  const Layout L = ReadLayout(in);
  ImageInfo info;
  info.format = ImageFormat::kBmp;
  info.format_name = "BMP";
  info.width = L.width;
  info.height = L.height;
  info.channels = ChannelsOf(L);
  info.file_bits = L.nbits <= 8 ? L.nbits : 8;
  info.bottom_up = !L.topDown;
  (void)CheckedRowBytes(info.width, info.channels, 1);
  if (L.xppm > 0) info.dpi_x = L.xppm * 0.0254;
  if (L.yppm > 0) info.dpi_y = L.yppm * 0.0254;
  return info;
}

void ReadBmpRows(ByteSource& in, const RowSink& sink) {
  const Layout L = ReadLayout(in);
  (void)CheckedRowBytes(L.width, ChannelsOf(L), 1);
  if (L.comp == kRle4 || L.comp == kRle8)
    RleRows(in, L, sink);
  else
    UncompressedRows(in, L, sink);
}

}  // namespace qova
