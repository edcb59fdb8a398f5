// Deep images through the run, as qova-detect reads them: the same plate
// stored in 8 bits, in 16 bits at full range and as 12-bit values in a 16-bit
// file, each refined by the precise stage and scored against its truth; a
// low-contrast plate at 12 bits against the same plate rounded to 8 bits;
// and the deep images a run refuses before it starts.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "run/detect_crossings.h"
#include "run/image_source.h"
#include "run/run_messages.h"
#include "synth/synthetic_plate.h"
#include "tests/support/recording_observer.h"
#include "tests/support/regions.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

// The issue's plate: 800 × 600, 80 crossings in the region, a little noise,
// grey levels given at 8 bits and scaled to the file's levels.
PlateParams IssuePlate(int levels) {
  PlateParams p;
  p.width = 800;
  p.height = 600;
  p.pitch = 60;
  p.angleDeg = 1.5;
  p.originX = 0.37;
  p.originY = -0.21;
  p.levels = levels;
  const double scale = levels / 255.0;
  p.background = static_cast<int>(std::lround(230 * scale));
  p.ink = static_cast<int>(std::lround(30 * scale));
  p.noise = 0.5 * scale;
  p.seed = 3;
  return p;
}

// The precise stage's points on the file, scored by the RMS distance of
// each to the nearest true crossing; none when the run fails.
struct Score {
  std::optional<double> rms;
  int points = 0;
};

Score PreciseRms(const std::string& file, const Plate& plate, const std::vector<QPointF>& corners) {
  const FileImageSource source(file);
  DetectionParams params;
  params.PreciseRefinement = true;
  RecordingObserver observer;
  PreciseParams precise;
  precise.threads = 2;
  const DetectionResult r =
      DetectCrossings(source, Regions(ClickedRegion(corners)), params, observer, precise);
  Score s;
  if (!r.Completed() || r.FoundPoints.Count() == 0) return s;
  double sum = 0;
  for (int32_t i = 0; i < r.FoundPoints.Count(); ++i) {
    const VT_Point& p = *r.FoundPoints.Get(i);
    double best = std::numeric_limits<double>::infinity();
    for (const auto& line : plate.crossings)
      for (const QPointF& t : line)
        best = std::min(best, (p.x - t.x()) * (p.x - t.x()) + (p.y - t.y()) * (p.y - t.y()));
    sum += best;
  }
  s.points = r.FoundPoints.Count();
  s.rms = std::sqrt(sum / s.points);
  return s;
}

std::string Text(const Score& s) {
  if (!s.rms) return "cannot be measured";
  char text[64];
  std::snprintf(text, sizeof text, "%.6f px (%d points)", *s.rms, s.points);
  return text;
}

TEST(FullDepth, MoreLevelsMeasureBetterAndTwelveBitsInSixteenMeasureAsFullRange) {
  TempFolder folder("qova-depth");
  const std::string bmp = (folder.dir / "plate8.bmp").string();
  const std::string full = (folder.dir / "plate16.tif").string();
  const std::string twelve = (folder.dir / "plate12.tif").string();
  const Plate plate = WritePlate(IssuePlate(255), bmp, {WriteFormat::kBmp, 3, SampleType::kUint8});
  WritePlate(IssuePlate(65535), full, {WriteFormat::kTiff, 1, SampleType::kUint16});
  WritePlate(IssuePlate(4095), twelve, {WriteFormat::kTiff, 1, SampleType::kUint16});
  std::vector<QPointF> corners = RegionInCells(plate, 1, 0, 10, 8);
  ASSERT_EQ(CrossingsInside(plate, corners).size(), 80u);

  const Score s8 = PreciseRms(bmp, plate, corners);
  const Score s16 = PreciseRms(full, plate, corners);
  const Score s12 = PreciseRms(twelve, plate, corners);
  std::printf("| same plate stored as | RMS to the truth |\n|---|---|\n");
  std::printf("| 8-bit BMP | %s |\n", Text(s8).c_str());
  std::printf("| 16-bit TIFF, full range | %s |\n", Text(s16).c_str());
  std::printf("| 16-bit TIFF holding 12-bit values | %s |\n", Text(s12).c_str());
  ASSERT_TRUE(s8.rms && s16.rms && s12.rms);
  EXPECT_EQ(s8.points, 80);
  EXPECT_EQ(s16.points, 80);
  EXPECT_EQ(s12.points, 80);
  EXPECT_LE(*s16.rms, *s8.rms);
  EXPECT_LE(std::fabs(*s12.rms - *s16.rms), 0.1 * *s16.rms);
}

TEST(FullDepth, ALowContrastPlateMeasuresAtTwelveBitsWhatEightBitsLose) {
  TempFolder folder("qova-depth");
  PlateParams p = IssuePlate(4095);
  p.background = 2000;
  p.ink = 1960;  // lines 40 levels of 4095 deep
  p.noise = 2;
  const std::string deep = (folder.dir / "low16.tif").string();
  const std::string rounded = (folder.dir / "low8.tif").string();
  const Plate plate = WritePlate(p, deep, {WriteFormat::kTiff, 1, SampleType::kUint16});
  WritePlate(p, rounded, {WriteFormat::kTiff, 1, SampleType::kUint8});
  const std::vector<QPointF> corners = RegionInCells(plate, 1, 0, 10, 8);
  const Score s16 = PreciseRms(deep, plate, corners);
  const Score s8 = PreciseRms(rounded, plate, corners);
  std::printf("| low contrast, 16-bit | %s |\n| the same rounded to 8 bits | %s |\n",
              Text(s16).c_str(), Text(s8).c_str());
  ASSERT_TRUE(s16.rms);
  EXPECT_EQ(s16.points, 80);
  if (s8.rms) {
    EXPECT_LE(2 * *s16.rms, *s8.rms);
  }
}

// A 16-bit TIFF of a layout the stream reader does not read: 8 × 4 pixels.
void WriteOddTiff(const std::string& path, uint16_t bits, uint16_t samples, uint16_t planar,
                  uint16_t compression) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 8);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 4);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
  std::vector<uint8_t> row(64, 0x5a);
  for (uint16_t plane = 0; plane < (planar == PLANARCONFIG_SEPARATE ? samples : 1); ++plane)
    for (uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(t, row.data(), y, plane);
  TIFFClose(t);
  if (compression == COMPRESSION_NONE) return;
  // A codec this libtiff lacks, written into the finished directory.
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  uint32_t ifd = 0;
  uint16_t entries = 0;
  std::memcpy(&ifd, bytes.data() + 4, 4);
  std::memcpy(&entries, bytes.data() + ifd, 2);
  for (uint16_t i = 0; i < entries; ++i) {
    char* entry = bytes.data() + ifd + 2 + 12 * i;
    uint16_t tag = 0;
    std::memcpy(&tag, entry, 2);
    if (tag == TIFFTAG_COMPRESSION) std::memcpy(entry + 8, &compression, 2);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A run refuses a deep image it cannot measure before any stage runs: the
// reader's reason, naming the file.
TEST(FullDepth, DeepImagesThatCannotBeMeasuredAreRefusedBeforeTheRun) {
  TempFolder folder("qova-depth");
  const Plate plate = WritePlate(IssuePlate(4095), (folder.dir / "plate.png").string(),
                                 {WriteFormat::kPng, 1, SampleType::kUint16});
  WritePlate(IssuePlate(4095), (folder.dir / "plate.pgm").string(),
             {WriteFormat::kPnm, 1, SampleType::kUint16});
  const std::vector<QPointF> corners = RegionInCells(plate, 1, 0, 10, 8);

  // Cut short inside their pixels.
  std::vector<std::pair<std::string, std::string>> refused;
  for (const char* name : {"plate.png", "plate.pgm"}) {
    const fs::path whole = folder.dir / name, cut = folder.dir / ("cut-" + std::string(name));
    fs::copy_file(whole, cut);
    fs::resize_file(cut, fs::file_size(whole) / 2);
    refused.emplace_back(cut.string(), name == std::string("plate.png") ? "PNG" : "короче");
  }
  // Float samples that are all NaN, and one infinity among finite ones.
  auto writeFloat = [&](const std::string& path, float fill, float odd) {
    WriteSpec spec;
    spec.format = WriteFormat::kTiff;
    spec.width = 64;
    spec.height = 48;
    spec.sample = SampleType::kFloat32;
    std::vector<float> samples(64 * 48, fill);
    samples[100] = odd;
    ImageWriter writer(path, spec);
    writer.WriteRows(reinterpret_cast<const uint8_t*>(samples.data()), 48, 64 * sizeof(float));
    writer.Finish();
  };
  const std::string nan = (folder.dir / "nan.tif").string();
  const std::string inf = (folder.dir / "inf.tif").string();
  writeFloat(nan, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN());
  writeFloat(inf, 0.5f, std::numeric_limits<float>::infinity());
  refused.emplace_back(nan, "все NaN");
  refused.emplace_back(inf, "(NaN или бесконечность): 1");

  for (const auto& [file, says] : refused) {
    SCOPED_TRACE(file);
    // Refused when it is opened (a header that promises more than the file
    // holds), or by the one pass before the run.
    std::unique_ptr<ImageSource> source;
    std::string refusal;
    try {
      source = OpenImageSource(file);
      CheckBeforeRun(*source);
    } catch (const std::exception& e) {
      refusal = e.what();
    }
    EXPECT_EQ(refusal.rfind("Не удаётся прочитать изображение " + file + ": ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find(says), std::string::npos) << refusal;
    if (!source) continue;
    // The run itself refuses it the same way, before its first stage.
    RecordingObserver observer;
    const DetectionResult r =
        DetectCrossings(*source, Regions(ClickedRegion(corners)), DetectionParams(), observer);
    EXPECT_EQ(r.failure, RunFailure::StageError);
    EXPECT_EQ(r.error, refusal);
    EXPECT_TRUE(r.regions.empty());
  }

  // TIFF layouts the reader does not read are refused with its reason, not
  // read through Qt's top bytes.
  const std::string planar = (folder.dir / "planar.tif").string();
  const std::string twelve = (folder.dir / "twelve.tif").string();
  const std::string codec = (folder.dir / "codec.tif").string();
  WriteOddTiff(planar, 16, 3, PLANARCONFIG_SEPARATE, COMPRESSION_NONE);
  WriteOddTiff(twelve, 12, 1, PLANARCONFIG_CONTIG, COMPRESSION_NONE);
  WriteOddTiff(codec, 16, 1, PLANARCONFIG_CONTIG, 34712);  // JPEG 2000's number
  for (const auto& [file, says] :
       {std::pair{planar, "планарная раскладка"}, std::pair{twelve, "12 бит на отсчёт"},
        std::pair{codec, "сжатие TIFF 34712"}}) {
    std::string refusal;
    try {
      (void)OpenImageSource(file);
    } catch (const std::exception& e) {
      refusal = e.what();
    }
    EXPECT_EQ(refusal.rfind("Не удаётся прочитать изображение " + file + ": ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find(says), std::string::npos) << refusal;
  }
}

}  // namespace
}  // namespace qova
