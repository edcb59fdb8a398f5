#include "detect/band_collectors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "core/checked_math.h"
#include "detect/band_count.h"
#include "detect/detect_test_support.h"
#include "detect/plain_band.h"
#include "detect/transposed_mask.h"

namespace qova {
namespace {

using testing::DetectState;

BandSide Side(int32_t code) { return static_cast<BandSide>(code); }
using testing::PointList;
using testing::Points;

PointList Points(const Band& band) {
  PointList out;
  for (const BandPixel& p : band) out.emplace_back(p.x, p.y);
  return out;
}

// Pixels (x, y) for x in [x0, x1] and, within each x, y in [y0, y1]; stored
// transposed as (y, x) when asked.
PointList Block(int x0, int x1, int y0, int y1, bool transposed = false) {
  PointList out;
  for (int x = x0; x <= x1; ++x)
    for (int y = y0; y <= y1; ++y) transposed ? out.emplace_back(y, x) : out.emplace_back(x, y);
  return out;
}

class CollectorsOnFullMask : public ::testing::Test {
 protected:
  CollectorsOnFullMask() : st(40, 40) { st.SetAll(); }
  DetectState st;
};

TEST_F(CollectorsOnFullMask, HorizontalWindowReachesBySide) {
  const VT_Point centre(10, 20);
  VT_Points band(1);
  CollectHorizontalBand(st.s.Mask(), Side(1), {0, 20}, {centre, 1.5, 5}, band);
  EXPECT_EQ(Points(band), Block(10, 15, 19, 21));
  band.Clear();
  CollectHorizontalBand(st.s.Mask(), Side(2), {0, 20}, {centre, 1.5, 5}, band);
  EXPECT_EQ(Points(band), Block(5, 10, 19, 21));
  band.Clear();
  CollectHorizontalBand(st.s.Mask(), Side(3), {0, 20}, {centre, 1.5, 5}, band);
  EXPECT_EQ(Points(band), Block(5, 15, 19, 21));
}

TEST_F(CollectorsOnFullMask, VerticalWindowReachesBySideAndStoresTransposed) {
  const VT_Point centre(10, 20);
  VT_Points band(1);
  CollectVerticalBand(st.s.Mask(), Side(1), {0, 10}, {centre, 1.5, 5}, band);
  EXPECT_EQ(Points(band), Block(9, 11, 15, 20, true));
  band.Clear();
  CollectVerticalBand(st.s.Mask(), Side(2), {0, 10}, {centre, 1.5, 5}, band);
  EXPECT_EQ(Points(band), Block(9, 11, 20, 25, true));
  Band plain;
  CollectVerticalBand(st.s.Mask(), Side(2), {0, 10}, {centre, 1.5, 5}, plain);
  EXPECT_EQ(Points(plain), Block(9, 11, 20, 25, true));
}

TEST_F(CollectorsOnFullMask, PixelsExactlyAtTheLimitsAreCollected) {
  // Distance 1 from the line and foot distance 4 from the centre, both limits.
  VT_Points band(1);
  CollectHorizontalBand(st.s.Mask(), Side(3), {0, 20}, {VT_Point(10, 20), 1.0, 4}, band);
  EXPECT_EQ(Points(band), Block(6, 14, 19, 21));
  band.Clear();
  CollectHorizontalBand(st.s.Mask(), Side(3), {0, 20}, {VT_Point(10, 20), 0.999, 3.999}, band);
  EXPECT_EQ(Points(band), Block(7, 13, 20, 20));
}

TEST_F(CollectorsOnFullMask, BoxIsClippedAtTheImageBorder) {
  VT_Points band(1);
  CollectHorizontalBand(st.s.Mask(), Side(3), {0, 0}, {VT_Point(1, 0), 1.5, 5}, band);
  EXPECT_EQ(Points(band), Block(0, 6, 0, 1));
  band.Clear();
  CollectVerticalBand(st.s.Mask(), Side(3), {0, 39}, {VT_Point(39, 37), 1.5, 5}, band);
  EXPECT_EQ(Points(band), Block(38, 39, 32, 39, true));
  band.Clear();
  CollectHorizontalBand(st.s.Mask(), Side(3), {0, -20}, {VT_Point(-20, -20), 1.5, 5}, band);
  EXPECT_EQ(band.Count(), 0);
}

// One band call in either direction, for comparing what the collectors
// build with what the counts say.
struct BandCall {
  bool horizontal;
  int32_t side;
  VT_Point centre;
  double c, d, e, slope;

  BandLine Line() const { return {slope, e}; }
  BandWindow Window() const { return {centre, c, d}; }

  Band Collected(const MaskView& mask) const {
    Band band;
    if (horizontal)
      CollectHorizontalBand(mask, Side(side), Line(), Window(), band);
    else
      CollectVerticalBand(mask, Side(side), Line(), Window(), band);
    return band;
  }
  // The plain transcription's band.
  Band Plain(const MaskView& mask) const {
    return PlainCollect(mask, horizontal, Side(side), Line(), Window());
  }
  // The count in the mask; a horizontal band's count in the transposed mask
  // must be the same.
  int64_t Counted(const MaskView& mask, const TransposedMask& rows) const {
    if (!horizontal) return CountVerticalBand(mask, Side(side), Line(), Window());
    const int64_t count = CountHorizontalBand(mask, Side(side), Line(), Window());
    EXPECT_EQ(CountHorizontalBand(rows, Side(side), Line(), Window()), count) << "transposed";
    return count;
  }
};

TEST(Collectors, EqualThePlainLoopOnRandomMasks) {
  std::mt19937 rng(20261209);
  std::uniform_real_distribution<double> unit(0, 1);
  const double slopes[] = {0, 1e-9, -1e-9, 0.013, -0.04, 0.5, -1, 3.7, -25, 400};
  int collected = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const int w = 20 + static_cast<int>(unit(rng) * 60), h = 20 + static_cast<int>(unit(rng) * 60);
    DetectState st(w, h);
    const double density = trial % 4 == 0 ? 1.0 : unit(rng);
    for (int x = 0; x < w; ++x)
      for (int y = 0; y < h; ++y)
        if (unit(rng) < density) st.s.BinaryMask[x][y] = static_cast<uint8_t>(1 + trial % 3);
    const bool horizontal = trial % 2 == 0;
    const double slope = trial % 3 == 0 ? slopes[trial / 3 % 10] : (unit(rng) - 0.5) * 0.6;
    // Whole or fractional centres, some beyond the border.
    double cx = -8 + unit(rng) * (w + 16), cy = -8 + unit(rng) * (h + 16);
    if (trial % 5 == 0) cx = std::round(cx), cy = std::round(cy);
    const double c = trial % 7 == 0 ? std::round(unit(rng) * 4) * 0.5 : unit(rng) * 4;
    const double d = trial % 11 == 0 ? std::round(unit(rng) * 30) : unit(rng) * 30;
    const double e = horizontal ? cy - slope * cx + (unit(rng) - 0.5) * 3
                                : cx - slope * cy + (unit(rng) - 0.5) * 3;
    const int32_t side = 1 + trial % 3;
    const BandCall call{horizontal, side, VT_Point(cx, cy), c, d, e, slope};
    const Band plain = call.Plain(st.s.Mask());
    ASSERT_EQ(Points(call.Collected(st.s.Mask())), Points(plain))
        << "trial " << trial << " slope " << slope << " centre " << cx << "," << cy;
    ASSERT_EQ(call.Counted(st.s.Mask(), TransposedMask(st.s.Mask())),
              static_cast<int64_t>(plain.size()))
        << "trial " << trial;
    collected += static_cast<int>(plain.size());
  }
  EXPECT_GT(collected, 10000);  // the comparison saw real bands
}

TEST(Collectors, EqualThePlainLoopFarFromTheOrigin) {
  // Large coordinates along the step direction, as at the far end of a big
  // image: the row bound must keep its margin there too.
  std::mt19937 rng(4096);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int trial = 0; trial < 400; ++trial) {
    const bool horizontal = trial % 2 == 0;
    const int along = 4100, across = 48;
    DetectState st(horizontal ? along : across, horizontal ? across : along);
    const double far = along - 40 + unit(rng) * 30, mid = 8 + unit(rng) * 32;
    const double cx = horizontal ? far : mid, cy = horizontal ? mid : far;
    for (int x = std::max(0, static_cast<int>(cx) - 40);
         x < std::min(st.s.ImageWidth, static_cast<int>(cx) + 40); ++x)
      for (int y = std::max(0, static_cast<int>(cy) - 40);
           y < std::min(st.s.ImageHeight, static_cast<int>(cy) + 40); ++y)
        if (unit(rng) < 0.6) st.s.BinaryMask[x][y] = 1;
    const double slope = (unit(rng) - 0.5) * (trial % 5 == 0 ? 40 : 0.2);
    const double c = (1 + trial % 6) * 0.5, d = 5 + unit(rng) * 30;
    const double e = horizontal ? cy - slope * cx : cx - slope * cy;
    const int32_t side = 1 + trial % 3;
    const BandCall call{horizontal, side, VT_Point(cx, cy), c, d, e, slope};
    const Band plain = call.Plain(st.s.Mask());
    ASSERT_EQ(Points(call.Collected(st.s.Mask())), Points(plain)) << "trial " << trial;
    ASSERT_EQ(call.Counted(st.s.Mask(), TransposedMask(st.s.Mask())),
              static_cast<int64_t>(plain.size()))
        << "trial " << trial;
  }
}

// The count a walk uses at every step equals the size of the band the
// collector builds, also where pixels sit exactly on the edges of the band:
// whole and half-pixel widths and lengths, centres on pixels, slopes that are
// exact binary fractions (so that distances come out exact), the slopes
// where the geometry shortcut ends (±1) and beyond it.
TEST(Collectors, CountEqualsTheBandOnItsEdges) {
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> unit(0, 1);
  const double slopes[] = {0, 0.25, -0.5, 0.0625, 1, -1, 1.0000001, 2, 1e-12, -3e-7};
  int64_t counted = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    DetectState st(64, 64);
    const double density = trial % 3 == 0 ? 1.0 : 0.3 + 0.7 * unit(rng);
    for (int x = 0; x < 64; ++x)
      for (int y = 0; y < 64; ++y)
        if (unit(rng) < density) st.s.BinaryMask[x][y] = 1;
    const bool horizontal = trial % 2 == 0;
    const double slope = slopes[trial / 2 % 10];
    const double cx = 10 + std::round(unit(rng) * 44), cy = 10 + std::round(unit(rng) * 44);
    const double c = std::round(unit(rng) * 10) * 0.5, d = std::round(unit(rng) * 40) * 0.5;
    // The line through the centre, or a whole pixel beside it.
    const double shift = trial % 4 == 1 ? 1.0 : 0.0;
    const double e = horizontal ? cy - slope * cx + shift : cx - slope * cy + shift;
    const int32_t side = trial % 5 == 0 ? 1 + trial % 2 : 3;
    const BandCall call{horizontal, side, VT_Point(cx, cy), c, d, e, slope};
    const int64_t count = call.Counted(st.s.Mask(), TransposedMask(st.s.Mask()));
    ASSERT_EQ(count, static_cast<int64_t>(call.Collected(st.s.Mask()).size()))
        << "trial " << trial << " slope " << slope << " c " << c << " d " << d;
    counted += count;
  }
  EXPECT_GT(counted, 100000);
}

// Windows shaped as the refinement's: a few pixels thick, a cell long, on
// slightly turned lines through fractional centres.
TEST(Collectors, CountEqualsTheBandOnLongThinWindows) {
  std::mt19937 rng(1369);
  std::uniform_real_distribution<double> unit(0, 1);
  DetectState st(230, 230);
  for (int x = 0; x < 230; ++x)
    for (int y = 0; y < 230; ++y)
      if (unit(rng) < 0.5) st.s.BinaryMask[x][y] = 1;
  const TransposedMask rows(st.s.Mask());
  for (int trial = 0; trial < 600; ++trial) {
    const bool horizontal = trial % 2 == 0;
    const double slope = (unit(rng) - 0.5) * 0.1;
    const double cx = 20 + unit(rng) * 190, cy = 20 + unit(rng) * 190;
    const double c = 0.5 + 0.5 * (trial % 5), d = 60 + unit(rng) * 30;
    const double e = horizontal ? cy - slope * cx : cx - slope * cy;
    const BandCall call{horizontal, 3, VT_Point(cx, cy), c, d, e, slope};
    ASSERT_EQ(call.Counted(st.s.Mask(), rows),
              static_cast<int64_t>(call.Collected(st.s.Mask()).size()))
        << "trial " << trial;
  }
}

// The transposed mask holds every cell of the image's part of the mask,
// across whole 8 × 8 blocks and the ragged edges alike.
TEST(TransposedMask, ExchangesRowsAndColumns) {
  std::mt19937 rng(8);
  for (const auto& [w, h] : {std::pair{1, 1}, {8, 8}, {13, 70}, {67, 9}, {130, 129}}) {
    DetectState st(w, h);
    for (int x = 0; x < w; ++x)
      for (int y = 0; y < h; ++y) st.s.BinaryMask[x][y] = static_cast<uint8_t>(rng());
    const TransposedMask t(st.s.Mask());
    ASSERT_EQ(t.Cells().Width(), h);
    ASSERT_EQ(t.Cells().Height(), w);
    for (int x = 0; x < w; ++x)
      for (int y = 0; y < h; ++y)
        ASSERT_EQ(t.Cells()[y][x], st.s.BinaryMask[x][y]) << x << "," << y;
  }
}

// Mask cells hold other non-zero values than 1 in the count's word-wide
// path too (the top bit set, or only the low bits).
TEST(Collectors, CountTakesEveryNonZeroCellAsSet) {
  DetectState st(40, 40);
  const uint8_t values[] = {1, 2, 127, 128, 255, 0, 64};
  for (int x = 0; x < 40; ++x)
    for (int y = 0; y < 40; ++y) st.s.BinaryMask[x][y] = values[(x * 7 + y) % 7];
  Band band;
  CollectHorizontalBand(st.s.Mask(), Side(3), {0.01, 20}, {VT_Point(20, 20), 6, 15}, band);
  EXPECT_EQ(CountHorizontalBand(st.s.Mask(), Side(3), {0.01, 20}, {VT_Point(20, 20), 6, 15}),
            static_cast<int64_t>(band.size()));
  band.clear();
  CollectVerticalBand(st.s.Mask(), Side(3), {-0.01, 20}, {VT_Point(20, 20), 6, 15}, band);
  EXPECT_EQ(CountVerticalBand(st.s.Mask(), Side(3), {-0.01, 20}, {VT_Point(20, 20), 6, 15}),
            static_cast<int64_t>(band.size()));
  EXPECT_GT(band.size(), 200u);
}

}  // namespace
}  // namespace qova
