#pragma once
// What every benchmark of the project does alike: medians of repeated
// timings and the --sizes list of megapixels.

#include <algorithm>
#include <chrono>
#include <cstdlib>
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

}  // namespace qova
