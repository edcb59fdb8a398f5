#pragma once
// The program's few SIMD kernels, each beside its scalar twin. The SSE2 forms
// are compiled where the build option QOVA_SIMD is on and the machine has
// SSE2; otherwise the kernel is its twin. The twins are always compiled, so
// that tests compare the two bit for bit in every build, and a build with
// QOVA_SIMD off runs and tests the portable path.

#include <cmath>
#include <cstdint>

#if !defined(QOVA_SIMD)
#define QOVA_SIMD 1
#endif
#if QOVA_SIMD && defined(__SSE2__)
#define QOVA_SSE2 1
#include <emmintrin.h>
#else
#define QOVA_SSE2 0
#endif

namespace qova::simd {

// Whether the SSE2 forms are in use.
inline constexpr bool kEnabled = QOVA_SSE2 != 0;

// --- Two gradient magnitudes ------------------------------------------------
// g[i] = √(gx² + gy²), gx = (right[i] − left[i])/twoSteps and
// gy = (below[i] − above[i])/twoSteps, for i = 0, 1: the same IEEE operations
// on each lane, one square root instruction for both.
inline void GradientPairScalar(const double* left, const double* right, const double* above,
                               const double* below, double twoSteps, double g[2]) {
  for (int i = 0; i < 2; ++i) {
    const double gx = (right[i] - left[i]) / twoSteps;
    const double gy = (below[i] - above[i]) / twoSteps;
    g[i] = std::sqrt(gx * gx + gy * gy);
  }
}

inline void GradientPair(const double* left, const double* right, const double* above,
                         const double* below, double twoSteps, double g[2]) {
#if QOVA_SSE2
  const __m128d steps = _mm_set1_pd(twoSteps);
  const __m128d gx = _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(right), _mm_loadu_pd(left)), steps);
  const __m128d gy = _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(below), _mm_loadu_pd(above)), steps);
  _mm_storeu_pd(g, _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(gx, gx), _mm_mul_pd(gy, gy))));
#else
  GradientPairScalar(left, right, above, below, twoSteps, g);
#endif
}

// --- Sixteen bytes stored except a marker ------------------------------------
// to[k] = from[k] for the k in 0..15 with from[k] != skip; the others keep
// what they hold.
inline void StoreExcept16Scalar(const uint8_t* from, uint8_t* to, uint8_t skip) {
  for (int k = 0; k < 16; ++k)
    if (from[k] != skip) to[k] = from[k];
}

inline void StoreExcept16(const uint8_t* from, uint8_t* to, uint8_t skip) {
#if QOVA_SSE2
  // All sixteen kept go as one store, none as none.
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  const int skipped = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(skip))));
  if (skipped == 0)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v);
  else if (skipped != 0xFFFF)
    StoreExcept16Scalar(from, to, skip);
#else
  StoreExcept16Scalar(from, to, skip);
#endif
}

// --- Counting set bytes --------------------------------------------------------
// The number of non-zero bytes of cells[0..n), n a multiple of 16.
inline int64_t CountNonZero16Scalar(const uint8_t* cells, int32_t n) {
  int64_t count = 0;
  for (int32_t j = 0; j < n; ++j) count += cells[j] != 0;
  return count;
}

inline int64_t CountNonZero16(const uint8_t* cells, int32_t n) {
#if QOVA_SSE2 && defined(__x86_64__)
  // Every set byte made 1 (the lesser of it and 1), sixteen summed at a time
  // by the sum-of-differences instruction against zero.
  const __m128i one = _mm_set1_epi8(1), zero = _mm_setzero_si128();
  __m128i sums = zero;
  for (int32_t j = 0; j < n; j += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + j));
    sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_min_epu8(v, one), zero));
  }
  return _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
#else
  return CountNonZero16Scalar(cells, n);
#endif
}

// --- A 16 × 16 block of bytes transposed -----------------------------------------
// to[m][k] = from[k][m] for k, m in 0..15: from[k] points at sixteen bytes of
// row k, to[m] at sixteen of column m.
inline void Transpose16x16Scalar(const uint8_t* const from[16], uint8_t* const to[16]) {
  for (int m = 0; m < 16; ++m)
    for (int k = 0; k < 16; ++k) to[m][k] = from[k][m];
}

inline void Transpose16x16(const uint8_t* const from[16], uint8_t* const to[16]) {
#if QOVA_SSE2
  // Interleaving the bytes of rows k and k + 8 rotates the eight bits of a
  // cell's index (row, column) by one, so four rounds exchange row and
  // column.
  __m128i r[16];
  for (int k = 0; k < 16; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from[k]));
  for (int round = 0; round < 4; ++round) {
    __m128i t[16];
    for (int k = 0; k < 8; ++k) {
      t[2 * k] = _mm_unpacklo_epi8(r[k], r[k + 8]);
      t[2 * k + 1] = _mm_unpackhi_epi8(r[k], r[k + 8]);
    }
    for (int k = 0; k < 16; ++k) r[k] = t[k];
  }
  for (int m = 0; m < 16; ++m) _mm_storeu_si128(reinterpret_cast<__m128i*>(to[m]), r[m]);
#else
  Transpose16x16Scalar(from, to);
#endif
}

}  // namespace qova::simd
