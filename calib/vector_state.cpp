#include "calib/vector_state.h"

namespace qova::calib {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

namespace {

// Out of line, so that no caller holds an AVX value across it (the upper
// halves are the caller's to save in any case).
__attribute__((target("avx"), noinline)) void ZeroUpper() { __builtin_ia32_vzeroupper(); }

}  // namespace

void ClearUpperVectorState() {
  static const bool avx = __builtin_cpu_supports("avx");
  if (avx) ZeroUpper();
}

#else

void ClearUpperVectorState() {}

#endif

}  // namespace qova::calib
