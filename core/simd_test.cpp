// Every SIMD kernel against its scalar twin, bit for bit, on random data and
// on the values at the edges of each kernel's rule.
#include "core/simd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

namespace qova::simd {
namespace {

TEST(Simd, GradientPairEqualsItsTwin) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> brightness(0, 255);
  const double edges[] = {0, 255, 85.0 / 3, 1e-300, 0.1};
  for (int trial = 0; trial < 20000; ++trial) {
    double v[4][2];
    for (auto& pair : v)
      for (double& x : pair) x = trial % 5 == 0 ? edges[rng() % 5] : brightness(rng);
    double fast[2], plain[2];
    GradientPair(v[0], v[1], v[2], v[3], 2.0, fast);
    GradientPairScalar(v[0], v[1], v[2], v[3], 2.0, plain);
    ASSERT_EQ(std::memcmp(fast, plain, sizeof fast), 0) << trial;
  }
}

TEST(Simd, StoreExcept16EqualsItsTwin) {
  std::mt19937 rng(12);
  for (int trial = 0; trial < 5000; ++trial) {
    uint8_t from[16], fast[16], plain[16];
    // None, some and all sixteen bytes equal to the marker.
    const int share = trial % 3;
    for (uint8_t& b : from)
      b = share == 0 ? 7 : share == 2 ? 255 : (rng() % 2 ? 255 : static_cast<uint8_t>(rng()));
    for (int k = 0; k < 16; ++k) fast[k] = plain[k] = static_cast<uint8_t>(rng());
    StoreExcept16(from, fast, 255);
    StoreExcept16Scalar(from, plain, 255);
    ASSERT_EQ(std::memcmp(fast, plain, 16), 0) << trial;
  }
}

TEST(Simd, CountNonZero16EqualsItsTwin) {
  std::mt19937 rng(13);
  uint8_t cells[256];
  for (int trial = 0; trial < 5000; ++trial) {
    const unsigned density = static_cast<unsigned>(trial % 4);
    for (uint8_t& c : cells) c = rng() % 4 < density ? static_cast<uint8_t>(rng() | 1) : 0;
    const int32_t n = 16 * (trial % 17);
    ASSERT_EQ(CountNonZero16(cells, n), CountNonZero16Scalar(cells, n)) << trial;
  }
  std::memset(cells, 0xFF, sizeof cells);
  EXPECT_EQ(CountNonZero16(cells, 256), 256);
}

TEST(Simd, Transpose16x16EqualsItsTwin) {
  std::mt19937 rng(14);
  uint8_t block[16][20], fast[16][20], plain[16][20];  // rows longer than 16: only 16 are read
  for (auto& row : block)
    for (uint8_t& b : row) b = static_cast<uint8_t>(rng());
  std::memset(fast, 0, sizeof fast);
  std::memset(plain, 0, sizeof plain);
  const uint8_t* from[16];
  uint8_t *toFast[16], *toPlain[16];
  for (int k = 0; k < 16; ++k) from[k] = block[k] + 2, toFast[k] = fast[k], toPlain[k] = plain[k];
  Transpose16x16(from, toFast);
  Transpose16x16Scalar(from, toPlain);
  EXPECT_EQ(std::memcmp(fast, plain, sizeof fast), 0);
  for (int m = 0; m < 16; ++m)
    for (int k = 0; k < 16; ++k) ASSERT_EQ(plain[m][k], block[k][m + 2]);
}

}  // namespace
}  // namespace qova::simd
