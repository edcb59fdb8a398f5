#pragma once
// Small numeric helpers: medians and little dense linear systems.

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <vector>

namespace qova::precise {

// floor and ceil without a library call (the build targets plain SSE2,
// which has no rounding instruction); the same values as std::floor and
// std::ceil for every x.
inline double FloorFast(double x) {
  if (!(std::fabs(x) < 1e15)) return std::floor(x);
  const double t = static_cast<double>(static_cast<long long>(x));
  return t > x ? t - 1 : t;
}
inline double CeilFast(double x) {
  if (!(std::fabs(x) < 1e15)) return std::ceil(x);
  const double t = static_cast<double>(static_cast<long long>(x));
  return t < x ? t + 1 : t;
}

// The median of the values (mean of the middle two for an even count); 0 for
// none. Reorders its argument.
inline double MedianInPlace(std::span<double> v) {
  if (v.empty()) return 0;
  const size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + mid, v.end());
  const double upper = v[mid];
  if (v.size() % 2) return upper;
  const double lower = *std::max_element(v.begin(), v.begin() + mid);
  return (lower + upper) / 2;
}

inline double Median(std::vector<double> v) { return MedianInPlace(v); }

// The median of the first n values of v (reordered).
inline double MedianOfFirst(std::vector<double>& v, size_t n) {
  return MedianInPlace(std::span<double>(v.data(), n));
}

// Solves the n×n system a·x = b (row-major a) by Gaussian elimination with
// partial pivoting; false when a pivot falls below `tiny` times the largest
// entry of its column (singular or nearly so). a and b are overwritten.
template <size_t N>
bool SolveLinear(std::array<double, N * N>& a, std::array<double, N>& b, std::array<double, N>& x,
                 double tiny = 1e-12) {
  for (size_t col = 0; col < N; ++col) {
    size_t pivot = col;
    double largest = 0;
    for (size_t r = col; r < N; ++r) {
      largest = std::max(largest, std::fabs(a[r * N + col]));
      if (std::fabs(a[r * N + col]) > std::fabs(a[pivot * N + col])) pivot = r;
    }
    if (!(std::fabs(a[pivot * N + col]) > tiny * largest) || largest == 0) return false;
    if (pivot != col) {
      for (size_t k = 0; k < N; ++k) std::swap(a[pivot * N + k], a[col * N + k]);
      std::swap(b[pivot], b[col]);
    }
    for (size_t r = col + 1; r < N; ++r) {
      const double f = a[r * N + col] / a[col * N + col];
      if (f == 0) continue;
      for (size_t k = col; k < N; ++k) a[r * N + k] -= f * a[col * N + k];
      b[r] -= f * b[col];
    }
  }
  for (size_t r = N; r-- > 0;) {
    double s = b[r];
    for (size_t k = r + 1; k < N; ++k) s -= a[r * N + k] * x[k];
    x[r] = s / a[r * N + r];
    if (!std::isfinite(x[r])) return false;
  }
  return true;
}

// Least squares z ≈ Σ coefficient_k · basis_k with the normal equations of
// N terms accumulated one sample at a time.
template <size_t N>
struct NormalEquations {
  std::array<double, N * N> ata{};
  std::array<double, N> atz{};
  size_t count = 0;
  void Add(const std::array<double, N>& basis, double z, double weight = 1) {
    for (size_t r = 0; r < N; ++r) {
      for (size_t k = 0; k < N; ++k) ata[r * N + k] += weight * basis[r] * basis[k];
      atz[r] += weight * basis[r] * z;
    }
    ++count;
  }
  bool Solve(std::array<double, N>& x, double tiny = 1e-12) const {
    auto a = ata;
    auto b = atz;
    return SolveLinear<N>(a, b, x, tiny);
  }
};

}  // namespace qova::precise
