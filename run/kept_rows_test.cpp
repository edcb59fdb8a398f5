// A run keeps only what its regions read: on a plate with one region in a
// corner the source is asked for that corner's rows alone, and the memory
// the run allocates follows the region, not the image. Counted by a source
// that counts the rows it hands out and by this program's own operator new.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "run/detect_crossings.h"
#include "run/image_source.h"
#include "run/run_memory.h"
#include "run/run_messages.h"
#include "synth/synthetic_plate.h"
#include "tests/support/recording_observer.h"
#include "tests/support/regions.h"
#include "tests/support/temp_folder.h"

// ---- The heap this program uses: live bytes and their peak ----------------

namespace {
std::atomic<int64_t> liveBytes{0}, peakBytes{0};

void* Counted(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  const int64_t now = liveBytes += static_cast<int64_t>(malloc_usable_size(p));
  for (int64_t peak = peakBytes.load();
       now > peak && !peakBytes.compare_exchange_weak(peak, now);) {
  }
  return p;
}
void Uncounted(void* p) {
  if (p == nullptr) return;
  liveBytes -= static_cast<int64_t>(malloc_usable_size(p));
  std::free(p);
}
}  // namespace

void* operator new(size_t n) { return Counted(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return Counted(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Uncounted(p); }
void* operator new[](size_t n) { return Counted(n); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }

namespace qova {
namespace {

// Hands out only the rows asked for, and counts them.
class CountingSource : public MemoryImageSource {
 public:
  using MemoryImageSource::MemoryImageSource;
  void ReadRows(int64_t y0, int64_t y1, const RowSink& sink) const override {
    MemoryImageSource::ReadRows(y0, y1, [&](const RowBand& band) {
      rows += band.rows;
      last = std::max(last, band.y + band.rows - 1);
      sink(band);
    });
  }
  mutable int64_t rows = 0, last = -1;
};

struct Plate16 {
  Plate plate;
  std::vector<uint16_t> samples;  // grey, 12-bit values
};

TEST(KeptRows, ARunKeepsOnlyTheRowsAndMemoryOfItsRegion) {
  PlateParams p;
  p.width = 2400;
  p.height = 2000;
  p.pitch = 60;
  p.angleDeg = 0.8;
  p.noise = 3;
  p.levels = 4095;
  p.background = 3600;
  p.ink = 500;
  const Plate plate = RenderPlate(p);  // the 8-bit picture, for its grid
  // The 12-bit plate itself, as an array of 16-bit samples.
  TempFolder folder("qova-kept");
  const std::string tif = (folder.dir / "plate.tif").string();
  WritePlate(p, tif, {WriteFormat::kTiff, 1, SampleType::kUint16});
  const FileImageSource file(tif);
  std::vector<uint16_t> samples(size_t(p.width) * size_t(p.height));
  file.ReadRows(0, p.height, [&](const RowBand& band) {
    for (int64_t i = 0; i < band.rows; ++i)
      std::copy_n(reinterpret_cast<const uint16_t*>(band.Row(i)), p.width,
                  samples.data() + (band.y + i) * p.width);
  });
  ImageInfo info;
  info.width = p.width, info.height = p.height, info.channels = 1;
  info.sample = SampleType::kUint16;
  const StridedPixels pixels{reinterpret_cast<const uint8_t*>(samples.data()), 2 * p.width, 2, 0};

  // One region of 3 × 3 cells in the top-left corner: rows 0 … ~230.
  std::vector<QPointF> corners = RegionInCells(plate, 0, 0, 3, 3);
  const RegionList regions = Regions(ClickedRegion(corners));
  double bottom = 0, side = 0;
  for (const QPointF& c : corners) bottom = std::max(bottom, c.y()), side = std::max(side, c.x());
  DetectionParams params;
  params.PreciseRefinement = true;
  PreciseParams precise;
  precise.threads = 1;

  const CountingSource source(info, pixels, "plate");
  (void)source.Range();  // the range's pass over every row comes first, once
  source.rows = 0, source.last = -1;
  RecordingObserver observer;
  const int64_t before = liveBytes.load();
  peakBytes = before;
  const DetectionResult r = DetectCrossings(source, regions, params, observer, precise);
  const int64_t allocated = peakBytes.load() - before;
  ASSERT_TRUE(r.Completed()) << FailureCause(r);
  EXPECT_EQ(r.FoundPoints.Count(), 9);

  // The binarization's rows and the precise stage's (the region's box and
  // a margin of half its side), read once each: none below them.
  const int64_t image = int64_t{p.width} * p.height;
  EXPECT_LE(source.last, static_cast<int64_t>(bottom + side / 2) + 3);
  EXPECT_LE(source.rows, 2 * (source.last + 1));
  EXPECT_LT(source.rows, p.height / 3);
  // The memory: the region's boxes and the precise stage's own work, less
  // than a byte a pixel of the image (whose 16-bit samples alone are two,
  // and the whole-image arrays of old seventeen). The mask and the bits of
  // computed gradients are zero pages of which only the region's columns
  // are used.
  EXPECT_LT(allocated, image) << allocated << " bytes for " << image << " pixels";
  std::printf("rows handed out %lld of %d, heap peak %lld bytes for %lld pixels\n",
              static_cast<long long>(source.rows), p.height, static_cast<long long>(allocated),
              static_cast<long long>(image));

  // From the file, streamed: every row is decoded, only the region's kept,
  // and the points are the same.
  peakBytes = liveBytes.load();
  const int64_t fileBefore = liveBytes.load();
  const DetectionResult fromFile = DetectCrossings(file, regions, params, observer, precise);
  EXPECT_LT(peakBytes.load() - fileBefore, image);
  ASSERT_EQ(fromFile.FoundPoints.Count(), r.FoundPoints.Count());
  for (int32_t i = 0; i < r.FoundPoints.Count(); ++i) {
    EXPECT_EQ(fromFile.FoundPoints.Get(i)->x, r.FoundPoints.Get(i)->x);
    EXPECT_EQ(fromFile.FoundPoints.Get(i)->y, r.FoundPoints.Get(i)->y);
  }
}

TEST(KeptRows, TheMemoryARunNeedsFollowsItsRegionsAndIsCheckedBeforeItStarts) {
  // A gigapixel's header alone: nothing is read to reckon the need.
  ImageInfo info;
  info.width = 32768, info.height = 32768, info.channels = 3;
  const MemoryImageSource huge(info, StridedPixels{}, "huge");
  DetectionParams params;
  const RegionList corner = Regions(MakeRegion({{10, 10}, {700, 10}, {700, 500}, {10, 500}}));
  const RegionList whole = Regions(MakeRegion({{1, 1}, {32766, 1}, {32766, 32766}, {1, 32766}}));
  const uint64_t pixels = uint64_t{32768} * 32768;
  EXPECT_LT(RunMemoryNeed(huge, corner, params), 200u << 20);
  const uint64_t all = RunMemoryNeed(huge, whole, params);
  EXPECT_GT(all, 3 * pixels);  // sums, mask and its transposed copy
  EXPECT_LT(all, 4 * pixels);
  params.PreciseRefinement = true;
  EXPECT_GT(RunMemoryNeed(huge, whole, params), all);

  // Refused with what it needs and what there is.
  std::string refusal;
  try {
    CheckRunMemory(huge, whole, params, uint64_t{1} << 30);
  } catch (const NotEnoughMemory& e) {
    refusal = e.what();
  }
  EXPECT_EQ(refusal.rfind("Недостаточно памяти: для изображения huge нужно ", 0), 0u) << refusal;
  EXPECT_NE(refusal.find(" МиБ, а доступно 1024 МиБ"), std::string::npos) << refusal;
  EXPECT_NO_THROW(CheckRunMemory(huge, corner, params, uint64_t{1} << 30));
  EXPECT_NO_THROW(CheckRunMemory(huge, whole, params, std::nullopt));
}

}  // namespace
}  // namespace qova
