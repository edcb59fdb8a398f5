// qova-bench: whole detection runs on synthetic plates of 1, 16 and 64
// megapixels, with the time of every stage, the peak memory of the batch
// command, and a streaming pass over the image as the machine's yardstick.
//
//   qova-bench [--sizes 1,16,64] [--runs N] [--detect PATH] [--precise]
//
// With --precise the runs have the precise stage on, and the table gives its
// cost per point and its time against the rest of the run.
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_plate.h"
#include "bench/bench_support.h"
#include "platform/scripted_platform.h"

namespace qova {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Reads every pixel of the image once and writes one double per pixel: the
// least any per-pixel stage can cost on this machine.
double StreamingPass(const QImage& image, std::vector<double>& out) {
  const auto start = Clock::now();
  const int w = image.width(), h = image.height();
  double* dst = out.data();
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const QRgb p = row[x];
      *dst++ = (qRed(p) + qGreen(p) + qBlue(p)) / 3.0;
    }
  }
  return Seconds(start);
}

// Peak resident memory of the batch command on the plate, in bytes; -1 when
// it failed. Called while the benchmark itself holds little memory.
long BatchPeakBytes(const std::string& detect, const std::string& image,
                    const std::vector<QPointF>& region, const std::string& out) {
  const auto run = RunBatch(detect, image, region, out);
  return run ? run->peakBytes : -1;
}

const char* const kStageOrder[] = {"PrepareRun",         "ComputeGradientStatistics",
                                   "FragmentRegion",     "Threshold and binarization",
                                   "ScanSide03",         "ScanSide12",
                                   "ScanSide23",         "ScanSide01",
                                   "ValidateLines",      "FindCrossNodes",
                                   "Read image again",   "RefineCrossPoints",
                                   "Precise refinement", "Markers"};

struct SizeResult {
  int megapixels = 0;
  long pixels = 0;
  int points = 0;
  std::map<std::string, std::vector<double>> stages;
  std::vector<double> runs, streams;
  long peakBytes = -1;
};

SizeResult BenchOneSize(int megapixels, int runs, const std::string& detect, bool precise,
                        const fs::path& dir) {
  SizeResult r;
  r.megapixels = megapixels;
  const std::string image = (dir / ("plate" + std::to_string(megapixels) + ".bmp")).string();
  std::vector<QPointF> region;
  {
    const Plate plate = RenderPlate(BenchPlateParams(megapixels));
    plate.image.save(QString::fromStdString(image), "BMP");
    region = BenchRegion(plate);
    r.pixels = static_cast<long>(plate.image.width()) * plate.image.height();
  }
  // First the batch command, while the benchmark holds no image.
  if (!detect.empty())
    r.peakBytes = BatchPeakBytes(detect, image, region, (dir / "out.crd").string());
  {
    ScriptedPlatform desktop;
    TVazeZududi_Form form(desktop);
    OpenAndMark(form, desktop, image, region);
    form.PreciseRefinement = precise;
    StageClock clock;
    form.StageTimes = &clock;
    std::vector<double> stream(static_cast<size_t>(r.pixels));
    for (int i = 0; i < runs; ++i) {
      clock.Reset();
      const auto start = Clock::now();
      form.N4Click();
      r.runs.push_back(Seconds(start));
      for (const auto& [stage, s] : clock.Seconds()) r.stages[stage].push_back(s);
      r.points = form.FoundPoints.Count();
      // The reference pass reads the image at 32 bits, as the stages do.
      r.streams.push_back(StreamingPass(form.SourceBitmap->ToRgb32(), stream));
    }
  }
  fs::remove(image);
  return r;
}

void Print(const std::vector<SizeResult>& results) {
  std::printf("\n%-28s", "stage (median seconds)");
  for (const auto& r : results) std::printf(" %12d MP", r.megapixels);
  std::printf("\n");
  for (const char* stage : kStageOrder) {
    bool any = false;
    for (const auto& r : results) any = any || r.stages.count(stage);
    if (!any) continue;
    std::printf("%-28s", stage);
    for (const auto& r : results) {
      const auto it = r.stages.find(stage);
      std::printf(" %15.4f", it == r.stages.end() ? 0.0 : Median(it->second));
    }
    std::printf("\n");
  }
  auto row = [&](const char* name, auto value) {
    std::printf("%-28s", name);
    for (const auto& r : results) std::printf(" %15s", value(r).c_str());
    std::printf("\n");
  };
  auto fmt = [](const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return std::string(buf);
  };
  row("whole run", [&](const SizeResult& r) { return fmt("%.4f", Median(r.runs)); });
  row("streaming pass", [&](const SizeResult& r) { return fmt("%.4f", Median(r.streams)); });
  row("run / streaming pass",
      [&](const SizeResult& r) { return fmt("%.1f", Median(r.runs) / Median(r.streams)); });
  // The target leaves out reading the image file again.
  row("run less reread / pass", [&](const SizeResult& r) {
    const auto it = r.stages.find("Read image again");
    const double reread = it == r.stages.end() ? 0.0 : Median(it->second);
    return fmt("%.1f", (Median(r.runs) - reread) / Median(r.streams));
  });
  row("points found", [&](const SizeResult& r) { return std::to_string(r.points); });
  auto precise = [](const SizeResult& r) {
    const auto it = r.stages.find("Precise refinement");
    return it == r.stages.end() ? -1.0 : Median(it->second);
  };
  if (precise(results.front()) >= 0) {
    row("precise µs per point",
        [&](const SizeResult& r) { return fmt("%.1f", precise(r) * 1e6 / std::max(1, r.points)); });
    // The share the stage adds to the run it follows.
    row("precise / rest of run", [&](const SizeResult& r) {
      return fmt("%.2f", precise(r) / (Median(r.runs) - precise(r)));
    });
  }
  row("run ns per pixel", [&](const SizeResult& r) {
    return fmt("%.1f", Median(r.runs) * 1e9 / static_cast<double>(r.pixels));
  });
  row("batch peak RSS, MiB", [&](const SizeResult& r) {
    return r.peakBytes < 0 ? std::string("-") : fmt("%.0f", r.peakBytes / 1048576.0);
  });
  row("batch peak bytes per pixel", [&](const SizeResult& r) {
    return r.peakBytes < 0
               ? std::string("-")
               : fmt("%.1f", static_cast<double>(r.peakBytes) / static_cast<double>(r.pixels));
  });
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  std::vector<int> sizes = {1, 16, 64};
  int runs = 5;
  std::string detect = QOVA_DETECT_PATH;
  bool precise = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sizes" && i + 1 < argc) {
      sizes = qova::ParseSizes(argv[++i]);
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--detect" && i + 1 < argc) {
      detect = argv[++i];
    } else if (a == "--precise") {
      precise = true;
    } else {
      sizes.clear();
    }
    if (sizes.empty()) {
      std::fprintf(stderr,
                   "usage: qova-bench [--sizes 1,16,64] [--runs N] [--detect PATH] [--precise]\n");
      return 2;
    }
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("qova-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::vector<qova::SizeResult> results;
  for (int mp : sizes) {
    // Fewer repetitions where one run takes long; medians still need three.
    const int n = mp >= 64 ? std::max(3, runs / 2) : runs;
    std::fprintf(stderr, "%d MP: %d runs...\n", mp, n);
    results.push_back(qova::BenchOneSize(mp, n, detect, precise, dir));
  }
  std::filesystem::remove_all(dir);
  qova::Print(results);
  return 0;
}
