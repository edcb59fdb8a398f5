#pragma once
// The innermost loop of a row's template fit, beside its scalar twin: the
// SSE2 form is compiled where the build option QOVA_SIMD is on (core/simd.h);
// the twin is always compiled, and the two give the same bits (each lane
// does the twin's operations in the twin's order).

#include <cstddef>

#include "core/simd.h"

namespace qova::precise {

// The sums of one Gauss-Newton step over a row's samples D_i: with
// T_i = T(s0 + i) and P_i = T'(s0 + i) interpolated with weight f between
// two nodes of the template's table, held for sample i at quads[4i ...] as
// (T, T' at the node below, T, T' at the node above): ΣT, ΣP, ΣT², ΣT·P,
// ΣP², ΣD·T and ΣD·P.
struct TemplateSums {
  double t = 0, p = 0, tt = 0, tp = 0, pp = 0, dt = 0, dp = 0;
};

inline TemplateSums TemplateStepSumsScalar(const double* quads, double f, const double* d, int n) {
  TemplateSums s;
  for (int i = 0; i < n; ++i) {
    const double* a = quads + 4 * i;
    const double t = a[0] + f * (a[2] - a[0]), p = a[1] + f * (a[3] - a[1]);
    s.t += t, s.p += p, s.tt += t * t, s.tp += t * p, s.pp += p * p;
    s.dt += d[i] * t, s.dp += d[i] * p;
  }
  return s;
}

inline TemplateSums TemplateStepSums(const double* quads, double f, const double* d, int n) {
#if QOVA_SSE2
  // One register holds (T, P): the value and the slope ride side by side.
  const __m128d weight = _mm_set1_pd(f);
  __m128d sum = _mm_setzero_pd(), squares = sum, cross = sum, data = sum;
  for (int i = 0; i < n; ++i) {
    const double* a = quads + 4 * i;
    const __m128d lo = _mm_loadu_pd(a), hi = _mm_loadu_pd(a + 2);
    const __m128d tp = _mm_add_pd(lo, _mm_mul_pd(weight, _mm_sub_pd(hi, lo)));
    sum = _mm_add_pd(sum, tp);
    squares = _mm_add_pd(squares, _mm_mul_pd(tp, tp));
    cross = _mm_add_pd(cross, _mm_mul_pd(tp, _mm_shuffle_pd(tp, tp, 1)));
    data = _mm_add_pd(data, _mm_mul_pd(_mm_set1_pd(d[i]), tp));
  }
  TemplateSums s;
  _mm_storel_pd(&s.t, sum), _mm_storeh_pd(&s.p, sum);
  _mm_storel_pd(&s.tt, squares), _mm_storeh_pd(&s.pp, squares);
  _mm_storel_pd(&s.tp, cross);
  _mm_storel_pd(&s.dt, data), _mm_storeh_pd(&s.dp, data);
  return s;
#else
  return TemplateStepSumsScalar(quads, f, d, n);
#endif
}

}  // namespace qova::precise
