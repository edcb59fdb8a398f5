#pragma once
// splitmix64: a tiny generator whose output depends only on its seed, so the
// same parameters give the same pixels on every machine and library.

#include <cstdint>
#include <numbers>

namespace qova {

struct SplitMix {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Approximately standard normal: the sum of four uniforms (Irwin-Hall),
  // centred and scaled to unit variance. Cheap enough for 64 megapixels.
  double Gaussian() {
    const uint64_t a = Next(), b = Next();
    constexpr double kUnit = 1.0 / 4294967296.0;
    const double sum =
        static_cast<double>(a & 0xFFFFFFFFu) * kUnit + static_cast<double>(a >> 32) * kUnit +
        static_cast<double>(b & 0xFFFFFFFFu) * kUnit + static_cast<double>(b >> 32) * kUnit;
    return (sum - 2.0) * std::numbers::sqrt3;
  }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
};

}  // namespace qova
