// The reader on PNG, TIFF and PBM/PGM/PPM: 8-bit files of random layouts
// give Qt's colours (today's LoadImageFile); deep files give the very
// samples written into them by libpng and libtiff; bad files are refused
// with the file's name and the cause; the box keeper and the range.
#include "image/image_reader.h"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/qova_error.h"
#include "image/box_rows.h"
#include "image/rgb32.h"
#include "image/sample_range.h"
#include "tests/support/qt_image_read.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

class Random {
 public:
  explicit Random(uint32_t seed) : rng_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Int(0, 99) < percent; }
  template <typename T>
  T Pick(std::initializer_list<T> list) {
    return *(list.begin() + Int(0, static_cast<int>(list.size()) - 1));
  }

 private:
  std::mt19937 rng_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- Files written by the formats' own libraries.

struct PngSpec {
  int w = 1, h = 1, colour = PNG_COLOR_TYPE_GRAY, depth = 8;
  bool interlace = false;
  int numPalette = 0, numTrans = -1;  // -1: no tRNS
  int sbit = 0;                       // 0: no sBIT
  double dpi = 0;
};

void WritePng(const std::string& path, const PngSpec& s, const std::vector<uint8_t>& rows,
              Random& r) {
  FILE* f = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    throw std::runtime_error("libpng could not write the test file");
  }
  png_init_io(png, f);
  png_set_check_for_invalid_index(png, 0);  // indices beyond the palette, as damaged files have
  png_set_IHDR(png, info, s.w, s.h, s.depth, s.colour,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette(256);
  std::vector<png_byte> alpha(256);
  for (auto& c : palette) {
    const bool grey = r.Chance(30);
    c.red = static_cast<png_byte>(r.Int(0, 255));
    c.green = grey ? c.red : static_cast<png_byte>(r.Int(0, 255));
    c.blue = grey ? c.red : static_cast<png_byte>(r.Int(0, 255));
  }
  for (auto& a : alpha) a = static_cast<png_byte>(r.Int(0, 255));
  if (s.colour == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), s.numPalette);
  if (s.numTrans >= 0) {
    png_color_16 key{};
    const int max = (1 << s.depth) - 1;
    key.gray = static_cast<png_uint_16>(r.Int(0, max));
    key.red = static_cast<png_uint_16>(r.Int(0, max));
    key.green = static_cast<png_uint_16>(r.Int(0, max));
    key.blue = static_cast<png_uint_16>(r.Int(0, max));
    png_set_tRNS(png, info, alpha.data(), s.colour == PNG_COLOR_TYPE_PALETTE ? s.numTrans : 0,
                 &key);
  }
  if (s.sbit) {
    png_color_8 bits{};
    bits.gray = bits.red = bits.green = bits.blue = static_cast<png_byte>(s.sbit);
    bits.alpha = static_cast<png_byte>(s.depth);
    png_set_sBIT(png, info, &bits);
  }
  if (s.dpi > 0) {
    const auto ppm = static_cast<png_uint_32>(std::lround(s.dpi / 0.0254));
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  const size_t rowBytes = rows.size() / s.h;
  std::vector<png_bytep> pointers(s.h);
  for (int y = 0; y < s.h; ++y) pointers[y] = const_cast<png_bytep>(rows.data() + y * rowBytes);
  png_write_image(png, pointers.data());  // 16-bit samples are big-endian here
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

struct TiffSpec {
  uint32_t w = 1, h = 1;
  uint16_t bps = 8, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  uint16_t compression = COMPRESSION_NONE, extra = 0;  // extra: EXTRASAMPLE_* of a 4th sample
  uint32_t tile = 0;                                   // 0: strips
  uint32_t rowsPerStrip = 0;
  float dpi = 0;
};

// rows: the samples, contiguous (planes apart are split here).
void WriteTiff(const std::string& path, const TiffSpec& s, const std::vector<uint8_t>& rows,
               Random& r) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bps);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.format);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.planar);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
  if (s.extra) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &s.extra);
  if (s.dpi > 0) {
    TIFFSetField(t, TIFFTAG_XRESOLUTION, s.dpi);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, s.dpi);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  }
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    const int n = 1 << s.bps;
    std::vector<uint16_t> red(n), green(n), blue(n);
    for (int i = 0; i < n; ++i) {
      const bool grey = r.Chance(20);
      red[i] = static_cast<uint16_t>(r.Int(0, 65535));
      green[i] = grey ? red[i] : static_cast<uint16_t>(r.Int(0, 65535));
      blue[i] = grey ? red[i] : static_cast<uint16_t>(r.Int(0, 65535));
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  const size_t pixelBits = size_t{s.bps} * s.spp;
  const size_t rowBytes = (s.w * pixelBits + 7) / 8;
  const size_t sampleBytes = s.bps / 8;
  if (s.tile) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    std::vector<uint8_t> tile(TIFFTileSize(t));
    for (uint32_t y0 = 0; y0 < s.h; y0 += s.tile)
      for (uint32_t x0 = 0; x0 < s.w; x0 += s.tile) {
        std::fill(tile.begin(), tile.end(), 0);
        const size_t tileRow = (s.tile * pixelBits + 7) / 8;
        for (uint32_t i = 0; i < s.tile && y0 + i < s.h; ++i) {
          const size_t from = (x0 * pixelBits) / 8;
          std::memcpy(&tile[i * tileRow], &rows[(y0 + i) * rowBytes + from],
                      std::min(tileRow, rowBytes - from));
        }
        TIFFWriteTile(t, tile.data(), x0, y0, 0, 0);
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP,
                 s.rowsPerStrip ? s.rowsPerStrip : TIFFDefaultStripSize(t, 0));
    std::vector<uint8_t> plane(rowBytes);
    for (uint32_t y = 0; y < s.h; ++y) {
      if (s.planar == PLANARCONFIG_SEPARATE) {
        for (uint16_t k = 0; k < s.spp; ++k) {
          for (uint32_t x = 0; x < s.w; ++x)
            std::memcpy(&plane[x * sampleBytes],
                        &rows[y * rowBytes + (x * s.spp + k) * sampleBytes], sampleBytes);
          TIFFWriteScanline(t, plane.data(), y, k);
        }
      } else {
        std::memcpy(plane.data(), &rows[y * rowBytes], rowBytes);
        TIFFWriteScanline(t, plane.data(), y, 0);
      }
    }
  }
  TIFFClose(t);
}

std::vector<uint8_t> RandomBytes(Random& r, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(r.Int(0, 255));
  return v;
}

template <typename T>
std::vector<T> ReadSamples(const ImageReader& reader) {
  const ImageInfo& info = reader.Info();
  std::vector<T> all(static_cast<size_t>(info.width * info.height * info.channels));
  reader.ReadRows([&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i)
      std::memcpy(&all[static_cast<size_t>((band.y + i) * info.width * info.channels)], band.Row(i),
                  info.RowBytes());
  });
  return all;
}

std::string ErrorOf(const std::string& path) {
  try {
    const ImageReader reader = ImageReader::Open(path);
    reader.ReadRows([](const RowBand&) {});
  } catch (const QovaError& e) {
    return e.what();
  }
  return "(no error)";
}

class ImageReaderTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (folder_.dir / name).string(); }

  // The reader's colours and today's, pixel for pixel; both refuse alike.
  // qtRefusesValid: a layout Qt 6.4 refuses although it is sound (tiled
  // 8-bit RGB: "Invalid tile byte count"); the reader must read it.
  void ExpectQtsColours(const std::string& path, const std::string& what,
                        bool qtRefusesValid = false) {
    QImage qt;
    const bool qtReads = QtReadAsToday(path, qt);
    QImage ours;
    std::string error;
    try {
      ours = ReadRgb32(ImageReader::Open(path));
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (qtRefusesValid && !qtReads) {
      EXPECT_EQ(error, "") << what;
      ++qtRefused_;
      return;
    }
    if (const char* dump = std::getenv("QOVA_DUMP_IMAGE"); dump && qtReads != error.empty())
      std::ofstream(dump, std::ios::binary) << ReadAll(path);
    ASSERT_EQ(qtReads, error.empty()) << what << ": " << error;
    if (!qtReads) {
      ++bothRefused_;
      return;
    }
    ASSERT_EQ(qt.size(), ours.size()) << what;
    for (int y = 0; y < qt.height(); ++y)
      for (int x = 0; x < qt.width(); ++x)
        ASSERT_EQ(qt.pixel(x, y) & 0xffffff, ours.pixel(x, y) & 0xffffff)
            << what << " at " << x << ", " << y;
    ++compared_;
  }

  TempFolder folder_{"qova-image-reader"};
  int compared_ = 0, qtRefused_ = 0, bothRefused_ = 0;
};

TEST_F(ImageReaderTest, EightBitPngOfEveryLayoutGivesQtsColours) {
  for (uint32_t seed = 1; seed <= 120; ++seed) {
    Random r(seed);
    PngSpec s;
    s.w = r.Int(1, 33), s.h = r.Int(1, 17);
    s.colour = r.Pick<int>({PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                            PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE});
    s.depth = s.colour == PNG_COLOR_TYPE_GRAY || s.colour == PNG_COLOR_TYPE_PALETTE
                  ? r.Pick<int>({1, 2, 4, 8})
                  : 8;
    s.interlace = r.Chance(20);
    if (s.colour == PNG_COLOR_TYPE_PALETTE) s.numPalette = r.Int(1, 1 << s.depth);
    if ((s.colour == PNG_COLOR_TYPE_GRAY || s.colour == PNG_COLOR_TYPE_RGB ||
         s.colour == PNG_COLOR_TYPE_PALETTE) &&
        r.Chance(40))
      s.numTrans = s.colour == PNG_COLOR_TYPE_PALETTE ? r.Int(1, s.numPalette) : 0;
    const int channels = s.colour == PNG_COLOR_TYPE_GRAY_ALPHA  ? 2
                         : s.colour == PNG_COLOR_TYPE_RGB       ? 3
                         : s.colour == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                                                                : 1;
    const size_t rowBytes = (size_t{static_cast<size_t>(s.w)} * channels * s.depth + 7) / 8;
    const std::string path = Path("random.png");
    WritePng(path, s, RandomBytes(r, rowBytes * s.h), r);
    ExpectQtsColours(path, "png seed " + std::to_string(seed));
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(compared_, 120);
}

TEST_F(ImageReaderTest, EightBitTiffOfEveryLayoutGivesQtsColours) {
  int qtDecoded = 0;
  for (uint32_t seed = 1; seed <= 120; ++seed) {
    Random r(seed);
    TiffSpec s;
    s.w = r.Int(1, 40), s.h = r.Int(1, 40);
    switch (r.Int(0, 8)) {
      case 0:  // bilevel
        s.bps = 1,
        s.photometric = r.Pick<uint16_t>({PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE});
        break;
      case 1:
      case 2:
        s.photometric = r.Pick<uint16_t>({PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE});
        break;
      case 3:
        s.photometric = PHOTOMETRIC_PALETTE;
        break;
      case 4:  // a palette of fewer bits: Qt's
        s.photometric = PHOTOMETRIC_PALETTE, s.bps = r.Pick<uint16_t>({2, 4});
        break;
      case 5:
      case 6:
        s.photometric = PHOTOMETRIC_RGB, s.spp = 3;
        break;
      case 7:  // a fourth sample: unspecified (dropped) or alpha (Qt's)
        s.photometric = PHOTOMETRIC_RGB, s.spp = 4;
        s.extra = r.Pick<uint16_t>(
            {EXTRASAMPLE_UNSPECIFIED, EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNASSALPHA});
        break;
      default:  // planes apart: Qt's
        s.photometric = PHOTOMETRIC_RGB, s.spp = 3, s.planar = PLANARCONFIG_SEPARATE;
    }
    s.compression = r.Pick<uint16_t>(
        {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS});
    // Qt refuses a tiled file whose tile holds more bytes than its whole
    // picture (as corrupt); such files are tested apart.
    if (s.planar == PLANARCONFIG_CONTIG && r.Chance(35)) {
      s.tile = r.Pick<uint32_t>({16, 32});
      s.w = std::max(s.w, s.tile), s.h = std::max(s.h, s.tile);
    }
    if (!s.tile && r.Chance(50)) s.rowsPerStrip = r.Int(1, 7);
    const size_t rowBytes = (size_t{s.w} * s.spp * s.bps + 7) / 8;
    const std::string path = Path("random.tif");
    WriteTiff(path, s, RandomBytes(r, rowBytes * s.h), r);
    qtDecoded += ImageReader::Open(path).Info().decoded_by_qt ? 1 : 0;
    ExpectQtsColours(path,
                     "tiff seed " + std::to_string(seed) + " photometric " +
                         std::to_string(s.photometric) + " bits " + std::to_string(s.bps) +
                         " samples " + std::to_string(s.spp) + " compression " +
                         std::to_string(s.compression) + " tile " + std::to_string(s.tile),
                     s.tile && s.photometric == PHOTOMETRIC_RGB);
    if (HasFatalFailure()) return;
  }
  // Both refuse the tiled layouts that go to Qt (palettes of 2 and 4 bits,
  // 8-bit alpha), which Qt 6.4 refuses as it does tiled RGB.
  EXPECT_EQ(compared_ + qtRefused_ + bothRefused_, 120);
  EXPECT_LT(bothRefused_, 20);
  std::printf("120 TIFF: %d alike, %d refused by Qt and read, %d refused by both, %d through Qt\n",
              compared_, qtRefused_, bothRefused_, qtDecoded);
  EXPECT_GT(qtDecoded, 0);
  EXPECT_LT(qtDecoded, 60);
}

TEST_F(ImageReaderTest, ReadsTiledTiffsThatQtRefuses) {
  Random r(2);
  TiffSpec s;  // a tile larger than the picture: Qt calls it corrupt
  s.w = 23, s.h = 3, s.tile = 16;
  const std::vector<uint8_t> grey = RandomBytes(r, 23 * 3);
  WriteTiff(Path("small.tif"), s, grey, r);
  QImage qt;
  EXPECT_FALSE(QtReadAsToday(Path("small.tif"), qt));
  EXPECT_EQ(ReadSamples<uint8_t>(ImageReader::Open(Path("small.tif"))), grey);
  // Tiled 8-bit RGB: Qt 6.4 with libtiff 4.5 refuses every one.
  s.w = 40, s.h = 33, s.spp = 3, s.photometric = PHOTOMETRIC_RGB;
  const std::vector<uint8_t> rgb = RandomBytes(r, 40 * 33 * 3);
  WriteTiff(Path("rgb.tif"), s, rgb, r);
  EXPECT_FALSE(QtReadAsToday(Path("rgb.tif"), qt));
  EXPECT_EQ(ReadSamples<uint8_t>(ImageReader::Open(Path("rgb.tif"))), rgb);
}

TEST_F(ImageReaderTest, EightBitPnmBinaryAndAsciiOfAnyMaxvalGivesQtsColours) {
  for (uint32_t seed = 1; seed <= 120; ++seed) {
    Random r(seed);
    const char type = static_cast<char>('1' + r.Int(0, 5));
    const int w = r.Int(1, 30), h = r.Int(1, 12);
    const bool bitmap = type == '1' || type == '4', ascii = type <= '3';
    const int channels = type == '3' || type == '6' ? 3 : 1;
    const int maxval = bitmap ? 1 : r.Chance(30) ? 255 : r.Int(1, 255);
    std::string file = std::string("P") + type + "\n# a comment\n" + std::to_string(w) + " " +
                       std::to_string(h) + "\n";
    if (!bitmap) file += std::to_string(maxval) + "\n";
    const int n = bitmap && !ascii ? (w + 7) / 8 * h : w * h * channels;
    for (int i = 0; i < n; ++i) {
      // Binary samples above maxval happen in real files; Qt scales them too.
      const int v =
          bitmap && !ascii ? r.Int(0, 255) : r.Int(0, r.Chance(5) && !ascii ? 255 : maxval);
      if (ascii)
        file += std::to_string(v) + (r.Chance(10) ? "\n" : " ");
      else
        file += static_cast<char>(v);
    }
    const std::string path = Path("random.pnm");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
    ExpectQtsColours(path, std::string("pnm P") + type + " seed " + std::to_string(seed));
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(compared_, 120);
}

// ---- Deep files: the samples written are the samples read.

std::vector<uint16_t> Ramp16(size_t n, int bits, uint32_t seed) {
  std::vector<uint16_t> v(n);
  Random r(seed);
  for (auto& s : v) s = static_cast<uint16_t>(r.Int(0, (1 << bits) - 1));
  return v;
}

std::vector<uint8_t> BigEndian(const std::vector<uint16_t>& v) {
  std::vector<uint8_t> b;
  for (uint16_t s : v)
    b.push_back(static_cast<uint8_t>(s >> 8)), b.push_back(static_cast<uint8_t>(s));
  return b;
}

std::vector<uint8_t> Native(const std::vector<uint16_t>& v) {
  std::vector<uint8_t> b(v.size() * 2);
  std::memcpy(b.data(), v.data(), b.size());
  return b;
}

TEST_F(ImageReaderTest, SixteenBitPngGivesItsSamplesItsSignificantBitsAndResolution) {
  Random r(3);
  for (const int colour : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                           PNG_COLOR_TYPE_RGB_ALPHA}) {
    PngSpec s;
    s.w = 23, s.h = 9, s.colour = colour, s.depth = 16, s.sbit = 12, s.dpi = 2400;
    s.interlace = colour == PNG_COLOR_TYPE_RGB;
    const int channels = colour == PNG_COLOR_TYPE_GRAY         ? 1
                         : colour == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : colour == PNG_COLOR_TYPE_RGB        ? 3
                                                               : 4;
    const auto samples = Ramp16(size_t{23} * 9 * channels, 12, colour);
    const std::string path = Path("deep.png");
    WritePng(path, s, BigEndian(samples), r);
    const ImageReader reader = ImageReader::Open(path);
    const ImageInfo& info = reader.Info();
    EXPECT_EQ(info.channels, channels);
    EXPECT_EQ(info.sample, SampleType::kUint16);
    EXPECT_EQ(info.significant_bits, 12);
    EXPECT_EQ(info.streamed, !s.interlace);
    EXPECT_NEAR(info.dpi_x, 2400, 0.05);
    EXPECT_EQ(ReadSamples<uint16_t>(reader), samples) << "colour type " << colour;
  }
}

TEST_F(ImageReaderTest, SixteenBitAndFloatTiffGiveTheirSamplesByStripsAndTiles) {
  Random r(5);
  for (const uint32_t tile : {0u, 16u}) {
    for (const int spp : {1, 3, 4}) {
      TiffSpec s;
      s.w = 37, s.h = 21, s.bps = 16, s.spp = static_cast<uint16_t>(spp), s.tile = tile,
      s.dpi = 1200;
      s.photometric = spp == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
      s.extra = spp == 4 ? EXTRASAMPLE_UNASSALPHA : 0;
      s.compression = tile ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW;
      const auto samples = Ramp16(size_t{37} * 21 * spp, 16, spp + tile);
      const std::string path = Path("deep.tif");
      WriteTiff(path, s, Native(samples), r);
      const ImageReader reader = ImageReader::Open(path);
      EXPECT_EQ(reader.Info().channels, spp);
      EXPECT_EQ(reader.Info().sample, SampleType::kUint16);
      EXPECT_NEAR(reader.Info().dpi_y, 1200, 1e-3);
      EXPECT_EQ(ReadSamples<uint16_t>(reader), samples) << spp << " samples, tile " << tile;
    }
  }
  // Float grey, NaN and infinities included: read as written, counted by the range.
  TiffSpec s;
  s.w = 19, s.h = 7, s.bps = 32, s.format = SAMPLEFORMAT_IEEEFP, s.tile = 0;
  std::vector<float> values(19 * 7);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) * 0.25f - 3.0f;
  values[5] = std::nanf(""), values[6] = INFINITY;
  std::vector<uint8_t> bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  const std::string path = Path("float.tif");
  WriteTiff(path, s, bytes, r);
  const ImageReader reader = ImageReader::Open(path);
  EXPECT_EQ(reader.Info().sample, SampleType::kFloat32);
  const std::vector<float> read = ReadSamples<float>(reader);
  EXPECT_EQ(std::memcmp(read.data(), values.data(), bytes.size()), 0);
  const SampleRange range = ScanRange(reader);
  EXPECT_EQ(range.non_finite, 2u);
  EXPECT_EQ(range.min, -3.0);
  EXPECT_EQ(range.max, (19 * 7 - 1) * 0.25 - 3.0);
}

TEST_F(ImageReaderTest, SixteenBitPnmGivesItsSamplesAndMaxval) {
  for (const char type : {'5', '6', '2'}) {
    const int channels = type == '6' ? 3 : 1;
    const auto samples = Ramp16(size_t{13} * 5 * channels, 12, type);
    std::string file = std::string("P") + type + "\n13 5\n4095\n";
    for (uint16_t v : samples) {
      if (type == '2')
        file += std::to_string(v) + " ";
      else
        file += static_cast<char>(v >> 8), file += static_cast<char>(v & 0xff);
    }
    const std::string path = Path("deep.pgm");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
    const ImageReader reader = ImageReader::Open(path);
    EXPECT_EQ(reader.Info().max_value, 4095);
    EXPECT_EQ(reader.Info().significant_bits, 12);
    EXPECT_EQ(ReadSamples<uint16_t>(reader), samples) << type;
    const SampleRange range = ScanRange(reader);
    EXPECT_EQ(range.min, *std::min_element(samples.begin(), samples.end()));
    EXPECT_EQ(range.max, *std::max_element(samples.begin(), samples.end()));
  }
}

TEST_F(ImageReaderTest, OtherFormatsAreDecodedWholeByQtAndSaySo) {
  QImage picture(31, 17, QImage::Format_RGB32);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 31; ++x) picture.setPixel(x, y, qRgb(x * 8, y * 15, (x ^ y) * 7));
  for (const char* format : {"JPG", "XPM", "ICO", "WEBP"}) {
    const std::string path = Path(std::string("other.") + format);
    ASSERT_TRUE(picture.save(QString::fromStdString(path), format));
    const ImageReader reader = ImageReader::Open(path);
    EXPECT_TRUE(reader.Info().decoded_by_qt) << format;
    EXPECT_FALSE(reader.Info().streamed) << format;
    EXPECT_EQ(reader.Info().width, 31);
    EXPECT_NE(reader.Info().note.find("Qt"), std::string::npos);
    ExpectQtsColours(path, format);
    // The same bytes from memory.
    const std::string bytes = ReadAll(path);
    EXPECT_EQ(ReadRgb32(ImageReader::OfBytes(bytes, "memory")), ReadRgb32(reader)) << format;
  }
  std::ofstream(Path("text.bmp")) << "plain text, no picture";
  EXPECT_EQ(
      ErrorOf(Path("text.bmp")).rfind("Не удаётся прочитать изображение " + Path("text.bmp"), 0),
      0u);
}

// ---- Bad files: refused, the file and the cause named.

TEST_F(ImageReaderTest, BadDeepFilesAreRefusedWithTheFileAndTheCause) {
  Random r(9);
  TiffSpec planar;
  planar.w = 8, planar.h = 4, planar.bps = 16, planar.spp = 3, planar.photometric = PHOTOMETRIC_RGB;
  planar.planar = PLANARCONFIG_SEPARATE;
  WriteTiff(Path("planar.tif"), planar, RandomBytes(r, 8 * 4 * 6), r);
  EXPECT_EQ(ErrorOf(Path("planar.tif")),
            "Не удаётся прочитать изображение " + Path("planar.tif") +
                ": планарная раскладка (PlanarConfiguration=2) не поддерживается");

  TiffSpec twelve;
  twelve.w = 8, twelve.h = 4, twelve.bps = 12;
  WriteTiff(Path("twelve.tif"), twelve, RandomBytes(r, 12 * 4), r);
  EXPECT_EQ(ErrorOf(Path("twelve.tif")), "Не удаётся прочитать изображение " + Path("twelve.tif") +
                                             ": 12 бит на отсчёт не поддерживается");

  // A compression this libtiff lacks (JPEG 2000's number).
  TiffSpec plain;
  plain.w = 8, plain.h = 4, plain.bps = 16;
  WriteTiff(Path("codec.tif"), plain, RandomBytes(r, 8 * 4 * 2), r);
  std::string bytes = ReadAll(Path("codec.tif"));
  uint32_t ifd = 0;
  std::memcpy(&ifd, bytes.data() + 4, 4);
  uint16_t entries = 0;
  std::memcpy(&entries, bytes.data() + ifd, 2);
  for (uint16_t i = 0; i < entries; ++i) {
    char* entry = bytes.data() + ifd + 2 + 12 * i;
    uint16_t tag = 0;
    std::memcpy(&tag, entry, 2);
    if (tag == TIFFTAG_COMPRESSION) {
      const uint16_t jpeg2000 = 34712;
      std::memcpy(entry + 8, &jpeg2000, 2);
    }
  }
  std::ofstream(Path("codec.tif"), std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_NE(ErrorOf(Path("codec.tif")).find("сжатие TIFF 34712"), std::string::npos)
      << ErrorOf(Path("codec.tif"));

  // Truncated 16-bit files of each format.
  PngSpec png;
  png.w = 40, png.h = 30, png.depth = 16;
  WritePng(Path("cut.png"), png, RandomBytes(r, 40 * 30 * 2), r);
  TiffSpec tif;
  tif.w = 40, tif.h = 30, tif.bps = 16;
  WriteTiff(Path("cut.tif"), tif, RandomBytes(r, 40 * 30 * 2), r);
  std::ofstream(Path("cut.pgm"), std::ios::binary) << "P5 40 30 65535\n"
                                                   << std::string(40 * 30, 'x');
  for (const char* name : {"cut.png", "cut.tif", "cut.pgm"}) {
    const std::string whole = ReadAll(Path(name));
    std::ofstream(Path(name), std::ios::binary | std::ios::trunc)
        << whole.substr(0, whole.size() * 2 / 3);
    const std::string error = ErrorOf(Path(name));
    EXPECT_EQ(error.rfind("Не удаётся прочитать изображение " + Path(name) + ": ", 0), 0u) << error;
  }
  EXPECT_EQ(ErrorOf(Path("missing.png")), "Не удаётся открыть файл " + Path("missing.png"));
}

// ---- What a run keeps, and the second pass.

TEST_F(ImageReaderTest, TheBoxKeeperHoldsOnlyTheRowsOfItsBoxesAtTheFilesDepth) {
  Random r(11);
  TiffSpec s;
  s.w = 50, s.h = 40, s.bps = 16, s.tile = 16;
  const auto samples = Ramp16(50 * 40, 16, 4);
  WriteTiff(Path("boxes.tif"), s, Native(samples), r);
  const ImageReader reader = ImageReader::Open(Path("boxes.tif"));
  BoxRows keeper(reader.Info(), {{3, 5, 10, 9}, {45, 30, 60, 45}, {0, 100, 5, 120}});
  reader.ReadRows([&](const RowBand& band) { keeper.Take(band); });
  EXPECT_EQ(keeper.RowsSeen(), 40);
  EXPECT_EQ(keeper.RowsKept(), 4 + 10);
  EXPECT_TRUE(keeper.Box(2).Empty());
  EXPECT_EQ(BoxBytes(reader.Info(), {{3, 5, 10, 9}, {45, 30, 60, 45}}), (7u * 4 + 5u * 10) * 2);
  for (const size_t k : {0u, 1u}) {
    const PixelBox& b = keeper.Box(k);
    for (int64_t y = b.y0; y < b.y1; ++y)
      for (int64_t x = b.x0; x < b.x1; ++x) {
        uint16_t v = 0;
        std::memcpy(&v, keeper.Row(k, y) + (x - b.x0) * 2, 2);
        ASSERT_EQ(v, samples[y * 50 + x]);
      }
  }
  // The second pass reads the file again: a file changed meanwhile is noticed.
  WriteTiff(Path("boxes.tif"), TiffSpec{}, {0}, r);
  EXPECT_THROW(reader.ReadRows([](const RowBand&) {}), QovaError);
}

}  // namespace
}  // namespace qova
