// qova-precise-bench: the cost of the precise stage beside the detection's
// own run, on the benchmark's plates (1, 16 and 64 megapixels, about 100 px
// pitch): seconds per run and microseconds per crossing on one thread and on
// all cores, and the ratio of the precise stage (all cores) to the run.
//
//   qova-precise-bench [--sizes 1,16,64] [--runs N] [--final-row-step N] [--threads N]
//
// --threads N: the "all cores" columns on N threads instead (1 makes every
// run single-threaded, for a profiler that counts instructions).
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_plate.h"
#include "bench/bench_support.h"
#include "precise/precise_refinement.h"

namespace qova {
namespace {

void BenchOneSize(int megapixels, int runs, const PreciseParams& params,
                  const std::filesystem::path& dir) {
  const Plate plate = RenderPlate(BenchPlateParams(megapixels));
  const auto region = BenchRegion(plate);
  const std::string image = (dir / "plate.bmp").string();
  plate.image.save(QString::fromStdString(image), "BMP");
  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  OpenAndMark(form, desktop, image, region);
  const double run = MedianSeconds(runs, [&] { form.N4Click(); });
  std::vector<VT_Point> starts, corners;
  for (int i = 0; i < form.FoundPoints.Count(); ++i) starts.push_back(*form.FoundPoints.Get(i));
  for (const QPointF& c : region) corners.emplace_back(c.x(), c.y());
  PreciseResult result;
  PreciseParams one = params;
  one.threads = 1;
  const double single =
      MedianSeconds(runs, [&] { result = RefinePrecise(plate.image, corners, starts, one); });
  const double all =
      MedianSeconds(runs, [&] { result = RefinePrecise(plate.image, corners, starts, params); });
  const double n = static_cast<double>(result.points.size());
  std::printf("%6d MP %9zu %9zu %12.4f %12.4f %10.1f %12.4f %10.1f %8.2f\n", megapixels,
              starts.size(), result.points.size(), run, single, single / n * 1e6, all,
              all / n * 1e6, all / run);
  std::fflush(stdout);
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  std::vector<int> sizes = {1, 16, 64};
  int runs = 3;
  qova::PreciseParams params;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sizes" && i + 1 < argc) {
      sizes = qova::ParseSizes(argv[++i]);
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--final-row-step" && i + 1 < argc) {
      params.finalRowStep = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--threads" && i + 1 < argc) {
      params.threads = std::max(0, std::atoi(argv[++i]));
    } else {
      sizes.clear();
    }
    if (sizes.empty()) {
      std::fprintf(stderr,
                   "usage: qova-precise-bench [--sizes 1,16,64] [--runs N] [--final-row-step N] "
                   "[--threads N]\n");
      return 2;
    }
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("qova-precise-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::printf("%d cores\n%9s %9s %9s %12s %12s %10s %12s %10s %8s\n",
              static_cast<int>(std::thread::hardware_concurrency()), "plate", "starts", "points",
              "run s", "1 thread s", "µs/pt", "all cores s", "µs/pt", "ratio");
  for (int mp : sizes) qova::BenchOneSize(mp, runs, params, dir);
  std::filesystem::remove_all(dir);
  return 0;
}
