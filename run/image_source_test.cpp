// Every way a run can be given an 8-bit image (a file streamed, a picture in
// memory, strided samples) gives the same run, to the last bit; a file is
// read again where the run reads its image again.
#include "run/image_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "platform/image_file.h"
#include "run/detect_crossings.h"
#include "run/run_messages.h"
#include "synth/synthetic_plate.h"
#include "tests/support/recording_observer.h"
#include "tests/support/regions.h"
#include "tests/support/temp_folder.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

Plate NoisyPlate() {
  PlateParams p;
  p.width = 420;
  p.height = 330;
  p.pitch = 50;
  p.angleDeg = 1.3;
  p.originX = 0.3;
  p.noise = 6;
  p.seed = 5;
  return RenderPlate(p);
}

// Two regions of the plate, or the first alone.
RegionList TwoRegions(const Plate& plate, bool both = true) {
  RegionList regions;
  for (const auto& corners : {RegionInCells(plate, 0, 0, 3, 2), RegionInCells(plate, 3, 2, 3, 3)}) {
    if (!both && regions.Length() == 1) break;
    std::vector<QPointF> whole;
    for (const QPointF& c : corners) whole.emplace_back(std::round(c.x()), std::round(c.y()));
    regions.Append(ClickedRegion(whole));
  }
  return regions;
}

// The grey rows of an RGB32 grey picture, as 8-bit samples.
std::vector<uint8_t> GreySamples(const QImage& image) {
  std::vector<uint8_t> grey;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      grey.push_back(static_cast<uint8_t>(qRed(image.pixel(x, y))));
  return grey;
}

void WriteGrey(const std::string& path, WriteFormat format, const QImage& image) {
  WriteSpec spec;
  spec.format = format;
  spec.width = image.width();
  spec.height = image.height();
  spec.channels = 1;
  ImageWriter writer(path, spec);
  const std::vector<uint8_t> grey = GreySamples(image);
  writer.WriteRows(grey.data(), image.height(), static_cast<size_t>(image.width()));
  writer.Finish();
}

void ExpectSameRun(const DetectionResult& a, const DetectionResult& b) {
  ASSERT_EQ(a.status, b.status) << FailureCause(a) << " / " << FailureCause(b);
  EXPECT_EQ(a.statisticsLines, b.statisticsLines);
  ASSERT_EQ(a.FoundPoints.Count(), b.FoundPoints.Count());
  for (int32_t i = 0; i < a.FoundPoints.Count(); ++i) {
    EXPECT_EQ(a.FoundPoints.Get(i)->x, b.FoundPoints.Get(i)->x) << i;
    EXPECT_EQ(a.FoundPoints.Get(i)->y, b.FoundPoints.Get(i)->y) << i;
    EXPECT_EQ(a.details[size_t(i)].standardError, b.details[size_t(i)].standardError) << i;
  }
}

TEST(ImageSource, EveryWayOfGivingAnEightBitImageRunsAlike) {
  const Plate plate = NoisyPlate();
  const RegionList regions = TwoRegions(plate);
  TempFolder folder("qova-source");
  const std::string bmp = (folder.dir / "plate.bmp").string();
  ASSERT_TRUE(plate.image.save(QString::fromStdString(bmp), "BMP"));
  const std::string png = (folder.dir / "plate.png").string();
  const std::string pgm = (folder.dir / "plate.pgm").string();
  const std::string tif = (folder.dir / "plate.tif").string();
  WriteGrey(png, WriteFormat::kPng, plate.image);
  WriteGrey(pgm, WriteFormat::kPnm, plate.image);
  WriteGrey(tif, WriteFormat::kTiff, plate.image);
  const std::string palette = (folder.dir / "palette.bmp").string();
  ASSERT_TRUE(plate.image.convertToFormat(QImage::Format_Indexed8)
                  .save(QString::fromStdString(palette), "BMP"));

  for (const bool precise : {false, true}) {
    SCOPED_TRACE(precise ? "precise" : "detection");
    DetectionParams params;
    params.PreciseRefinement = precise;
    RecordingObserver observer;
    const DetectionResult reference = DetectCrossings(plate.image, regions, params, observer);
    ASSERT_TRUE(reference.Completed());
    ASSERT_EQ(reference.FoundPoints.Count(), 15);  // 3 × 2 and 3 × 3 crossings

    for (const std::string& file : {bmp, png, pgm, tif, palette}) {
      SCOPED_TRACE(file);
      const auto source = OpenImageSource(file);
      EXPECT_TRUE(source->Info().streamed);
      // A palette file has its own colours: its reference is Qt's reading.
      const QImage qt = LoadImageFile(file);
      const DetectionResult expected = DetectCrossings(qt, regions, params, observer);
      ExpectSameRun(DetectCrossings(*source, regions, params, observer), expected);
      if (file != palette) ExpectSameRun(expected, reference);
    }

    // The grey samples upside down and every other column, by strides.
    const std::vector<uint8_t> grey = GreySamples(plate.image);
    std::vector<uint8_t> spread(grey.size() * 2);
    const int64_t w = plate.image.width(), h = plate.image.height();
    for (int64_t y = 0; y < h; ++y)
      for (int64_t x = 0; x < w; ++x)
        spread[size_t(((h - 1 - y) * w + x) * 2)] = grey[size_t(y * w + x)];
    ImageInfo info;
    info.width = w;
    info.height = h;
    info.channels = 1;
    StridedPixels strided{spread.data() + (h - 1) * w * 2, -2 * w, 2, 0};
    const MemoryImageSource memory(info, strided, "array");
    ExpectSameRun(DetectCrossings(memory, regions, params, observer), reference);
  }
}

// Counts the passes over its file.
class CountingSource : public FileImageSource {
 public:
  using FileImageSource::FileImageSource;
  void ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const override {
    ++passes;
    FileImageSource::ReadRows(y0, y1, sink);
  }
  mutable int passes = 0;
};

// Replaces the image file when the run reads its image again.
class ReplacingObserver : public RecordingObserver {
 public:
  std::string file;
  QImage replacement;
  void RefinementStarts() override {
    RecordingObserver::RefinementStarts();
    if (!replacement.isNull()) {
      ASSERT_TRUE(replacement.save(QString::fromStdString(file), "BMP"));
    }
  }
};

TEST(ImageSource, AFileIsReadAgainWhereALaterStageReadsTheImage) {
  const Plate plate = NoisyPlate();
  TempFolder folder("qova-source");
  const std::string bmp = (folder.dir / "plate.bmp").string();
  ASSERT_TRUE(plate.image.save(QString::fromStdString(bmp), "BMP"));
  const RegionList two = TwoRegions(plate);
  const RegionList one = TwoRegions(plate, false);

  struct Case {
    const RegionList& regions;
    bool precise;
    int passes;
  };
  // Region 1 reads the image; after its crossings are found, the precise
  // stage and region 2 read it again, once.
  for (const Case& c :
       {Case{one, false, 1}, Case{one, true, 2}, Case{two, false, 2}, Case{two, true, 3}}) {
    DetectionParams params;
    params.PreciseRefinement = c.precise;
    const CountingSource source(bmp);
    RecordingObserver observer;
    EXPECT_TRUE(DetectCrossings(source, c.regions, params, observer).Completed());
    EXPECT_EQ(source.passes, c.passes) << c.regions.Length() << " regions, precise " << c.precise;
  }

  // A file of another size by then ends the run with the reader's reason.
  ReplacingObserver observer;
  observer.file = bmp;
  observer.replacement = plate.image.copy(0, 0, 100, 100);
  const CountingSource source(bmp);
  const DetectionResult changed = DetectCrossings(source, two, DetectionParams(), observer);
  EXPECT_EQ(changed.failure, RunFailure::StageError);
  EXPECT_NE(changed.error.find("изменился"), std::string::npos) << changed.error;
}

TEST(ImageSource, AFileNoReaderReadsIsRefusedWithQtsReason) {
  TempFolder folder("qova-source");
  const std::string bad = (folder.dir / "bad.bmp").string();
  std::ofstream(bad, std::ios::binary) << "BMnonsense";
  std::string qt, ours;
  try {
    (void)LoadImageFile(bad);
  } catch (const std::exception& e) {
    qt = e.what();
  }
  try {
    (void)OpenImageSource(bad);
  } catch (const std::exception& e) {
    ours = e.what();
  }
  EXPECT_FALSE(qt.empty());
  EXPECT_EQ(ours, qt);
}

}  // namespace
}  // namespace qova
