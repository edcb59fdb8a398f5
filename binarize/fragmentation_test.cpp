// Division of a region into fragments, and the grid geometry beneath it.
#include "binarize/fragmentation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binarize/binarization.h"
#include "binarize/fragment_grid.h"
#include "core/checked_math.h"
#include "core/qova_error.h"
#include "tests/support/regions.h"
#include "tests/support/run_arrays.h"

namespace qova {
namespace {

class Fragmentation : public testing::Test {
 protected:
  // Adds a user region and returns its index.
  int32_t AddRegion(Corners corners) {
    regions.Append(MakeRegion(corners));
    return regions.Length() - 1;
  }
  // Fragments region r; the fragments stay as they were when it fails.
  void Fragment(int32_t r, int32_t nW, int32_t nH) {
    fragments = FragmentRegion(*regions[r], nW, nH);
  }
  // Corners of fragment i must be these, up to floating rounding.
  void ExpectFragment(int32_t i, Corners corners) {
    ASSERT_LT(i, fragments.Length());
    const SearchRegion& f = *fragments[i];
    ASSERT_EQ(f.Count(), 4);
    EXPECT_TRUE(f.OwnsItems());
    int32_t k = 0;
    for (const auto& [x, y] : corners) {
      EXPECT_NEAR(f.Get(k)->x, x, 1e-9) << "fragment " << i << " corner " << k;
      EXPECT_NEAR(f.Get(k)->y, y, 1e-9) << "fragment " << i << " corner " << k;
      ++k;
    }
  }

  RegionList regions;
  RegionList fragments;
};

TEST_F(Fragmentation, RectangleInTwoByTwo) {
  const int32_t r = AddRegion({{10, 10}, {110, 10}, {110, 60}, {10, 60}});
  Fragment(r, 2, 2);
  ASSERT_EQ(fragments.Length(), 4);
  ExpectFragment(0, {{10, 10}, {60, 10}, {60, 35}, {10, 35}});
  ExpectFragment(1, {{60, 10}, {110, 10}, {110, 35}, {60, 35}});
  ExpectFragment(2, {{10, 35}, {60, 35}, {60, 60}, {10, 60}});
  ExpectFragment(3, {{60, 35}, {110, 35}, {110, 60}, {60, 60}});
}

TEST_F(Fragmentation, QuadrilateralNodesAreCentreAndSideMidpoints) {
  const int32_t r = AddRegion({{20, 10}, {120, 30}, {110, 90}, {10, 70}});
  Fragment(r, 2, 2);
  ASSERT_EQ(fragments.Length(), 4);
  ExpectFragment(0, {{20, 10}, {70, 20}, {65, 50}, {15, 40}});
  ExpectFragment(1, {{70, 20}, {120, 30}, {115, 60}, {65, 50}});
  ExpectFragment(2, {{15, 40}, {65, 50}, {60, 80}, {10, 70}});
  ExpectFragment(3, {{65, 50}, {115, 60}, {110, 90}, {60, 80}});
}

TEST_F(Fragmentation, OneByOneIsTheRegionItself) {
  const int32_t r = AddRegion({{20, 10}, {120, 30}, {110, 90}, {10, 70}, {5, 5}});
  Fragment(r, 1, 1);
  ASSERT_EQ(fragments.Length(), 1);  // the fifth corner is ignored
  ExpectFragment(0, {{20, 10}, {120, 30}, {110, 90}, {10, 70}});
}

TEST_F(Fragmentation, FragmentsAreInRowOrder) {
  const int32_t r = AddRegion({{10, 10}, {110, 10}, {110, 60}, {10, 60}});
  Fragment(r, 4, 2);
  ASSERT_EQ(fragments.Length(), 8);
  ExpectFragment(0, {{10, 10}, {35, 10}, {35, 35}, {10, 35}});
  ExpectFragment(3, {{85, 10}, {110, 10}, {110, 35}, {85, 35}});
  ExpectFragment(5, {{35, 35}, {60, 35}, {60, 60}, {35, 60}});  // row 1, column 1
  ExpectFragment(7, {{85, 35}, {110, 35}, {110, 60}, {85, 60}});
}

TEST_F(Fragmentation, SharedEdgesBelongToTheLeftAndUpperFragment) {
  const int32_t r = AddRegion({{16, 16}, {80, 16}, {80, 48}, {16, 48}});
  Fragment(r, 2, 2);
  ASSERT_EQ(fragments.Length(), 4);
  ExpectFragment(0, {{16, 16}, {48, 16}, {48, 32}, {16, 32}});
  auto owners = [&](int32_t x, int32_t y) {
    std::vector<int32_t> in;
    for (int32_t i = 0; i < 4; ++i)
      if (PointInRegion(x, y, *fragments[i])) in.push_back(i);
    return in;
  };
  EXPECT_EQ(owners(48, 20), std::vector<int32_t>{0});  // vertical edge: the left one
  EXPECT_EQ(owners(30, 32), std::vector<int32_t>{0});  // horizontal edge: the upper one
  EXPECT_EQ(owners(60, 32), std::vector<int32_t>{1});
  EXPECT_EQ(owners(48, 40), std::vector<int32_t>{2});
  EXPECT_EQ(owners(48, 32), std::vector<int32_t>{1});  // a node: the fragment it is lower left of
  // No pixel lies in two fragments. The union is the region's interior except
  // at the nodes on its left and right sides, which follow the corner rule of
  // the fragments: (16, 32) is a lower left corner of fragment 0, (80, 32) the
  // lower right corner of fragment 1 and the upper right one of fragment 3.
  const SearchRegion& region = *regions[r];
  for (int32_t x = 10; x <= 90; ++x)
    for (int32_t y = 10; y <= 55; ++y) {
      ASSERT_LE(owners(x, y).size(), 1u) << x << "," << y;
      if ((x == 16 || x == 80) && y == 32) continue;
      ASSERT_EQ(owners(x, y).size(), PointInRegion(x, y, region) ? 1u : 0u) << x << "," << y;
    }
  EXPECT_EQ(owners(16, 32), std::vector<int32_t>{0});
  EXPECT_TRUE(owners(80, 32).empty());
}

TEST_F(Fragmentation, RegionWithACornerAtTheOrigin) {
  // The top and left grid lines pass through (0, 0), where a·x + b·y = −1
  // has no form.
  const int32_t r = AddRegion({{0, 0}, {100, 0}, {100, 50}, {0, 50}});
  Fragment(r, 2, 2);
  ASSERT_EQ(fragments.Length(), 4);
  ExpectFragment(0, {{0, 0}, {50, 0}, {50, 25}, {0, 25}});
  ExpectFragment(3, {{50, 25}, {100, 25}, {100, 50}, {50, 50}});

  // A side on the diagonal x = y.
  const int32_t d = AddRegion({{10, 10}, {90, 10}, {90, 70}, {40, 40}});
  Fragment(d, 2, 2);
  ExpectFragment(2, {{25, 25}, {57.5, 32.5}, {65, 55}, {40, 40}});
}

TEST_F(Fragmentation, FragmentsOfARegionAtTheOriginAreBinarized) {
  // Bright one-pixel lines at x = 10, 30, …, 110 on a dark ground.
  QImage image(120, 80, QImage::Format_RGB32);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x)
      image.setPixel(x, y, x % 20 == 10 ? qRgb(200, 200, 200) : qRgb(20, 20, 20));
  RunArrays run(image);
  const int32_t r = AddRegion({{0, 0}, {119, 0}, {119, 79}, {0, 79}});
  Fragment(r, 4, 4);
  ASSERT_EQ(fragments.Length(), 16);
  for (const auto& f : fragments) run.Statistics(*f);
  for (const auto& f : fragments) run.BinarizeAt(*f, Trunc(run.Threshold(*f)));
  // Exactly both neighbours of every line (gradient 90); the line's own
  // column has none. Row 0 lies on the region's top side, outside it.
  for (int x = 0; x < 120; ++x)
    for (int y = 1; y < 80; ++y)
      ASSERT_EQ(run.work.BinaryMask[x][y], x % 20 == 9 || x % 20 == 11) << x << "," << y;
}

TEST_F(Fragmentation, FragmentWithOnePixelFailsItsStatistics) {
  QImage grey(20, 20, QImage::Format_RGB32);
  grey.fill(Qt::gray);
  RunArrays run(grey);
  const int32_t r = AddRegion({{10, 10}, {12, 10}, {12, 12}, {10, 12}});
  Fragment(r, 2, 2);
  ASSERT_EQ(fragments.Length(), 4);
  // Fragment 0 is the square (10, 10)-(11, 11): only (10, 11) lies inside.
  EXPECT_THROW(run.Statistics(*fragments[0]), ArithmeticError);
}

TEST_F(Fragmentation, ASecondRegionReplacesTheFragments) {
  const int32_t a = AddRegion({{10, 10}, {110, 10}, {110, 60}, {10, 60}});
  const int32_t b = AddRegion({{20, 10}, {120, 30}, {110, 90}, {10, 70}});
  Fragment(a, 4, 4);
  ASSERT_EQ(fragments.Length(), 16);
  Fragment(b, 1, 1);
  ASSERT_EQ(fragments.Length(), 1);
  ExpectFragment(0, {{20, 10}, {120, 30}, {110, 90}, {10, 70}});
}

TEST_F(Fragmentation, FailuresLeaveTheFragmentsAsTheyWere) {
  const int32_t good = AddRegion({{10, 10}, {110, 10}, {110, 60}, {10, 60}});
  const int32_t three = AddRegion({{10, 10}, {110, 10}, {110, 60}});
  const int32_t flat = AddRegion({{10, 10}, {20, 10}, {30, 10}, {40, 10}});
  Fragment(good, 2, 2);
  try {
    Fragment(three, 2, 2);
    FAIL() << "three corners fragmented";
  } catch (const RangeError& e) {
    EXPECT_STREQ(e.what(), "Index out of bounds ListOfT::Get");
  }
  // All grid lines on one straight line: parallel, no crossing.
  EXPECT_THROW(Fragment(flat, 2, 2), ArithmeticError);
  EXPECT_THROW(Fragment(7, 2, 2), RangeError);
  ASSERT_EQ(fragments.Length(), 4);
  ExpectFragment(3, {{60, 35}, {110, 35}, {110, 60}, {60, 60}});
}

TEST_F(Fragmentation, RefusesCountsThatDescribeNoGrid) {
  const int32_t r = AddRegion({{10, 10}, {110, 10}, {110, 60}, {10, 60}});
  for (auto [w, h] : {std::pair{0, 2},
                      {2, 0},
                      {-2, -2},
                      {2, -1},
                      {-1, -1},
                      {257, 2},
                      {2, 100000},
                      {2147483647, 2147483647}}) {
    try {
      Fragment(r, w, h);
      ADD_FAILURE() << w << " x " << h << " accepted";
    } catch (const ArithmeticError&) {
      ADD_FAILURE() << w << " x " << h << " should be refused with its own message";
    } catch (const QovaError& e) {
      EXPECT_NE(std::string(e.what()).find("FragmentationWidth = " + std::to_string(w)),
                std::string::npos);
    }
  }
  EXPECT_EQ(fragments.Length(), 0);
  Fragment(r, 256, 1);
  EXPECT_EQ(fragments.Length(), 256);
}

// Which pixel falls into which fragment depends on the last bit of the nodes:
// every corner must be the node formula's own result, computed here in the
// written order on a skewed region with fractional corners.
TEST_F(Fragmentation, NodesAreTheFormulasBitForBit) {
  const double P[4][2] = {{20.3, 10.7}, {121.9, 33.1}, {108.2, 91.6}, {9.4, 68.8}};
  const int32_t r =
      AddRegion({{P[0][0], P[0][1]}, {P[1][0], P[1][1]}, {P[2][0], P[2][1]}, {P[3][0], P[3][1]}});
  const int nW = 3, nH = 2;
  Fragment(r, nW, nH);
  ASSERT_EQ(fragments.Length(), nW * nH);
  auto divide = [](const double* a, const double* b, int k, int n, double* out) {
    if (k == 0) return (void)(out[0] = a[0], out[1] = a[1]);
    if (k == n) return (void)(out[0] = b[0], out[1] = b[1]);
    out[0] = k * ((b[0] - a[0]) / n) + a[0];
    out[1] = k * ((b[1] - a[1]) / n) + a[1];
  };
  auto line = [](const double* p1, const double* p2, double* a, double* b) {
    *a = (p2[1] - p1[1]) / (p2[0] * p1[1] - p2[1] * p1[0]);
    *b = (p1[0] - p2[0]) / (p2[0] * p1[1] - p2[1] * p1[0]);
  };
  auto node = [&](int row, int col, double* n) {
    double l[2], rt[2], t[2], b[2], ar, br, ac, bc;
    divide(P[0], P[3], row, nH, l);
    divide(P[1], P[2], row, nH, rt);
    divide(P[0], P[1], col, nW, t);
    divide(P[3], P[2], col, nW, b);
    line(l, rt, &ar, &br);
    line(t, b, &ac, &bc);
    const double e = ar * bc - ac * br;
    n[0] = (br - bc) / e;
    n[1] = (ac - ar) / e;
  };
  for (int row = 0; row < nH; ++row)
    for (int col = 0; col < nW; ++col) {
      const SearchRegion& f = *fragments[row * nW + col];
      const int corners[4][2] = {{row, col}, {row, col + 1}, {row + 1, col + 1}, {row + 1, col}};
      for (int k = 0; k < 4; ++k) {
        double n[2];
        node(corners[k][0], corners[k][1], n);
        EXPECT_EQ(f.Get(k)->x, n[0]) << row << "," << col << " corner " << k;
        EXPECT_EQ(f.Get(k)->y, n[1]) << row << "," << col << " corner " << k;
      }
    }
}

TEST(FragmentGrid, DivisionPointsFollowTheFormula) {
  const auto d = DivideSide({20, 10}, {120, 30}, 3);
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0].x, 20.0);
  EXPECT_EQ(d[1].x, 1 * (100.0 / 3) + 20);
  EXPECT_EQ(d[2].x, 2 * (100.0 / 3) + 20);
  EXPECT_EQ(d[2].y, 2 * (20.0 / 3) + 10);
  EXPECT_EQ(d[3].x, 120.0);  // the end point exactly, not computed
}

TEST(FragmentGrid, CrossingsByTheLineFormAndTheGeneralFormula) {
  const GridLine row = LineThrough({10, 35}, {110, 35});
  const GridLine column = LineThrough({60, 10}, {60, 60});
  ASSERT_TRUE(row.hasForm);
  EXPECT_EQ(row.a, 0.0);
  EXPECT_EQ(row.b, -100.0 / 3500);
  const GridPoint n = CrossLines(row, column);
  EXPECT_NEAR(n.x, 60, 1e-12);
  EXPECT_NEAR(n.y, 35, 1e-12);

  // Through the origin: no form, crossed by the general formula.
  const GridLine diagonal = LineThrough({10, 10}, {40, 40});
  EXPECT_FALSE(diagonal.hasForm);
  const GridPoint m = CrossLines(LineThrough({0, 30}, {100, 30}), diagonal);
  EXPECT_NEAR(m.x, 30, 1e-12);
  EXPECT_NEAR(m.y, 30, 1e-12);
  const GridPoint o = CrossLines(LineThrough({0, 0}, {100, 0}), LineThrough({0, 0}, {0, 50}));
  EXPECT_EQ(o.x, 0.0);
  EXPECT_EQ(o.y, 0.0);

  // Parallel lines, with and without the form, and a line of one point.
  EXPECT_THROW(CrossLines(LineThrough({0, 10}, {10, 10}), LineThrough({0, 20}, {10, 20})),
               ArithmeticError);
  EXPECT_THROW(CrossLines(diagonal, LineThrough({0, 0}, {5, 5})), ArithmeticError);
  EXPECT_THROW(CrossLines(diagonal, LineThrough({7, 0}, {7, 0})), ArithmeticError);
}

}  // namespace
}  // namespace qova
