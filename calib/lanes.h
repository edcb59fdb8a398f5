#pragma once
// Eight doubles side by side for the calibration's kernels: one AVX-512
// register, two AVX2 ones, four SSE2 ones, with the same lane-wise
// operations on each. A kernel marked QOVA_LANE_CLONES is compiled once for
// each of those widths and the processor's own is chosen at run time; as
// each form does the same operations in the same order (no fused
// multiply-adds: the build keeps -ffp-contract=off), each gives the same bits.

#if QOVA_SIMD && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QOVA_LANE_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define QOVA_LANE_CLONES
#endif

// The helpers take and give vectors wider than the default target's
// registers; they are inlined into the kernels and never cross a call
// between objects, so the ABI note does not concern them.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace qova::calib::lanes {

typedef double Lanes __attribute__((vector_size(64), aligned(8), may_alias));
constexpr int kLanes = 8;

inline Lanes Load(const double* p) { return *reinterpret_cast<const Lanes*>(p); }
inline void Store(double* p, Lanes v) { *reinterpret_cast<Lanes*>(p) = v; }

// The eight lanes' sum by a fixed tree of pairs.
inline double Sum(Lanes v) {
  return ((v[0] + v[1]) + (v[2] + v[3])) + ((v[4] + v[5]) + (v[6] + v[7]));
}

}  // namespace qova::calib::lanes
