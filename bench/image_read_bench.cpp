// Reading large scans: the streaming reader against today's LoadImageFile
// (Qt, the whole picture as RGB32), on a 24-bit BMP and 16-bit grey TIFF and
// PNG of --mp megapixels (default 64), written as a stream by the image
// writers. Rows per second (median of --runs passes) and the peak resident
// memory of each way, each measured in a process of its own. Not part of the
// test command.
//
//   qova-image-read-bench [--mp 64] [--runs 3] [--dir /tmp]

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "platform/image_file.h"

namespace qova {
namespace {

// Peak resident memory of this process, bytes.
long PeakBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
  return 0;
}

void WritePlate(const std::string& path, WriteFormat format, int channels, SampleType sample,
                int64_t side) {
  ImageWriter writer(path, WriteSpec{format, side, side, channels, sample, 2400, 2400});
  const size_t rowBytes = static_cast<size_t>(side) * channels * BytesPerSample(sample);
  std::vector<uint8_t> row(rowBytes);
  for (int64_t y = 0; y < side; ++y) {
    // A grid of lines over a gentle gradient, as a plate is.
    for (size_t i = 0; i < rowBytes; ++i) {
      const int64_t x = static_cast<int64_t>(i) / (channels * BytesPerSample(sample));
      const bool line = x % 100 < 3 || y % 100 < 3;
      row[i] = static_cast<uint8_t>(line ? 20 : 200 + (x + y) % 40);
    }
    writer.WriteRows(row.data(), 1, rowBytes);
  }
  writer.Finish();
}

// One way of reading, in this process: prints seconds and peak bytes.
int Measure(const std::string& way, const std::string& path, int runs) {
  int64_t rows = 0;
  const double seconds = MedianSeconds(runs, [&] {
    if (way == "stream") {
      const ImageReader reader = ImageReader::Open(path);
      uint64_t sum = 0;
      rows = 0;
      reader.ReadRows([&](const RowBand& band) {
        rows += band.rows;
        sum += band.data[0];
      });
      if (sum == 1) std::puts("");
    } else {
      const QImage image = LoadImageFile(path);
      rows = image.height();
    }
  });
  std::printf("%.6f %ld %ld\n", seconds, static_cast<long>(rows), PeakBytes());
  return 0;
}

struct Result {
  double seconds = 0;
  long rows = 0, peak = 0;
};

Result RunChild(const char* self, const std::string& way, const std::string& path, int runs) {
  const std::string command =
      std::string(self) + " --measure " + way + " " + path + " " + std::to_string(runs);
  Result r;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    if (std::fscanf(p, "%lf %ld %ld", &r.seconds, &r.rows, &r.peak) != 3) r = Result{};
    ::pclose(p);
  }
  return r;
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  using namespace qova;
  if (argc == 5 && std::strcmp(argv[1], "--measure") == 0)
    return Measure(argv[2], argv[3], std::atoi(argv[4]));
  int mp = 64, runs = 3;
  std::string dir = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mp") == 0)
      mp = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--dir") == 0)
      dir = argv[i + 1];
  }
  if (mp <= 0 || mp > 1024 || runs <= 0 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: %s [--mp 64] [--runs 3] [--dir /tmp]\n", argv[0]);
    return 2;
  }
  int64_t side = 1;
  while ((side + 1) * (side + 1) <= int64_t{mp} << 20) ++side;
  struct Plate {
    const char* name;
    WriteFormat format;
    int channels;
    SampleType sample;
  };
  const Plate plates[] = {{"24-bit BMP", WriteFormat::kBmp, 3, SampleType::kUint8},
                          {"16-bit TIFF", WriteFormat::kTiff, 1, SampleType::kUint16},
                          {"16-bit PNG", WriteFormat::kPng, 1, SampleType::kUint16}};
  std::printf("%lld x %lld pixels, median of %d passes; peak memory in bytes per pixel\n",
              static_cast<long long>(side), static_cast<long long>(side), runs);
  std::printf("%-12s %-10s %12s %10s %10s %10s\n", "file", "reader", "rows/s", "Mpx/s", "s/pass",
              "peak B/px");
  for (const Plate& p : plates) {
    const std::string path = dir + "/qova-image-read-bench-" + std::to_string(&p - plates);
    WritePlate(path, p.format, p.channels, p.sample, side);
    for (const char* way : {"stream", "qt"}) {
      const Result r = RunChild(argv[0], way, path, runs);
      const double rowsPerSecond = r.seconds > 0 ? r.rows / r.seconds : 0.0;
      std::printf("%-12s %-10s %12.0f %10.1f %10.3f %10.2f\n", p.name,
                  std::strcmp(way, "qt") == 0 ? "Qt (today)" : "streaming", rowsPerSecond,
                  rowsPerSecond * static_cast<double>(side) / 1e6, r.seconds,
                  static_cast<double>(r.peak) / static_cast<double>(side * side));
    }
    std::remove(path.c_str());
  }
  return 0;
}
