// qova-calib-bench: the cost of a calibration (auto: every family fitted,
// robust, cross-validated, the simplest within 5 % taken) beside the
// detection's own run on the benchmark's plate, side by side in one process.
//
//   qova-calib-bench [--points N] [--size MP] [--runs N]
//
// --points: crossings of the point plate (a square lattice, default 3600);
// --size: the detection's plate in megapixels (default 16). Prints the median
// wall time of the detection run (by default and with the precise stage) and
// of the calibration on one thread and on all cores, the median processor
// time of the calibration (all its threads), and the time of each family
// alone.
#include <unistd.h>

#include <QGuiApplication>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/bench_plate.h"
#include "bench/bench_support.h"
#include "calib/calibrate.h"
#include "synth/lattice_distortion.h"

namespace qova {
namespace {

double ProcessorSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A camera's plate: perspective and radial distortion, σ 0.004 px, the
// crossings a square lattice of about `points`.
calib::CalibrationInput PointPlate(int points) {
  LatticePlateParams setup;
  const int side = static_cast<int>(std::lround(std::sqrt(points)));
  setup.columns = setup.rows = side;
  LatticeDistortion& d = setup.distortion;
  d.pitchX = d.pitchY = 50;
  d.width = d.height = 50 * side + 200;
  d.angleDeg = 1, d.tiltX = 0.03, d.tiltY = -0.02, d.k1 = -0.01, d.k2 = 0.003;
  setup.noise = 0.004;
  calib::CalibrationInput in;
  in.imageWidth = d.width, in.imageHeight = d.height;
  for (const LatticePoint& p : MakeLatticePoints(setup)) {
    in.points.emplace_back(p.x, p.y);
    in.sigma.emplace_back(0.004, 0.004);
  }
  return in;
}

// The detection run's median on the benchmark's plate, by default and with
// the precise stage (the run a calibration's σ come from).
std::pair<double, double> DetectionRuns(int megapixels, int runs) {
  const Plate plate = RenderPlate(BenchPlateParams(megapixels));
  const auto dir =
      std::filesystem::temp_directory_path() / ("qova-calib-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string image = (dir / "plate.bmp").string();
  plate.image.save(QString::fromStdString(image), "BMP");
  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  OpenAndMark(form, desktop, image, BenchRegion(plate));
  std::pair<double, double> seconds;
  for (const bool precise : {false, true}) {
    form.PreciseRefinement = precise;
    const double s = MedianSeconds(runs, [&] { form.N4Click(); });
    std::printf("detection run%s, %d MP plate, %d crossings: %.4f s\n",
                precise ? " with the precise stage" : "", megapixels, form.FoundPoints.Count(), s);
    (precise ? seconds.second : seconds.first) = s;
  }
  std::filesystem::remove_all(dir);
  return seconds;
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  int points = 3600, megapixels = 16, runs = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--points" && i + 1 < argc) {
      points = std::max(100, std::atoi(argv[++i]));
    } else if (a == "--size" && i + 1 < argc) {
      megapixels = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: qova-calib-bench [--points N] [--size MP] [--runs N]\n");
      return 2;
    }
  }
  using namespace qova;
  std::printf("%u cores\n", std::thread::hardware_concurrency());
  const auto [detection, preciseDetection] = DetectionRuns(megapixels, runs);
  const calib::CalibrationInput in = PointPlate(points);
  calib::CalibrationOptions options;
  options.pitch = {1, 1};
  std::string taken;
  for (const int threads : {1, 0}) {
    options.fit.threads = threads;
    std::vector<double> processor;
    const double wall = MedianSeconds(runs, [&] {
      const double start = ProcessorSeconds();
      taken = calib::Calibrate(in, options).model.Name();
      processor.push_back(ProcessorSeconds() - start);
    });
    std::printf(
        "calibration auto, %zu points, %s: %.4f s wall, %.4f s processor, %.3f of the "
        "detection run, %.3f of the precise run (took %s)\n",
        in.points.size(), threads == 1 ? "1 thread" : "all cores", wall, Median(processor),
        wall / detection, wall / preciseDetection, taken.c_str());
  }
  options.fit.threads = 1;
  for (const std::string& name : calib::ModelNames()) {
    options.model = name;
    const double wall = MedianSeconds(runs, [&] { calib::Calibrate(in, options); });
    std::printf("  %-10s %.4f s\n", name.c_str(), wall);
  }
  return 0;
}
