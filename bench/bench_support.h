#pragma once
// What every benchmark of the project does alike: medians of repeated
// timings and the --sizes list of megapixels.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPointF>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace qova {

// The median; the mean of the middle two for an even count. 0 for none.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Median seconds of `runs` calls of f.
template <class F>
double MedianSeconds(int runs, F&& f) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    t.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return Median(t);
}

// "1,16,64" → {1, 16, 64}; empty for anything but positive whole numbers up
// to 1024 separated by commas, so that a typo gets the usage, not a plate
// of 0 pixels.
inline std::vector<int> ParseSizes(const char* text) {
  std::vector<int> sizes;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (end == p || v <= 0 || v > 1024 || (*end != ',' && *end != '\0')) return {};
    sizes.push_back(static_cast<int>(v));
    p = *end == ',' ? end + 1 : end;
  }
  return sizes;
}

// One run of qova-detect on image with one region, in a process of its own:
// its wall time and peak resident memory; none when it failed. A plain
// fork, not posix_spawn: a child that shares the parent's memory until its
// exec inherits the parent's peak, and the figure would be the benchmark's.
struct BatchRun {
  double seconds = 0;
  long peakBytes = 0;
};
inline std::optional<BatchRun> RunBatch(const std::string& detect, const std::string& image,
                                        const std::vector<QPointF>& region,
                                        const std::string& out) {
  std::string corners;
  for (const QPointF& c : region) {
    if (!corners.empty()) corners += ",";
    corners +=
        std::to_string(static_cast<long>(c.x())) + "," + std::to_string(static_cast<long>(c.y()));
  }
  std::vector<std::string> args = {detect, image, "--region", corners, "-o", out};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    execv(detect.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return std::nullopt;
  return BatchRun{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  usage.ru_maxrss * 1024L};
}

}  // namespace qova
