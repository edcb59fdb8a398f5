// The bitmap reader against Qt's, on random bitmaps of every depth,
// compression, palette size and mask, top-down, truncated and damaged: both
// refuse the same files, and every pixel of the others is the same colour.
#include <gtest/gtest.h>

#include <QImageReader>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/qova_error.h"
#include "image/image_reader.h"
#include "image/rgb32.h"
#include "tests/support/qt_image_read.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

struct Bytes {
  std::string s;
  void u8(uint32_t v) { s += static_cast<char>(v & 0xff); }
  void u16(uint32_t v) { u8(v), u8(v >> 8); }
  void u32(uint32_t v) { u16(v & 0xffff), u16(v >> 16); }
};

struct Spec {
  int w = 1, h = 1, nbits = 24, comp = 0, headerSize = 40, clrUsed = 0;
  bool topDown = false;
  uint32_t masks[4] = {};
  bool transp = false;  // what Qt makes of it: ARGB32
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}
  int Int(int lo, int hi) {
    if (hi < lo)
      throw std::logic_error("empty range " + std::to_string(lo) + ".." + std::to_string(hi));
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  }
  bool Chance(int percent) { return Int(0, 99) < percent; }
  uint32_t U32() { return static_cast<uint32_t>(rng_()); }

  uint32_t Mask(int nbits) {  // a mask of a 16- or 32-bit pixel
    const int bits = nbits == 16 ? 16 : 32;
    switch (Int(0, 5)) {
      case 0:
        return 0;
      case 1:
        return U32() & (bits == 16 ? 0xffffu : 0xffffffffu);  // odd, not contiguous
      default: {
        const int width = Int(1, bits == 16 ? 8 : 10), shift = Int(0, bits - width);
        return ((1u << width) - 1) << shift;
      }
    }
  }

  Spec RandomSpec() {
    Spec s;
    s.w = Int(1, 37);
    s.h = Int(1, 23);
    const int kinds[] = {1, 4, 8, 16, 24, 32};
    s.nbits = kinds[Int(0, 5)];
    if (s.nbits == 4 && Chance(50)) s.comp = 2;
    if (s.nbits == 8 && Chance(50)) s.comp = 1;
    if ((s.nbits == 16 || s.nbits == 32) && Chance(60)) s.comp = 3;
    s.topDown = Chance(25);
    const int sizes[] = {40, 40, 108, 124, 12, 64};
    s.headerSize = sizes[Int(0, 5)];
    if (s.headerSize == 12 && s.comp != 0) s.headerSize = 40;
    if (s.nbits <= 8 && Chance(50)) s.clrUsed = Int(1, Chance(80) ? (1 << s.nbits) : 256);
    if (s.comp == 3 || s.headerSize >= 108) {
      if (s.nbits == 16 && Chance(40)) {  // the usual 5-5-5 and 5-6-5
        const bool m565 = Chance(50);
        s.masks[0] = m565 ? 0xf800 : 0x7c00;
        s.masks[1] = m565 ? 0x07e0 : 0x03e0;
        s.masks[2] = 0x001f;
      } else {
        for (int i = 0; i < 3; ++i) s.masks[i] = Mask(s.nbits);
      }
      if (s.headerSize >= 108)
        s.masks[3] = Chance(30) ? 0xff000000u : Chance(50) ? Mask(s.nbits) : 0;
    }
    const bool bitfields = s.comp == 3;
    s.transp = (bitfields || (s.comp == 0 && s.nbits == 32 && s.masks[3] == 0xff000000u)) &&
               s.headerSize >= 108 && s.masks[3] != 0;
    return s;
  }

  std::string Palette(const Spec& s, bool grey) {
    Bytes b;
    const int n = s.clrUsed ? s.clrUsed : 1 << s.nbits;
    for (int i = 0; i < n; ++i) {
      const uint32_t g = U32() & 0xff;
      const uint32_t c = grey ? g * 0x010101u : U32() & 0xffffff;
      b.u8(c), b.u8(c >> 8), b.u8(c >> 16);
      if (s.headerSize != 12) b.u8(0);
    }
    return b.s;
  }

  std::string Rle(const Spec& s) {
    Bytes b;
    const bool four = s.comp == 2;
    const int records = Int(0, s.w * s.h / 3 + 8);
    for (int r = 0; r < records; ++r) {
      const int kind = Int(0, 99);
      if (kind < 55) {  // encoded run, sometimes too long for the row
        b.u8(Chance(85) ? Int(1, s.w) : Int(1, 255));
        b.u8(U32());
      } else if (kind < 80) {  // absolute run of 3 or more
        const int n = Chance(85) ? Int(3, std::max(3, s.w)) : Int(3, 255);
        b.u8(0), b.u8(n);
        const int bytes = four ? (n + 1) / 2 : n;
        for (int i = 0; i < bytes; ++i) b.u8(U32());
        if (four ? (((n & 3) + 1) & 2) == 2 : (n & 1)) b.u8(0);
      } else if (kind < 93) {  // end of line
        b.u8(0), b.u8(0);
      } else if (kind < 98) {  // delta
        b.u8(0), b.u8(2), b.u8(Int(0, s.w)), b.u8(Int(0, 3));
      } else {  // end of bitmap
        b.u8(0), b.u8(1);
      }
    }
    return b.s;
  }

  std::string Pixels(const Spec& s) {
    if (s.comp == 1 || s.comp == 2) return Rle(s);
    const size_t stride = (static_cast<size_t>(s.w) * s.nbits + 31) / 32 * 4;
    std::string p(stride * s.h, '\0');
    for (char& c : p) c = static_cast<char>(U32());
    return p;
  }

  std::string File(const Spec& s, std::string* pixelStart = nullptr) {
    Bytes info;
    if (s.headerSize == 12) {
      info.u32(12), info.u16(s.w), info.u16(s.topDown ? -s.h : s.h), info.u16(1), info.u16(s.nbits);
    } else {
      info.u32(s.headerSize), info.u32(s.w), info.u32(s.topDown ? -s.h : s.h), info.u16(1),
          info.u16(s.nbits), info.u32(s.comp), info.u32(0), info.u32(Int(0, 5000)),
          info.u32(Int(0, 5000)), info.u32(s.clrUsed), info.u32(0);
      if (s.headerSize >= 108) {
        for (uint32_t m : s.masks) info.u32(m);
        for (int i = 0; i < 13; ++i) info.u32(0);
        if (s.headerSize == 124)
          for (int i = 0; i < 4; ++i) info.u32(0);
      }
      while (info.s.size() < static_cast<size_t>(s.headerSize)) info.u8(0);
    }
    std::string tables;
    if (s.headerSize < 108 && s.comp == 3) {
      Bytes m;
      for (int i = 0; i < 3; ++i) m.u32(s.masks[i]);
      tables = m.s;
    }
    if (s.nbits <= 8)
      tables = Palette(s, Chance(40));
    else if (Chance(10))
      tables += std::string(Int(1, 40), '\x5a');  // a gap before the pixels
    const std::string pixels = Pixels(s);
    uint32_t off = 14 + static_cast<uint32_t>(info.s.size() + tables.size());
    if (Chance(10))
      off = Int(0, off);  // pointing back: Qt ignores it
    else if (Chance(5))
      off += Int(1, 8);  // pointing into the pixels
    Bytes file;
    file.s = "BM";
    file.u32(0), file.u16(0), file.u16(0), file.u32(off);
    if (pixelStart) *pixelStart = file.s + info.s + tables;
    return file.s + info.s + tables + pixels;
  }

 private:
  std::mt19937 rng_;
};

// Whether Qt's RLE decoder, on these pixel bytes, reaches the end of the
// file where it then uses a byte it never set (an encoded 8-bit run's value,
// a delta's offsets, the odd last pixel of a 4-bit absolute run): there its
// colours are whatever its memory held, which no reader can match. Walks the
// records as Qt does, counting bytes only.
bool QtReadsUnsetBytes(const std::string& file) {
  // The header as the file now says, damage included.
  if (file.size() < 14 + 16) return false;
  auto i32 = [&](size_t at) {
    int32_t v = 0;
    std::memcpy(&v, file.data() + at, 4);
    return v;
  };
  auto i16 = [&](size_t at) {
    int16_t v = 0;
    std::memcpy(&v, file.data() + at, 2);
    return v;
  };
  const int32_t headerSize = i32(14);
  const bool modern =
      headerSize == 40 || headerSize == 64 || headerSize == 108 || headerSize == 124;
  if (!modern || file.size() < 14 + 40) return false;
  Spec s;
  s.w = i32(18), s.h = std::abs(i32(22)), s.nbits = i16(28), s.comp = i32(30), s.clrUsed = i32(46);
  const uint32_t off = static_cast<uint32_t>(i32(10));
  if ((s.comp != 1 || s.nbits != 8) && (s.comp != 2 || s.nbits != 4)) return false;
  if (s.w <= 0 || s.h <= 0 || s.clrUsed < 0 || s.clrUsed > 256) return false;
  const int ncols = s.clrUsed ? s.clrUsed : 1 << s.nbits;
  size_t pos = 14 + static_cast<size_t>(headerSize) + static_cast<size_t>(ncols) * 4;
  if (static_cast<int32_t>(off) >= 0 && off > pos) pos = off;
  const bool four = s.comp == 2;
  const int64_t w = s.w, h = s.h, bpl = (w + 3) / 4 * 4;
  int64_t x = 0, y = 0, p = (h - 1) * bpl;
  const int64_t endp = p + w;
  auto get = [&](int& b) {
    if (pos >= file.size()) return false;
    b = static_cast<uint8_t>(file[pos++]);
    return true;
  };
  int b = 0, t = 0;
  while (y < h) {
    if (!get(b)) return false;
    if (b == 0) {
      if (!get(b) || b == 1) return false;
      if (b == 0) {
        x = 0, ++y, p = (h - y - 1) * bpl;
      } else if (b == 2) {
        if (!get(t)) return true;
        x += t;
        if (!get(t)) return true;
        y += t;
        x = std::min(x, w - 1), y = std::min(y, h - 1), p = (h - y - 1) * bpl + x;
      } else {
        int64_t c = p + b > endp ? endp - p : b;
        const int64_t bytes = four ? c / 2 : c;
        for (int64_t i = 0; i < bytes; ++i) get(t);  // a missing byte: the last one (4 bits)
        if (!four && pos > file.size()) return false;
        if (four && (c & 1) && !get(t)) return true;
        if (four ? (((c & 3) + 1) & 2) == 2 : (c & 1)) get(t);
        p += c, x += c;
      }
    } else {
      const int64_t c = p + b > endp ? endp - p : b;
      if (!get(t) && !four) return true;
      p += c, x += c;
    }
  }
  return false;
}

int qtUndetermined = 0, bothRefused = 0, compared = 0;

// Compares the reader with Qt on one file; a file on which Qt's answer
// depends on bytes it never set is only counted.
void ExpectSameAsQt(const std::string& bytes, const std::string& what) {
  if (QtReadsUnsetBytes(bytes)) {
    ++qtUndetermined;
    return;
  }
  static const TempFolder folder("qova-bmp-reader");
  const std::string path = (folder.dir / "random.bmp").string();
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  QImage qt;
  const bool qtReads = QtReadAsToday(path, qt);
  QImage ours;
  std::string error;
  try {
    ours = ReadRgb32(ImageReader::Open(path));
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (qtReads != error.empty()) {
    if (const char* dump = std::getenv("QOVA_DUMP_BMP"))
      std::ofstream(dump, std::ios::binary) << bytes;
    FAIL() << what << ": Qt " << (qtReads ? "reads it" : "refuses it") << ", ours "
           << (error.empty() ? "reads it" : error);
  }
  if (!qtReads) {
    ++bothRefused;
    return;
  }
  ++compared;
  ASSERT_EQ(qt.size(), ours.size()) << what;
  for (int y = 0; y < qt.height(); ++y)
    for (int x = 0; x < qt.width(); ++x)
      if ((qt.pixel(x, y) & 0xffffff) != (ours.pixel(x, y) & 0xffffff)) {
        // QOVA_DUMP_BMP=file keeps the first file that differs, to look into.
        if (const char* dump = std::getenv("QOVA_DUMP_BMP"))
          std::ofstream(dump, std::ios::binary) << bytes;
        FAIL() << what << " at " << x << ", " << y << ": Qt " << std::hex
               << (qt.pixel(x, y) & 0xffffff) << ", ours " << (ours.pixel(x, y) & 0xffffff);
      }
}

std::string Describe(const Spec& s, uint32_t seed, const char* damage) {
  return "seed " + std::to_string(seed) + " " + std::to_string(s.w) + "x" + std::to_string(s.h) +
         " bits " + std::to_string(s.nbits) + " comp " + std::to_string(s.comp) + " header " +
         std::to_string(s.headerSize) + (s.topDown ? " top-down" : "") + " " + damage;
}

TEST(BmpReader, GivesQtsColoursOnRandomWholeAndDamagedBitmaps) {
  int read = 0;
  for (uint32_t seed = 1; seed <= 600; ++seed) {
    Generator g(seed);
    const Spec s = g.RandomSpec();
    std::string head;
    const std::string file = g.File(s, &head);
    ExpectSameAsQt(file, Describe(s, seed, "whole"));
    if (::testing::Test::HasFatalFailure()) return;
    // Cut short inside the pixels, then anywhere.
    if (file.size() > head.size() + 1) {
      const size_t cut =
          head.size() + 1 + g.Int(0, static_cast<int>(file.size() - head.size() - 2));
      ExpectSameAsQt(file.substr(0, cut), Describe(s, seed, "cut in pixels"));
      if (::testing::Test::HasFatalFailure()) return;
    }
    ExpectSameAsQt(file.substr(0, g.Int(0, static_cast<int>(file.size()))),
                   Describe(s, seed, "cut anywhere"));
    if (::testing::Test::HasFatalFailure()) return;
    // A few bytes changed at random, the header included.
    std::string damaged = file;
    for (int k = g.Int(1, 4); k > 0; --k)
      damaged[g.Int(0, static_cast<int>(damaged.size()) - 1)] = static_cast<char>(g.U32());
    ExpectSameAsQt(damaged, Describe(s, seed, "damaged"));
    if (::testing::Test::HasFatalFailure()) return;
    ++read;
  }
  EXPECT_EQ(read, 600);
  EXPECT_LT(qtUndetermined, 60);
  EXPECT_GT(compared, 1500);
  std::printf("2400 files: %d read alike, %d refused by both, %d where Qt reads unset bytes\n",
              compared, bothRefused, qtUndetermined);
}

TEST(BmpReader, HandsOutRowsBottomUpOrTopDownAsStoredAndGreyPalettesAsGrey) {
  Generator g(7);
  Spec s;
  s.w = 5, s.h = 4, s.nbits = 8;
  for (const bool topDown : {false, true}) {
    s.topDown = topDown;
    Bytes pal;
    for (int i = 0; i < 256; ++i) pal.u32(i * 0x010101u);
    const std::string file = [&] {
      std::string f = g.File(s);
      // Replace the random palette by the grey ramp.
      f.replace(14 + 40, 1024, pal.s);
      return f;
    }();
    const ImageReader reader = ImageReader::OfBytes(file, "grey.bmp");
    EXPECT_EQ(reader.Info().channels, 1);
    EXPECT_EQ(reader.Info().bottom_up, !topDown);
    std::vector<int64_t> order;
    reader.ReadRows([&](const RowBand& band) { order.push_back(band.y); });
    EXPECT_EQ(order,
              topDown ? std::vector<int64_t>({0, 1, 2, 3}) : std::vector<int64_t>({3, 2, 1, 0}));
  }
}

TEST(BmpReader, ARunTooLongForItsRowSpillsIntoTheRowsBeforeAsInQt) {
  // 8-bit RLE, 4 x 3: row 0 of colour 1; row 1 a run of 10 of colour 2,
  // which Qt writes on into the memory of row 0 up to the end of its pixels.
  Bytes pal;
  for (int i = 0; i < 256; ++i) pal.u32(i * 0x030507u);
  Bytes file;
  file.s = "BM";
  file.u32(0), file.u16(0), file.u16(0), file.u32(14 + 40 + 1024);
  file.u32(40), file.u32(4), file.u32(3), file.u16(1), file.u16(8), file.u32(1), file.u32(0),
      file.u32(0), file.u32(0), file.u32(0), file.u32(0);
  file.s += pal.s;
  file.s += std::string("\x04\x01\x00\x00\x0a\x02\x00\x00\x02\x03\x00\x01", 12);
  const TempFolder folder("qova-bmp-spill");
  const std::string path = (folder.dir / "spill.bmp").string();
  std::ofstream(path, std::ios::binary) << file.s;
  QImage qt;
  ASSERT_TRUE(QtReadAsToday(path, qt));
  const QImage ours = ReadRgb32(ImageReader::Open(path));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(qt.pixel(x, y) & 0xffffff, ours.pixel(x, y) & 0xffffff);
  EXPECT_EQ(ours.pixel(0, 2) & 0xffffff, 2 * 0x030507u);  // row 0 (the bottom) overwritten
}

TEST(BmpReader, BitmapsBeyondQtsSizeAreReadWhenTheFileHoldsThem) {
  // 17000 x 16000 at one bit a pixel: 272 million pixels, more than Qt reads.
  const TempFolder folder("qova-bmp-large");
  const std::string path = (folder.dir / "large.bmp").string();
  const int64_t w = 17000, h = 16000, stride = (w + 31) / 32 * 4;
  Bytes head;
  head.s = "BM";
  head.u32(0), head.u16(0), head.u16(0), head.u32(14 + 40 + 8);
  head.u32(40), head.u32(w), head.u32(h), head.u16(1), head.u16(1), head.u32(0), head.u32(0),
      head.u32(0), head.u32(0), head.u32(2), head.u32(0);
  head.u32(0), head.u32(0xffffff);
  std::ofstream(path, std::ios::binary) << head.s;
  // The pixel area cut short: refused, as the file cannot hold what it declares.
  std::filesystem::resize_file(path, head.s.size() + stride * (h - 1));
  try {
    (void)ImageReader::Open(path);
    ADD_FAILURE() << "a cut bitmap beyond Qt's size was opened";
  } catch (const QovaError& e) {
    EXPECT_NE(std::string(e.what()).find("больше, чем вмещает файл"), std::string::npos);
  }
  std::filesystem::resize_file(path, head.s.size() + stride * h);  // sparse: all zeros
  const ImageReader reader = ImageReader::Open(path);
  EXPECT_EQ(reader.Info().width, w);
  EXPECT_EQ(reader.Info().channels, 1);
  int64_t rows = 0, dark = 0;
  reader.ReadRows([&](const RowBand& band) {
    rows += band.rows;
    dark += band.data[w - 1] == 0 ? 1 : 0;
  });
  EXPECT_EQ(rows, h);
  EXPECT_EQ(dark, h);
}

}  // namespace
}  // namespace qova
