// The streamed writers: every format and depth reads back sample for sample
// with its resolution, Qt reads the 8-bit files as written, and a failed or
// unfinished write leaves the old file as it was and no temporary file.
#include "image/image_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/qova_error.h"
#include "image/image_reader.h"
#include "image/rgb32.h"
#include "tests/support/qt_image_read.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> RandomSamples(const WriteSpec& s, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(s.width * s.height * s.channels) *
                         BytesPerSample(s.sample));
  if (s.sample == SampleType::kFloat32) {
    for (size_t i = 0; i < v.size() / 4; ++i) {
      const float f = std::uniform_real_distribution<float>(-2.0f, 70000.0f)(rng);
      std::memcpy(&v[4 * i], &f, 4);
    }
  } else {
    for (auto& b : v) b = static_cast<uint8_t>(rng());
  }
  return v;
}

std::vector<uint8_t> ReadBack(const ImageReader& reader) {
  const ImageInfo& info = reader.Info();
  std::vector<uint8_t> all(info.RowBytes() * static_cast<size_t>(info.height));
  reader.ReadRows([&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i)
      std::memcpy(&all[static_cast<size_t>(band.y + i) * info.RowBytes()], band.Row(i),
                  info.RowBytes());
  });
  return all;
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

class ImageWriterTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (folder_.dir / name).string(); }
  TempFolder folder_{"qova-image-writer"};
};

TEST_F(ImageWriterTest, EveryFormatAndDepthReadsBackWithItsResolution) {
  struct Case {
    WriteFormat format;
    int channels;
    SampleType sample;
    const char* name;
  };
  const Case cases[] = {
      {WriteFormat::kPng, 1, SampleType::kUint8, "g8.png"},
      {WriteFormat::kPng, 2, SampleType::kUint16, "ga16.png"},
      {WriteFormat::kPng, 3, SampleType::kUint16, "rgb16.png"},
      {WriteFormat::kPng, 4, SampleType::kUint8, "rgba8.png"},
      {WriteFormat::kTiff, 1, SampleType::kUint16, "g16.tif"},
      {WriteFormat::kTiff, 3, SampleType::kUint8, "rgb8.tif"},
      {WriteFormat::kTiff, 4, SampleType::kUint16, "rgba16.tif"},
      {WriteFormat::kTiff, 1, SampleType::kFloat32, "f32.tif"},
      {WriteFormat::kPnm, 1, SampleType::kUint16, "g16.pgm"},
      {WriteFormat::kPnm, 3, SampleType::kUint8, "rgb8.ppm"},
      {WriteFormat::kBmp, 3, SampleType::kUint8, "rgb.bmp"},
      {WriteFormat::kBmp, 1, SampleType::kUint8, "grey.bmp"},
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    for (const bool compress : {false, true}) {
      if (compress && c.format != WriteFormat::kTiff) continue;
      WriteSpec spec{c.format, 37, 23, c.channels, c.sample, 600, 300, compress};
      const std::vector<uint8_t> samples = RandomSamples(spec, seed++);
      {
        ImageWriter writer(Path(c.name), spec);
        const size_t row = samples.size() / 23;
        writer.WriteRows(samples.data(), 10, row);  // in two bands
        writer.WriteRows(samples.data() + 10 * row, 13, row);
        writer.Finish();
      }
      const ImageReader reader = ImageReader::Open(Path(c.name));
      const ImageInfo& info = reader.Info();
      EXPECT_EQ(info.channels, c.channels) << c.name;
      EXPECT_EQ(info.sample, c.sample) << c.name;
      EXPECT_EQ(ReadBack(reader), samples) << c.name << (compress ? " compressed" : "");
      if (c.format != WriteFormat::kPnm) {
        EXPECT_NEAR(info.dpi_x, 600, 0.05) << c.name;
        EXPECT_NEAR(info.dpi_y, 300, 0.05) << c.name;
      }
      if (c.sample == SampleType::kUint8 && c.channels != 4 && c.channels != 2) {
        // Qt reads the 8-bit files as written.
        QImage qt;
        ASSERT_TRUE(QtReadAsToday(Path(c.name), qt)) << c.name;
        const QImage ours = ReadRgb32(reader);
        EXPECT_EQ(qt, ours) << c.name;
      }
    }
  }
  EXPECT_EQ(Entries(folder_.dir).size(), std::size(cases));  // no temporary file left
}

TEST_F(ImageWriterTest, ABottomUpBitmapIsCopiedIntoOtherFormatsAndBandsArePlaced) {
  WriteSpec spec{WriteFormat::kBmp, 19, 11, 3, SampleType::kUint8};
  const std::vector<uint8_t> samples = RandomSamples(spec, 42);
  {
    ImageWriter writer(Path("src.bmp"), spec);
    for (int64_t y = 10; y >= 0; --y)  // bottom-up, as a bitmap stores them
      writer.WriteBand(RowBand{y, 1, samples.data() + y * 57, 57});
    writer.Finish();
  }
  const ImageReader bmp = ImageReader::Open(Path("src.bmp"));
  EXPECT_EQ(ReadBack(bmp), samples);
  for (const auto format : {WriteFormat::kPng, WriteFormat::kTiff, WriteFormat::kPnm}) {
    CopyImage(bmp, Path("copy"), format);
    EXPECT_EQ(ReadBack(ImageReader::Open(Path("copy"))), samples);
  }
  ImageWriter png(Path("out.png"), WriteSpec{WriteFormat::kPng, 19, 11, 3, SampleType::kUint8});
  EXPECT_THROW(png.WriteBand(RowBand{5, 1, samples.data(), 57}), QovaError);
}

TEST_F(ImageWriterTest, FailuresLeaveTheOldFileAndNoTemporaryFile) {
  const std::string target = Path("plate.png");
  std::ofstream(target) << "old";
  WriteSpec spec{WriteFormat::kPng, 8, 8, 1, SampleType::kUint8};
  const std::vector<uint8_t> samples = RandomSamples(spec, 3);
  {
    ImageWriter writer(target, spec);
    writer.WriteRows(samples.data(), 4, 8);
    EXPECT_THROW(writer.Finish(), QovaError);  // four rows short
  }
  {
    ImageWriter writer(target, spec);
    writer.WriteRows(samples.data(), 8, 8);
    EXPECT_THROW(writer.WriteRows(samples.data(), 1, 8), QovaError);  // one too many
  }                                                                   // destroyed without Finish
  std::ifstream in(target);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "old");
  EXPECT_EQ(Entries(folder_.dir), std::vector<std::string>{"plate.png"});
  EXPECT_THROW(ImageWriter(Path("no/such/folder/x.png"), spec), QovaError);
  EXPECT_THROW(
      ImageWriter(Path("x.bmp"), WriteSpec{WriteFormat::kBmp, 8, 8, 1, SampleType::kUint16}),
      QovaError);
  EXPECT_THROW(
      ImageWriter(Path("x.png"), WriteSpec{WriteFormat::kPng, 8, 8, 1, SampleType::kFloat32}),
      QovaError);
}

}  // namespace
}  // namespace qova
