// The working arrays: zeroed cells, and memory only for the pages a region
// touches, with huge pages or without.
#include "core/pixel_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace qova {
namespace {

long ResidentBytes() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

TEST(PixelArray, LargeArrayIsZeroedAndKeepsEveryColumnApart) {
  PixelArray<double> a;
  a.Allocate(1500, 1001);  // 12 MB: a block of its own, not a multiple of 2 MiB
  ASSERT_TRUE(a.Allocated());
  for (int32_t x = 0; x < a.Width(); x += 7) {
    EXPECT_EQ(a[x][0], 0.0);
    EXPECT_EQ(a[x][1000], 0.0);
  }
  for (int32_t x = 0; x < a.Width(); ++x) a[x][1000] = x;  // the last cell of every column
  a[1499][1000] = -1;
  for (int32_t x = 0; x < a.Width() - 1; ++x) ASSERT_EQ(a[x][1000], x);
  EXPECT_EQ(a.At(1499, 1000), -1);
  EXPECT_THROW(a.At(1500, 0), RangeError);

  // Allocated again: zeroed again, the old block given back.
  a.Allocate(1500, 1001);
  EXPECT_EQ(a[700][1000], 0.0);
  a.Release();
  EXPECT_FALSE(a.Allocated());
  PixelArray<uint8_t> small;
  small.Allocate(3, 5);
  EXPECT_EQ(small[2][4], 0);
}

TEST(PixelArray, SmallRegionOfAHugeImageCostsLittleMemory) {
  // 10000 × 10000 doubles: 800 MB, of which a 200 × 200 region touches one
  // run of columns.
  PixelArray<double> a;
  a.Allocate(10000, 10000);
  const long before = ResidentBytes();
  for (int32_t x = 5000; x < 5200; ++x)
    for (int32_t y = 5000; y < 5200; ++y) a[x][y] = 1;
  const long grown = ResidentBytes() - before;
  EXPECT_LT(grown, 64L << 20) << grown;
}

}  // namespace
}  // namespace qova
