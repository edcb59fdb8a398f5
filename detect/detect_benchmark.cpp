// Speed of the detection's hot loops on a 4096 × 4096 rendered plate with
// about 40 × 40 crossings in one region: one directional scan, one refinement
// of the whole region, and single band collections.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "detect/band_count.h"
#include "detect/detect_test_support.h"
#include "detect/grid_lines.h"
#include "detect/line_fit.h"
#include "detect/plate_test_support.h"
#include "detect/scan_sides.h"
#include "detect/transposed_mask.h"
#include "platform/scripted_platform.h"
#include "tools/synth/synthetic_plate.h"

namespace qova {
namespace {

// The plate binarized, scanned and intersected once for all benchmarks.
struct BinarizedPlate {
  ScriptedPlatform desktop;
  StateRecord s{desktop};

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
    ScanSide03(s, 0);
    ScanSide12(s, 0);
    ScanSide23(s, 0);
    ScanSide01(s, 0);
    ValidateLines(s);
    FindCrossNodes(s, 0);
  }
};

BinarizedPlate& Fixture() {
  static BinarizedPlate plate;
  return plate;
}

void BM_ScanSide03(benchmark::State& state) {
  StateRecord& s = Fixture().s;
  for (auto _ : state) {
    ScanSide03(s, 0);
    benchmark::DoNotOptimize(s.SidePoints03.Count());
  }
  state.counters["points"] = s.SidePoints03.Count();
}
BENCHMARK(BM_ScanSide03)->Unit(benchmark::kMillisecond);

void BM_ScanSide23(benchmark::State& state) {
  StateRecord& s = Fixture().s;
  for (auto _ : state) {
    ScanSide23(s, 0);
    benchmark::DoNotOptimize(s.SidePoints23.Count());
  }
  state.counters["points"] = s.SidePoints23.Count();
}
BENCHMARK(BM_ScanSide23)->Unit(benchmark::kMillisecond);

void BM_RefineRegion(benchmark::State& state) {
  StateRecord& s = Fixture().s;
  for (auto _ : state) {
    s.FoundPoints.Clear();
    benchmark::DoNotOptimize(RefineCrossPoints(s, 0));
  }
  state.counters["nodes"] = s.CrossNodes.Length();
  state.counters["points"] = s.FoundPoints.Count();
}
BENCHMARK(BM_RefineRegion)->Unit(benchmark::kMillisecond);

// One refinement window across a horizontal line: half-length 80, as for a
// cell of 100 pixels.
void BM_CollectHorizontalBand(benchmark::State& state) {
  StateRecord& s = Fixture().s;
  const CrossNode node = s.CrossNodes[s.CrossNodes.Length() / 2];
  const NodePixel at = NodeCrossing(node);
  Band band;
  for (auto _ : state) {
    band.clear();
    CollectHorizontalBand(s, 3, band, VT_Point(at.x, at.y), 1.5, 80,
                          at.y - node.HorizontalSlope * at.x, node.HorizontalSlope);
    benchmark::DoNotOptimize(band.data());
  }
  state.counters["pixels"] = static_cast<double>(band.size());
}
BENCHMARK(BM_CollectHorizontalBand);

void BM_CollectVerticalBand(benchmark::State& state) {
  StateRecord& s = Fixture().s;
  const CrossNode node = s.CrossNodes[s.CrossNodes.Length() / 2];
  const NodePixel at = NodeCrossing(node);
  Band band;
  for (auto _ : state) {
    band.clear();
    CollectVerticalBand(s, 3, band, VT_Point(at.x, at.y), 1.5, 80, at.x - node.VerticalSlope * at.y,
                        node.VerticalSlope);
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
  const StateRecord& s = Fixture().s;
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
    return CountHorizontalBand(Fixture().s, 3, centre, 1.5, 80, e, slope);
  });
}
BENCHMARK(BM_CountHorizontalBand)->Arg(0)->Arg(20);

// The same counts in the transposed mask, as the refinement takes them.
void BM_CountHorizontalBandTransposed(benchmark::State& state) {
  const TransposedMask rows(Fixture().s);
  CountHorizontalWindow(state, [&](const VT_Point& centre, double e, double slope) {
    return CountHorizontalBand(rows, 3, centre, 1.5, 80, e, slope);
  });
}
BENCHMARK(BM_CountHorizontalBandTransposed)->Arg(0)->Arg(20);

// The transposition the refinement makes once: 16 million cells.
void BM_TransposeMask(benchmark::State& state) {
  StateRecord& s = Fixture().s;
  for (auto _ : state) {
    const TransposedMask rows(s);
    benchmark::DoNotOptimize(rows.Cells()[0]);
  }
}
BENCHMARK(BM_TransposeMask)->Unit(benchmark::kMillisecond);

void BM_CountVerticalBand(benchmark::State& state) {
  StateRecord& s = Fixture().s;
  const CrossNode node = s.CrossNodes[s.CrossNodes.Length() / 2];
  const NodePixel at = NodeCrossing(node);
  const double x = at.x + static_cast<double>(state.range(0));
  const double y = at.y + node.HorizontalSlope * (x - at.x);
  int64_t n = 0;
  for (auto _ : state) {
    n = CountVerticalBand(s, 3, VT_Point(x, y), 1.5, 80, x - node.VerticalSlope * y,
                          node.VerticalSlope);
    benchmark::DoNotOptimize(n);
  }
  state.counters["pixels"] = static_cast<double>(n);
}
BENCHMARK(BM_CountVerticalBand)->Arg(0)->Arg(20);

}  // namespace
}  // namespace qova

BENCHMARK_MAIN();
