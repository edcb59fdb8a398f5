// qova-gigapixel-bench: qova-detect on plates of 16 and 64 megapixels and a
// gigapixel (sides of 4096, 8192 and 32768 pixels), 8-bit grey and 24-bit
// bitmaps rendered row by row straight into their files: the peak memory of
// the batch command in bytes per pixel of the image and its time per pixel,
// and the same for another build's qova-detect (--before) where the memory
// it would need is there.
//
//   qova-gigapixel-bench [--sides 4096,8192,32768] [--kinds grey,rgb] [--runs N]
//                        [--before PATH] [--dir DIR]
//
// The plates need disk: 3 GiB for the 24-bit gigapixel; each is deleted
// after its runs.
#include <sys/statvfs.h>
#include <unistd.h>

#include <QPointF>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_plate.h"
#include "bench/bench_support.h"
#include "synth/synthetic_plate.h"

namespace qova {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using Measured = BatchRun;

// One run of a qova-detect: its wall time and peak memory; none when it failed.
std::optional<Measured> RunDetect(const std::string& detect, const std::string& image,
                                  const std::vector<QPointF>& region, const std::string& out) {
  return RunBatch(detect, image, region, out);
}

uint64_t AvailableBytes() {
  std::ifstream meminfo("/proc/meminfo");
  for (std::string line; std::getline(meminfo, line);) {
    std::istringstream fields(line);
    std::string key;
    uint64_t kib = 0;
    if (fields >> key >> kib && key == "MemAvailable:") return kib * 1024;
  }
  return 0;
}

uint64_t FreeDisk(const fs::path& dir) {
  struct statvfs s {};
  if (statvfs(dir.c_str(), &s) != 0) return 0;
  return static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
}

struct Row {
  int side = 0;
  std::string kind;
  double fileMiB = 0, renderSeconds = 0;
  std::optional<Measured> after, before;
  std::string beforeNote;
};

std::string Cell(const std::optional<Measured>& m, double pixels, bool perPixelTime) {
  char text[64];
  if (!m) return "-";
  if (perPixelTime)
    std::snprintf(text, sizeof text, "%.2f s, %.1f ns/px", m->seconds, m->seconds * 1e9 / pixels);
  else
    std::snprintf(text, sizeof text, "%.0f MiB, %.2f B/px", m->peakBytes / 1048576.0,
                  static_cast<double>(m->peakBytes) / pixels);
  return text;
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  using namespace qova;
  std::vector<int> sides = {4096, 8192, 32768};
  std::vector<std::string> kinds = {"grey", "rgb"};
  std::string before;
  int runs = 1;
  fs::path dir = fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sides" && i + 1 < argc) {
      sides.clear();
      std::stringstream list(argv[++i]);
      for (std::string v; std::getline(list, v, ',');) sides.push_back(std::atoi(v.c_str()));
      if (std::any_of(sides.begin(), sides.end(), [](int v) { return v < 64 || v > 65536; }))
        sides.clear();
      if (sides.empty()) return 2;
    } else if (a == "--kinds" && i + 1 < argc) {
      kinds.clear();
      std::stringstream list(argv[++i]);
      for (std::string k; std::getline(list, k, ',');) kinds.push_back(k);
    } else if (a == "--before" && i + 1 < argc) {
      before = argv[++i];
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: qova-gigapixel-bench [--sides 4096,8192,32768] [--kinds grey,rgb] "
                   "[--runs N] [--before PATH] [--dir DIR]\n");
      return 2;
    }
  }
  const std::string detect = QOVA_DETECT_PATH;
  dir /= "qova-gigapixel-" + std::to_string(getpid());
  fs::create_directories(dir);
  std::vector<Row> rows;
  for (const int side : sides)
    for (const std::string& kind : kinds) {
      Row row;
      row.side = side, row.kind = kind;
      const double pixels = static_cast<double>(side) * side;
      const int channels = kind == "rgb" ? 3 : 1;
      const double bytes = pixels * channels;
      if (static_cast<double>(FreeDisk(dir)) < bytes + (1u << 30)) {
        std::fprintf(stderr, "%d² %s: not enough disk for the plate\n", side, kind.c_str());
        continue;
      }
      PlateParams params = BenchPlateParams(1);
      params.width = params.height = side;
      const std::string image = (dir / ("plate-" + std::to_string(side) + "-" + kind + ".bmp"));
      std::fprintf(stderr, "%d² %s: rendering...\n", side, kind.c_str());
      const auto start = Clock::now();
      const Plate plate =
          WritePlate(params, image, {WriteFormat::kBmp, channels, SampleType::kUint8});
      row.renderSeconds = std::chrono::duration<double>(Clock::now() - start).count();
      row.fileMiB = static_cast<double>(fs::file_size(image)) / 1048576.0;
      const std::vector<QPointF> region = BenchRegion(plate);
      std::fprintf(stderr, "%d² %s: region", side, kind.c_str());
      for (const QPointF& c : region) std::fprintf(stderr, " %.0f %.0f", c.x(), c.y());
      std::fprintf(stderr, "\n");
      const std::string out = (dir / "out.crd").string();
      auto best = [&](const std::string& program) {
        std::optional<Measured> m;
        for (int r = 0; r < runs; ++r) {
          const auto one = RunDetect(program, image, region, out);
          if (!one) return one;
          if (!m || one->seconds < m->seconds) m = Measured{one->seconds, m ? m->peakBytes : 0};
          m->peakBytes = std::max(m->peakBytes, one->peakBytes);
        }
        return m;
      };
      std::fprintf(stderr, "%d² %s: qova-detect...\n", side, kind.c_str());
      row.after = best(detect);
      if (!before.empty()) {
        // The whole-image arrays of the build before need about 23 bytes a
        // pixel: run it only where that is there, with room to spare.
        if (23 * pixels < 0.8 * static_cast<double>(AvailableBytes())) {
          std::fprintf(stderr, "%d² %s: before...\n", side, kind.c_str());
          row.before = best(before);
          if (!row.before) row.beforeNote = "failed";
        } else {
          row.beforeNote = "does not fit";
        }
      }
      fs::remove(image);
      fs::remove(out);
      rows.push_back(row);
    }
  fs::remove_all(dir);

  std::printf(
      "\n| plate | file | render | after: peak | after: time | before: peak | before: time |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const Row& r : rows) {
    const double pixels = static_cast<double>(r.side) * r.side;
    std::printf("| %d × %d %s (%.0f MP) | %.0f MiB | %.1f s | %s | %s | %s | %s |\n", r.side,
                r.side, r.kind.c_str(), pixels / 1e6, r.fileMiB, r.renderSeconds,
                Cell(r.after, pixels, false).c_str(), Cell(r.after, pixels, true).c_str(),
                r.before ? Cell(r.before, pixels, false).c_str() : r.beforeNote.c_str(),
                r.before ? Cell(r.before, pixels, true).c_str() : r.beforeNote.c_str());
  }
  // The time a pixel costs at each size against the smallest, kind by kind.
  for (const std::string& kind : kinds) {
    const Row* first = nullptr;
    for (const Row& r : rows) {
      if (r.kind != kind || !r.after) continue;
      const double nsPerPixel = r.after->seconds * 1e9 / (static_cast<double>(r.side) * r.side);
      if (!first) {
        first = &r;
        continue;
      }
      const double base =
          first->after->seconds * 1e9 / (static_cast<double>(first->side) * first->side);
      std::printf("%s: time per pixel at %d² / at %d²: %.2f\n", kind.c_str(), r.side, first->side,
                  nsPerPixel / base);
    }
  }
  return 0;
}
