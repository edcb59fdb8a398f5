// Speed of the detection's hot loops on a 4096 × 4096 rendered plate with
// about 40 × 40 crossings in one region: one directional scan, one refinement
// of the whole region, and single band collections.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "detect/band_collectors.h"
#include "detect/band_count.h"
#include "detect/plain_band.h"
#include "detect/plate_test_support.h"
#include "detect/transposed_mask.h"

namespace qova {
namespace {

// The plate binarized, scanned and intersected once for all benchmarks.
struct BinarizedPlate {
  testing::DetectState st;
  testing::DetectRecord& s = st.s;

  BinarizedPlate() {
    PlateParams params;
    params.width = params.height = 4096;
    params.pitch = 100;
    params.lineWidth = 3;
    params.angleDeg = 1.5;
    params.originX = 0.3;
    params.originY = -0.2;
    const Plate plate = RenderPlate(params);
    testing::BinarizedPlateRegion(s, plate.image, RegionInCells(plate, 0, 0, 39, 39));
    st.ScanSide03(0);
    st.ScanSide12(0);
    st.ScanSide23(0);
    st.ScanSide01(0);
    if (st.ValidateLines() != LinesOutcome::Paired) std::abort();
    if (st.FindCrossNodes(0) != NodesOutcome::Complete) std::abort();
  }
};

BinarizedPlate& Fixture() {
  static BinarizedPlate plate;
  return plate;
}

void BM_ScanSide03(benchmark::State& state) {
  BinarizedPlate& plate = Fixture();
  testing::DetectRecord& s = plate.s;
  for (auto _ : state) {
    plate.st.ScanSide03(0);
    benchmark::DoNotOptimize(s.SidePoints03.Count());
  }
  state.counters["points"] = s.SidePoints03.Count();
}
BENCHMARK(BM_ScanSide03)->Unit(benchmark::kMillisecond);

void BM_ScanSide23(benchmark::State& state) {
  BinarizedPlate& plate = Fixture();
  testing::DetectRecord& s = plate.s;
  for (auto _ : state) {
    plate.st.ScanSide23(0);
    benchmark::DoNotOptimize(s.SidePoints23.Count());
  }
  state.counters["points"] = s.SidePoints23.Count();
}
BENCHMARK(BM_ScanSide23)->Unit(benchmark::kMillisecond);

void BM_RefineRegion(benchmark::State& state) {
  BinarizedPlate& plate = Fixture();
  testing::DetectRecord& s = plate.s;
  for (auto _ : state) {
    s.FoundPoints.Clear();
    benchmark::DoNotOptimize(plate.st.RefineCrossPoints(0));
  }
  state.counters["nodes"] = s.CrossNodes.Length();
  state.counters["points"] = s.FoundPoints.Count();
}
BENCHMARK(BM_RefineRegion)->Unit(benchmark::kMillisecond);

// One refinement window across a horizontal line: half-length 80, as for a
// cell of 100 pixels.
// collect(mask, line, window, band) fills the band; the fast collector and
// its plain twin are measured on the same window.
template <class Collect>
void CollectHorizontalWindow(benchmark::State& state, Collect collect) {
  const testing::DetectRecord& s = Fixture().s;
  const CrossNode node = s.CrossNodes[s.CrossNodes.Length() / 2];
  const NodePixel at = NodeCrossing(node);
  const BandLine line{node.HorizontalSlope, at.y - node.HorizontalSlope * at.x};
  const BandWindow window{VT_Point(at.x, at.y), 1.5, 80};
  Band band;
  for (auto _ : state) {
    band.clear();
    collect(s.Mask(), line, window, band);
    benchmark::DoNotOptimize(band.data());
  }
  state.counters["pixels"] = static_cast<double>(band.size());
}

void BM_CollectHorizontalBand(benchmark::State& state) {
  CollectHorizontalWindow(
      state, [](const MaskView& mask, const BandLine& line, const BandWindow& window, Band& band) {
        CollectHorizontalBand(mask, BandSide::Both, line, window, band);
      });
}
BENCHMARK(BM_CollectHorizontalBand);

void BM_PlainCollectHorizontalBand(benchmark::State& state) {
  CollectHorizontalWindow(
      state, [](const MaskView& mask, const BandLine& line, const BandWindow& window, Band& band) {
        band = PlainCollect(mask, true, BandSide::Both, line, window);
      });
}
BENCHMARK(BM_PlainCollectHorizontalBand);

void BM_CollectVerticalBand(benchmark::State& state) {
  BinarizedPlate& plate = Fixture();
  testing::DetectRecord& s = plate.s;
  const CrossNode node = s.CrossNodes[s.CrossNodes.Length() / 2];
  const NodePixel at = NodeCrossing(node);
  Band band;
  for (auto _ : state) {
    band.clear();
    CollectVerticalBand(s.Mask(), BandSide::Both,
                        {node.VerticalSlope, at.x - node.VerticalSlope * at.y},
                        {VT_Point(at.x, at.y), 1.5, 80}, band);
    benchmark::DoNotOptimize(band.data());
  }
  state.counters["pixels"] = static_cast<double>(band.size());
}
BENCHMARK(BM_CollectVerticalBand);

// The counts a refinement walk takes at every step, on the line (argument 0)
// and 20 pixels beside it, where only the crossing line passes the window;
// count(centre, intercept, slope) counts the horizontal window there.
template <class Count>
void CountHorizontalWindow(benchmark::State& state, Count count) {
  const BinarizedPlate& plate = Fixture();
  testing::DetectRecord& s = plate.s;
  const CrossNode node = s.CrossNodes[s.CrossNodes.Length() / 2];
  const NodePixel at = NodeCrossing(node);
  const double y = at.y + static_cast<double>(state.range(0));
  const double x = at.x + node.VerticalSlope * (y - at.y);
  int64_t n = 0;
  for (auto _ : state) {
    n = count(VT_Point(x, y), y - node.HorizontalSlope * x, node.HorizontalSlope);
    benchmark::DoNotOptimize(n);
  }
  state.counters["pixels"] = static_cast<double>(n);
}

void BM_CountHorizontalBand(benchmark::State& state) {
  CountHorizontalWindow(state, [](const VT_Point& centre, double e, double slope) {
    return CountHorizontalBand(Fixture().s.Mask(), BandSide::Both, {slope, e}, {centre, 1.5, 80});
  });
}
BENCHMARK(BM_CountHorizontalBand)->Arg(0)->Arg(20);

// The same counts in the transposed mask, as the refinement takes them.
void BM_CountHorizontalBandTransposed(benchmark::State& state) {
  const TransposedMask rows(Fixture().s.Mask());
  CountHorizontalWindow(state, [&](const VT_Point& centre, double e, double slope) {
    return CountHorizontalBand(rows, BandSide::Both, {slope, e}, {centre, 1.5, 80});
  });
}
BENCHMARK(BM_CountHorizontalBandTransposed)->Arg(0)->Arg(20);

// The transposition the refinement makes once: 16 million cells.
void BM_TransposeMask(benchmark::State& state) {
  BinarizedPlate& plate = Fixture();
  testing::DetectRecord& s = plate.s;
  for (auto _ : state) {
    const TransposedMask rows(s.Mask());
    benchmark::DoNotOptimize(rows.Cells()[0]);
  }
}
BENCHMARK(BM_TransposeMask)->Unit(benchmark::kMillisecond);

void BM_CountVerticalBand(benchmark::State& state) {
  BinarizedPlate& plate = Fixture();
  testing::DetectRecord& s = plate.s;
  const CrossNode node = s.CrossNodes[s.CrossNodes.Length() / 2];
  const NodePixel at = NodeCrossing(node);
  const double x = at.x + static_cast<double>(state.range(0));
  const double y = at.y + node.HorizontalSlope * (x - at.x);
  int64_t n = 0;
  for (auto _ : state) {
    n = CountVerticalBand(s.Mask(), BandSide::Both,
                          {node.VerticalSlope, x - node.VerticalSlope * y},
                          {VT_Point(x, y), 1.5, 80});
    benchmark::DoNotOptimize(n);
  }
  state.counters["pixels"] = static_cast<double>(n);
}
BENCHMARK(BM_CountVerticalBand)->Arg(0)->Arg(20);

}  // namespace
}  // namespace qova

BENCHMARK_MAIN();
