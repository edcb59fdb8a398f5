#include "calib/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <type_traits>

#if !defined(QOVA_SIMD)
#define QOVA_SIMD 1
#endif
#if QOVA_SIMD && defined(__x86_64__) && defined(__GNUC__)
#define QOVA_RESAMPLE_AVX2 1
// GCC 12 warns of the undefined registers inside its own AVX-512 intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#define QOVA_RESAMPLE_AVX2 0
#endif

namespace qova::calib {
namespace {

// ---- The arithmetic, shared by every form ---------------------------------
// The position's fraction t = x − floor(x) is exact in double; the weights
// and the sums are single precision: a sample has at most 16 significant
// bits, so a float sum is within 0.004 of a level of the exact one, and
// eight lanes fit a vector register.
//
// Each kernel gives the weights of its T taps floor(x) − (T/2 − 1) + k,
// k < T, at t ∈ [0, 1).

struct LinearKernel {
  static constexpr int kTaps = 2;
  static void Weights(double t, float* w) {
    const auto f = static_cast<float>(t);
    w[0] = 1 - f, w[1] = f;
  }
};

struct CubicKernel {
  static constexpr int kTaps = 4;
  // Keys' kernel with a = −½: W(d) = 1.5|d|³ − 2.5|d|² + 1 for |d| ≤ 1,
  // −0.5|d|³ + 2.5|d|² − 4|d| + 2 for 1 < |d| < 2, at d = 1 + t, t, 1 − t, 2 − t.
  // F is float or a vector of floats (the fast forms' lanes): the same
  // operations in the same order on each. Inlined into the fast forms, and
  // f taken by reference, so that no vector crosses a call of the default
  // target.
  template <class F>
  [[gnu::always_inline]] static inline void Weights(const F& f, F* w) {
    w[0] = ((-0.5f * f + 1) * f - 0.5f) * f;
    w[1] = (1.5f * f - 2.5f) * f * f + 1;
    w[2] = ((-1.5f * f + 2) * f + 0.5f) * f;
    w[3] = (0.5f * f - 0.5f) * f * f;
  }
  static void Weights(double t, float* w) { Weights(static_cast<float>(t), w); }
};

struct Lanczos3Kernel {
  static constexpr int kTaps = 6;
  // L(d) = sinc(d)·sinc(d/3) = 3 sin(πd) sin(πd/3) / (π² d²) at d = t − k,
  // k = −2..3, with sin(π(t − k)) = (−1)^k sin(πt) and
  // sin(π(t − k)/3) = sin(πt/3) cos(πk/3) − cos(πt/3) sin(πk/3): three sines
  // an axis instead of twelve. The weights are scaled to sum to 1, so that a
  // flat image stays flat; computed in double, kept in float.
  static void Weights(double t, float* w) {
    if (t == 0) {
      for (int k = 0; k < 6; ++k) w[k] = k == 2 ? 1 : 0;
      return;
    }
    constexpr double pi = std::numbers::pi;
    constexpr double h = std::numbers::sqrt3 / 2;
    static constexpr double kCos[6] = {-0.5, 0.5, 1, 0.5, -0.5, -1};
    static constexpr double kSin[6] = {-h, -h, 0, h, h, 0};
    const double s = std::sin(pi * t), a = std::sin(pi * t / 3), b = std::cos(pi * t / 3);
    double wd[6], sum = 0;
    for (int k = 0; k < 6; ++k) {
      const double d = t - (k - 2);
      const double sign = (k % 2 == 0) ? 1 : -1;  // (−1)^(k − 2)
      wd[k] = 3 * (sign * s) * (a * kCos[k] - b * kSin[k]) / (pi * pi * d * d);
      sum += wd[k];
    }
    for (int k = 0; k < 6; ++k) w[k] = static_cast<float>(wd[k] / sum);
  }
};

inline int64_t Clamp(int64_t v, int64_t hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

// floor(v) for |v| < 2⁶², by truncation and a step down for negative
// fractions: std::floor is a library call on processors without SSE4.1, and
// this is in every point's path. Exact, as floor is.
inline double Floor(double v) {
  const auto t = static_cast<double>(static_cast<int64_t>(v));
  return t > v ? t - 1 : t;
}

template <typename S>
float Load(const uint8_t* p) {
  S v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<float>(v);
}

// The sum as a sample: integers rounded to nearest (floor(v + ½)) and
// clamped to their range; NaN (never from finite samples) gives 0.
template <typename S>
S Store(float v) {
  if constexpr (std::is_same_v<S, float>) {
    return v;
  } else {
    constexpr auto top = static_cast<float>(std::numeric_limits<S>::max());
    const float c = !(v > 0) ? 0 : (v > top ? top : v);
    return static_cast<S>(static_cast<int32_t>(c + 0.5f));  // c + ½ ≥ 0: truncation is floor
  }
}

// Whether (x, y) lies on the image's pixels; false for NaN.
inline bool Inside(const SourceImage& im, double x, double y) {
  return x >= -0.5 && x < static_cast<double>(im.width) - 0.5 && y >= -0.5 &&
         y < static_cast<double>(im.height) - 0.5;
}

// value = Σ_l wy_l (Σ_k wx_k I(column_k, row_l)), in this order, in float.
template <typename S, int T>
float Sum(const uint8_t* const rows[T], const size_t columns[T], const float* wx, const float* wy) {
  float value = 0;
  for (int l = 0; l < T; ++l) {
    float sum = 0;
    for (int k = 0; k < T; ++k) sum += wx[k] * Load<S>(rows[l] + columns[k]);
    value += wy[l] * sum;
  }
  return value;
}

// ---- The plain twin: point by point, every tap clamped --------------------

template <typename S, class K>
void PlainPoints(const SourceImage& im, const double* x, const double* y, int64_t n, S* out) {
  constexpr int T = K::kTaps;
  const int C = im.channels;
  for (int64_t p = 0; p < n; ++p) {
    S* to = out + p * C;
    if (!Inside(im, x[p], y[p])) {
      for (int c = 0; c < C; ++c) to[c] = 0;
      continue;
    }
    const double fx = Floor(x[p]), fy = Floor(y[p]);
    float wx[T], wy[T];
    K::Weights(x[p] - fx, wx);
    K::Weights(y[p] - fy, wy);
    const auto ix = static_cast<int64_t>(fx) - (T / 2 - 1);
    const auto iy = static_cast<int64_t>(fy) - (T / 2 - 1);
    for (int c = 0; c < C; ++c) {
      const uint8_t* rows[T];
      size_t columns[T];
      for (int k = 0; k < T; ++k) {
        rows[k] = im.data + static_cast<size_t>(Clamp(iy + k, im.height - 1)) * im.stride;
        columns[k] = (static_cast<size_t>(Clamp(ix + k, im.width - 1)) * static_cast<size_t>(C) +
                      static_cast<size_t>(c)) *
                     sizeof(S);
      }
      to[c] = Store<S>(Sum<S, T>(rows, columns, wx, wy));
    }
  }
}

// ---- The fast form ----------------------------------------------------------
// Channels and taps known at compile time; a point whose taps all lie on
// the image skips the clamps; grey 8- and 16-bit images go sixteen points
// at a time through AVX-512, or eight through AVX2, where the processor has it.

template <typename S, int C, class K>
void ScalarPoint(const SourceImage& im, double x, double y, S* to) {
  constexpr int T = K::kTaps;
  if (!Inside(im, x, y)) {
    for (int c = 0; c < C; ++c) to[c] = 0;
    return;
  }
  const double fx = Floor(x), fy = Floor(y);
  float wx[T], wy[T];
  K::Weights(x - fx, wx);
  K::Weights(y - fy, wy);
  const auto ix = static_cast<int64_t>(fx) - (T / 2 - 1);
  const auto iy = static_cast<int64_t>(fy) - (T / 2 - 1);
  const uint8_t* rows[T];
  size_t columns[T];
  if (ix >= 0 && iy >= 0 && ix + T <= im.width && iy + T <= im.height) {
    const uint8_t* first = im.data + static_cast<size_t>(iy) * im.stride;
    for (int k = 0; k < T; ++k) {
      rows[k] = first + static_cast<size_t>(k) * im.stride;
      columns[k] = static_cast<size_t>(ix + k) * C * sizeof(S);
    }
  } else {
    for (int k = 0; k < T; ++k) {
      rows[k] = im.data + static_cast<size_t>(Clamp(iy + k, im.height - 1)) * im.stride;
      columns[k] = static_cast<size_t>(Clamp(ix + k, im.width - 1)) * C * sizeof(S);
    }
  }
  for (int c = 0; c < C; ++c) {
    const uint8_t* shifted[T];
    for (int l = 0; l < T; ++l) shifted[l] = rows[l] + c * sizeof(S);
    to[c] = Store<S>(Sum<S, T>(shifted, columns, wx, wy));
  }
}

#if QOVA_RESAMPLE_AVX2

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// Eight grey points, each tap row read as one 32-bit word a point (a
// gather): the four bytes of a cubic's taps, or two 16-bit samples. The same
// float operations as Sum() and Store(), lane by lane. Returns false, doing
// nothing, unless all eight points and the words read lie on the image.
template <typename S, class K>
__attribute__((target("avx2"))) bool Avx2Eight(const SourceImage& im, const double* x,
                                               const double* y, S* out) {
  constexpr int T = K::kTaps;
  static_assert(T == 2 || T == 4);
  // Words of 4 bytes: a word per tap row for 8-bit (the cubic's four taps, or
  // the linear's two as its upper bytes), two for 16-bit cubic, one for 16-bit linear.
  constexpr int kPerWord = 4 / static_cast<int>(sizeof(S));
  constexpr int kWords = (T + kPerWord - 1) / kPerWord;
  // The first sample of the first word: the linear's taps sit at the word's end.
  constexpr int kLead = T == 2 && sizeof(S) == 1 ? 2 : 0;
  const __m256d x0 = _mm256_loadu_pd(x), x1 = _mm256_loadu_pd(x + 4);
  const __m256d y0 = _mm256_loadu_pd(y), y1 = _mm256_loadu_pd(y + 4);
  const __m256d fx0 = _mm256_floor_pd(x0), fx1 = _mm256_floor_pd(x1);
  const __m256d fy0 = _mm256_floor_pd(y0), fy1 = _mm256_floor_pd(y1);
  // Every point with its taps and words on the image: T/2 − 1 + kLead ≤ floor(x),
  // floor(x) + T/2 ≤ W − 1, likewise y (and so inside).
  const double lowX = T / 2 - 1 + kLead, lowY = T / 2 - 1;
  const auto w = static_cast<double>(im.width), h = static_cast<double>(im.height);
  const __m256d loX = _mm256_set1_pd(lowX), hiX = _mm256_set1_pd(w - 1 - T / 2);
  const __m256d loY = _mm256_set1_pd(lowY), hiY = _mm256_set1_pd(h - 1 - T / 2);
  const __m256d ok0 = _mm256_and_pd(
      _mm256_and_pd(_mm256_cmp_pd(fx0, loX, _CMP_GE_OQ), _mm256_cmp_pd(fx0, hiX, _CMP_LE_OQ)),
      _mm256_and_pd(_mm256_cmp_pd(fy0, loY, _CMP_GE_OQ), _mm256_cmp_pd(fy0, hiY, _CMP_LE_OQ)));
  const __m256d ok1 = _mm256_and_pd(
      _mm256_and_pd(_mm256_cmp_pd(fx1, loX, _CMP_GE_OQ), _mm256_cmp_pd(fx1, hiX, _CMP_LE_OQ)),
      _mm256_and_pd(_mm256_cmp_pd(fy1, loY, _CMP_GE_OQ), _mm256_cmp_pd(fy1, hiY, _CMP_LE_OQ)));
  if (_mm256_movemask_pd(_mm256_and_pd(ok0, ok1)) != 0xF) return false;

  const __m256 tx = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_sub_pd(x1, fx1)),
                                    _mm256_cvtpd_ps(_mm256_sub_pd(x0, fx0)));
  const __m256 ty = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_sub_pd(y1, fy1)),
                                    _mm256_cvtpd_ps(_mm256_sub_pd(y0, fy0)));
  __m256 wx[T], wy[T];
  const __m256 one = _mm256_set1_ps(1);
  if constexpr (T == 2) {
    wx[0] = _mm256_sub_ps(one, tx), wx[1] = tx;
    wy[0] = _mm256_sub_ps(one, ty), wy[1] = ty;
  } else {
    CubicKernel::Weights(tx, wx);
    CubicKernel::Weights(ty, wy);
  }
  // Byte offsets of the first word of the first tap row, 32-bit: the caller
  // sends only images under 2 GiB here.
  const __m256i ix = _mm256_set_m128i(_mm256_cvttpd_epi32(fx1), _mm256_cvttpd_epi32(fx0));
  const __m256i iy = _mm256_set_m128i(_mm256_cvttpd_epi32(fy1), _mm256_cvttpd_epi32(fy0));
  const __m256i stride = _mm256_set1_epi32(static_cast<int>(im.stride));
  const __m256i column =
      _mm256_mullo_epi32(_mm256_sub_epi32(ix, _mm256_set1_epi32(T / 2 - 1 + kLead)),
                         _mm256_set1_epi32(static_cast<int>(sizeof(S))));
  __m256i offset = _mm256_add_epi32(
      _mm256_mullo_epi32(_mm256_sub_epi32(iy, _mm256_set1_epi32(T / 2 - 1)), stride), column);
  const auto* base = reinterpret_cast<const int*>(im.data);
  __m256 value = _mm256_setzero_ps();
  for (int l = 0; l < T; ++l, offset = _mm256_add_epi32(offset, stride)) {
    __m256 sum = _mm256_setzero_ps();
    for (int word = 0; word < kWords; ++word) {
      const __m256i bits =
          _mm256_i32gather_epi32(base, _mm256_add_epi32(offset, _mm256_set1_epi32(4 * word)), 1);
      for (int s = 0; s < kPerWord; ++s) {
        const int k = word * kPerWord + s - kLead;
        if (k < 0 || k >= T) continue;
        const __m256i sample =
            sizeof(S) == 1
                ? _mm256_and_si256(_mm256_srli_epi32(bits, 8 * s), _mm256_set1_epi32(0xFF))
                : _mm256_and_si256(_mm256_srli_epi32(bits, 16 * s), _mm256_set1_epi32(0xFFFF));
        sum = _mm256_add_ps(sum, _mm256_mul_ps(wx[k], _mm256_cvtepi32_ps(sample)));
      }
    }
    value = _mm256_add_ps(value, _mm256_mul_ps(wy[l], sum));
  }
  // Store(): clamp to [0, top], + ½, truncate.
  const __m256 top = _mm256_set1_ps(static_cast<float>(std::numeric_limits<S>::max()));
  const __m256 zero = _mm256_setzero_ps();
  const __m256 positive = _mm256_cmp_ps(value, zero, _CMP_GT_OQ);
  __m256 c = _mm256_and_ps(value, positive);
  c = _mm256_blendv_ps(c, top, _mm256_cmp_ps(value, top, _CMP_GT_OQ));
  alignas(32) int32_t r[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(r),
                     _mm256_cvttps_epi32(_mm256_add_ps(c, _mm256_set1_ps(0.5f))));
  for (int p = 0; p < 8; ++p) out[p] = static_cast<S>(r[p]);
  return true;
}

bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f");
  return has;
}

// Lanes whose floor(x), floor(y) lie within [loX, hiX] × [loY, hiY].
__attribute__((target("avx512f"))) inline __mmask8 OnImage(__m512d fx, __m512d fy, __m512d loX,
                                                           __m512d hiX, __m512d loY, __m512d hiY) {
  return _mm512_cmp_pd_mask(fx, loX, _CMP_GE_OQ) & _mm512_cmp_pd_mask(fx, hiX, _CMP_LE_OQ) &
         _mm512_cmp_pd_mask(fy, loY, _CMP_GE_OQ) & _mm512_cmp_pd_mask(fy, hiY, _CMP_LE_OQ);
}

// Two halves of eight floats as one register of sixteen.
__attribute__((target("avx512f"))) inline __m512 Join(__m256 low, __m256 high) {
  return _mm512_castpd_ps(
      _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(low)), _mm256_castps_pd(high), 1));
}

// Avx2Eight for sixteen points: the same words gathered and the same float
// operations lane by lane, in half the instructions; the sums narrowed to
// samples in the register.
template <typename S, class K>
__attribute__((target("avx512f"))) bool Avx512Sixteen(const SourceImage& im, const double* x,
                                                      const double* y, S* out) {
  constexpr int T = K::kTaps;
  static_assert(T == 2 || T == 4);
  constexpr int kPerWord = 4 / static_cast<int>(sizeof(S));
  constexpr int kWords = (T + kPerWord - 1) / kPerWord;
  constexpr int kLead = T == 2 && sizeof(S) == 1 ? 2 : 0;
  constexpr int kDown = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
  const __m512d x0 = _mm512_loadu_pd(x), x1 = _mm512_loadu_pd(x + 8);
  const __m512d y0 = _mm512_loadu_pd(y), y1 = _mm512_loadu_pd(y + 8);
  const __m512d fx0 = _mm512_roundscale_pd(x0, kDown), fx1 = _mm512_roundscale_pd(x1, kDown);
  const __m512d fy0 = _mm512_roundscale_pd(y0, kDown), fy1 = _mm512_roundscale_pd(y1, kDown);
  const double lowX = T / 2 - 1 + kLead, lowY = T / 2 - 1;
  const auto w = static_cast<double>(im.width), h = static_cast<double>(im.height);
  const __m512d loX = _mm512_set1_pd(lowX), hiX = _mm512_set1_pd(w - 1 - T / 2);
  const __m512d loY = _mm512_set1_pd(lowY), hiY = _mm512_set1_pd(h - 1 - T / 2);
  if ((OnImage(fx0, fy0, loX, hiX, loY, hiY) & OnImage(fx1, fy1, loX, hiX, loY, hiY)) != 0xFF)
    return false;

  const __m512 tx =
      Join(_mm512_cvtpd_ps(_mm512_sub_pd(x0, fx0)), _mm512_cvtpd_ps(_mm512_sub_pd(x1, fx1)));
  const __m512 ty =
      Join(_mm512_cvtpd_ps(_mm512_sub_pd(y0, fy0)), _mm512_cvtpd_ps(_mm512_sub_pd(y1, fy1)));
  __m512 wx[T], wy[T];
  const __m512 one = _mm512_set1_ps(1);
  if constexpr (T == 2) {
    wx[0] = _mm512_sub_ps(one, tx), wx[1] = tx;
    wy[0] = _mm512_sub_ps(one, ty), wy[1] = ty;
  } else {
    CubicKernel::Weights(tx, wx);
    CubicKernel::Weights(ty, wy);
  }
  const __m512i ix = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(fx0)),
                                        _mm512_cvttpd_epi32(fx1), 1);
  const __m512i iy = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(fy0)),
                                        _mm512_cvttpd_epi32(fy1), 1);
  const __m512i stride = _mm512_set1_epi32(static_cast<int>(im.stride));
  const __m512i column =
      _mm512_mullo_epi32(_mm512_sub_epi32(ix, _mm512_set1_epi32(T / 2 - 1 + kLead)),
                         _mm512_set1_epi32(static_cast<int>(sizeof(S))));
  __m512i offset = _mm512_add_epi32(
      _mm512_mullo_epi32(_mm512_sub_epi32(iy, _mm512_set1_epi32(T / 2 - 1)), stride), column);
  __m512 value = _mm512_setzero_ps();
  for (int l = 0; l < T; ++l, offset = _mm512_add_epi32(offset, stride)) {
    __m512 sum = _mm512_setzero_ps();
    for (int word = 0; word < kWords; ++word) {
      const __m512i bits =
          _mm512_i32gather_epi32(_mm512_add_epi32(offset, _mm512_set1_epi32(4 * word)), im.data, 1);
      for (int s = 0; s < kPerWord; ++s) {
        const int k = word * kPerWord + s - kLead;
        if (k < 0 || k >= T) continue;
        const __m512i sample =
            sizeof(S) == 1
                ? _mm512_and_si512(_mm512_srli_epi32(bits, 8 * s), _mm512_set1_epi32(0xFF))
                : _mm512_and_si512(_mm512_srli_epi32(bits, 16 * s), _mm512_set1_epi32(0xFFFF));
        sum = _mm512_add_ps(sum, _mm512_mul_ps(wx[k], _mm512_cvtepi32_ps(sample)));
      }
    }
    value = _mm512_add_ps(value, _mm512_mul_ps(wy[l], sum));
  }
  // Store(): clamp to [0, top] (NaN to 0), + ½, truncate, narrow.
  const __m512 top = _mm512_set1_ps(static_cast<float>(std::numeric_limits<S>::max()));
  __m512 c = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(value, _mm512_setzero_ps(), _CMP_GT_OQ), value);
  c = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(value, top, _CMP_GT_OQ), c, top);
  const __m512i r = _mm512_cvttps_epi32(_mm512_add_ps(c, _mm512_set1_ps(0.5f)));
  if constexpr (sizeof(S) == 1)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtepi32_epi8(r));
  else
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtepi32_epi16(r));
  return true;
}

#endif

template <typename S, int C, class K>
void FastPoints(const SourceImage& im, [[maybe_unused]] SimdLevel most, const double* x,
                const double* y, int64_t n, S* out) {
  int64_t p = 0;
#if QOVA_RESAMPLE_AVX2
  if constexpr (C == 1 && !std::is_same_v<S, float> && K::kTaps <= 4) {
    // The gathers' offsets are 32-bit.
    const bool small = im.stride * static_cast<size_t>(im.height) < (size_t{1} << 31) &&
                       im.stride < (size_t{1} << 30);
    if (small && most >= SimdLevel::kAvx512 && HasAvx512())
      for (; p + 16 <= n; p += 16)
        if (!Avx512Sixteen<S, K>(im, x + p, y + p, out + p))
          for (int64_t q = p; q < p + 16; ++q) ScalarPoint<S, C, K>(im, x[q], y[q], out + q);
    if (small && most >= SimdLevel::kAvx2 && HasAvx2())
      for (; p + 8 <= n; p += 8)
        if (!Avx2Eight<S, K>(im, x + p, y + p, out + p))
          for (int64_t q = p; q < p + 8; ++q) ScalarPoint<S, C, K>(im, x[q], y[q], out + q);
  }
#endif
  for (; p < n; ++p) ScalarPoint<S, C, K>(im, x[p], y[p], out + p * C);
}

template <typename S, class K>
void FastByChannels(const SourceImage& im, SimdLevel most, const double* x, const double* y,
                    int64_t n, uint8_t* out) {
  S* o = reinterpret_cast<S*>(out);
  switch (im.channels) {
    case 1:
      return FastPoints<S, 1, K>(im, most, x, y, n, o);
    case 2:
      return FastPoints<S, 2, K>(im, most, x, y, n, o);
    case 3:
      return FastPoints<S, 3, K>(im, most, x, y, n, o);
    default:
      return FastPoints<S, 4, K>(im, most, x, y, n, o);
  }
}

template <class K>
void FastByType(const SourceImage& im, SimdLevel most, const double* x, const double* y, int64_t n,
                uint8_t* out) {
  switch (im.type) {
    case PixelType::kUint8:
      return FastByChannels<uint8_t, K>(im, most, x, y, n, out);
    case PixelType::kUint16:
      return FastByChannels<uint16_t, K>(im, most, x, y, n, out);
    case PixelType::kFloat32:
      return FastByChannels<float, K>(im, most, x, y, n, out);
  }
}

template <class K>
void PlainByType(const SourceImage& im, const double* x, const double* y, int64_t n, uint8_t* out) {
  switch (im.type) {
    case PixelType::kUint8:
      return PlainPoints<uint8_t, K>(im, x, y, n, out);
    case PixelType::kUint16:
      return PlainPoints<uint16_t, K>(im, x, y, n, reinterpret_cast<uint16_t*>(out));
    case PixelType::kFloat32:
      return PlainPoints<float, K>(im, x, y, n, reinterpret_cast<float*>(out));
  }
}

}  // namespace

std::optional<Interpolation> ParseInterpolation(std::string_view name) {
  if (name == "linear") return Interpolation::Linear;
  if (name == "cubic") return Interpolation::Cubic;
  if (name == "lanczos3") return Interpolation::Lanczos3;
  return std::nullopt;
}

std::string_view InterpolationName(Interpolation interpolation) {
  switch (interpolation) {
    case Interpolation::Linear:
      return "linear";
    case Interpolation::Cubic:
      return "cubic";
    case Interpolation::Lanczos3:
      return "lanczos3";
  }
  return "?";
}

int BytesOf(PixelType type) {
  switch (type) {
    case PixelType::kUint8:
      return 1;
    case PixelType::kUint16:
      return 2;
    case PixelType::kFloat32:
      return 4;
  }
  return 1;
}

void Resample(const SourceImage& image, Interpolation interpolation, const double* x,
              const double* y, int64_t n, uint8_t* out) {
  ResampleUpTo(SimdLevel::kAvx512, image, interpolation, x, y, n, out);
}

void ResampleUpTo(SimdLevel most, const SourceImage& image, Interpolation interpolation,
                  const double* x, const double* y, int64_t n, uint8_t* out) {
  switch (interpolation) {
    case Interpolation::Linear:
      return FastByType<LinearKernel>(image, most, x, y, n, out);
    case Interpolation::Cubic:
      return FastByType<CubicKernel>(image, most, x, y, n, out);
    case Interpolation::Lanczos3:
      return FastByType<Lanczos3Kernel>(image, most, x, y, n, out);
  }
}

SimdLevel ResampleSimdLevel() {
#if QOVA_RESAMPLE_AVX2
  if (HasAvx512()) return SimdLevel::kAvx512;
  if (HasAvx2()) return SimdLevel::kAvx2;
#endif
  return SimdLevel::kScalar;
}

void ResamplePlain(const SourceImage& image, Interpolation interpolation, const double* x,
                   const double* y, int64_t n, uint8_t* out) {
  switch (interpolation) {
    case Interpolation::Linear:
      return PlainByType<LinearKernel>(image, x, y, n, out);
    case Interpolation::Cubic:
      return PlainByType<CubicKernel>(image, x, y, n, out);
    case Interpolation::Lanczos3:
      return PlainByType<Lanczos3Kernel>(image, x, y, n, out);
  }
}

}  // namespace qova::calib
