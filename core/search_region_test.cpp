#include "core/search_region.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <random>
#include <utility>

#include "core/qova_error.h"

namespace qova {
namespace {

std::unique_ptr<SearchRegion> Region(std::initializer_list<std::pair<double, double>> corners) {
  auto region = std::make_unique<SearchRegion>(1);
  for (auto [x, y] : corners) region->AddNew(x, y);
  return region;
}

bool In(int x, int y, const SearchRegion& r) { return PointInRegion(x, y, r); }

TEST(RegionBox, SquareAndFractionalCorners) {
  const auto square = Region({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  EXPECT_EQ(RegionMinX(*square), 0);
  EXPECT_EQ(RegionMinY(*square), 0);
  EXPECT_EQ(RegionMaxX(*square), 10);
  EXPECT_EQ(RegionMaxY(*square), 10);

  const auto frac = Region({{5.5, 8.2}, {2.7, 3.9}, {7.9, 9.99}});
  EXPECT_EQ(RegionMinX(*frac), 2);
  EXPECT_EQ(RegionMinY(*frac), 3);
  EXPECT_EQ(RegionMaxX(*frac), 7);
  EXPECT_EQ(RegionMaxY(*frac), 9);

  // Truncation toward zero, also for negative corners.
  const auto neg = Region({{-2.7, -0.5}, {-1.2, 4}});
  EXPECT_EQ(RegionMinX(*neg), -2);
  EXPECT_EQ(RegionMaxX(*neg), -1);
  EXPECT_EQ(RegionMinY(*neg), 0);
}

TEST(RegionBox, EmptyRegionBoxDoesNotLoop) {
  const SearchRegion empty(1);
  EXPECT_EQ(RegionMinX(empty), 100000);
  EXPECT_EQ(RegionMaxX(empty), -100000);
  EXPECT_EQ(RegionMinY(empty), 100000);
  EXPECT_EQ(RegionMaxY(empty), -100000);
}

TEST(PointInRegion, SquareEdgeRules) {
  const auto sq = Region({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  EXPECT_TRUE(In(5, 5, *sq));
  EXPECT_FALSE(In(0, 5, *sq));  // left side
  EXPECT_TRUE(In(10, 5, *sq));  // right side
  EXPECT_FALSE(In(5, 0, *sq));  // top side
  EXPECT_TRUE(In(5, 10, *sq));  // bottom side
  EXPECT_FALSE(In(0, 0, *sq));  // corners
  EXPECT_FALSE(In(10, 0, *sq));
  EXPECT_FALSE(In(10, 10, *sq));
  EXPECT_TRUE(In(0, 10, *sq));
  EXPECT_FALSE(In(11, 5, *sq));
  EXPECT_FALSE(In(-1, 5, *sq));
  EXPECT_FALSE(In(5, 11, *sq));
  EXPECT_FALSE(In(5, -1, *sq));
}

TEST(PointInRegion, SquareMarkedCounterClockwiseAnswersTheSame) {
  const auto cw = Region({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  const auto ccw = Region({{0, 10}, {10, 10}, {10, 0}, {0, 0}});
  for (int y = -2; y <= 12; ++y)
    for (int x = -2; x <= 12; ++x) EXPECT_EQ(In(x, y, *cw), In(x, y, *ccw)) << x << "," << y;
}

TEST(PointInRegion, Diamond) {
  const auto d = Region({{5, 0}, {10, 5}, {5, 10}, {0, 5}});
  EXPECT_TRUE(In(3, 5, *d));
  EXPECT_TRUE(In(5, 5, *d));
  EXPECT_FALSE(In(12, 5, *d));
  EXPECT_FALSE(In(-2, 5, *d));
  EXPECT_FALSE(In(5, 0, *d));
  EXPECT_FALSE(In(5, 10, *d));
}

TEST(PointInRegion, DegenerateRegionsContainNothing) {
  const SearchRegion empty(1);
  const auto one = Region({{5, 5}});
  const auto two = Region({{0, 0}, {10, 10}});
  for (int y = -1; y <= 11; ++y)
    for (int x = -1; x <= 11; ++x) {
      EXPECT_FALSE(In(x, y, empty));
      EXPECT_FALSE(In(x, y, *one));
      EXPECT_FALSE(In(x, y, *two));
    }
}

TEST(PointInRegion, LShapeExcludesItsNotch) {
  // 20 × 20 with the top-right 10 × 10 quarter cut away.
  const auto l = Region({{0, 0}, {10, 0}, {10, 10}, {20, 10}, {20, 20}, {0, 20}});
  EXPECT_TRUE(In(5, 5, *l));
  EXPECT_TRUE(In(15, 15, *l));
  EXPECT_TRUE(In(5, 15, *l));
  EXPECT_FALSE(In(15, 5, *l));  // the notch
  EXPECT_FALSE(In(19, 1, *l));
  EXPECT_TRUE(In(10, 5, *l));  // the notch's left side is the shape's right side
  EXPECT_FALSE(In(11, 5, *l));
}

TEST(PointInRegion, FractionalCorners) {
  const auto r = Region({{2.7, 3.9}, {8.2, 3.9}, {8.2, 9.5}, {2.7, 9.5}});
  EXPECT_FALSE(In(2, 5, *r));
  EXPECT_TRUE(In(3, 5, *r));
  EXPECT_TRUE(In(8, 5, *r));
  EXPECT_FALSE(In(9, 5, *r));
  EXPECT_FALSE(In(5, 3, *r));
  EXPECT_TRUE(In(5, 4, *r));
  EXPECT_TRUE(In(5, 9, *r));
  EXPECT_FALSE(In(5, 10, *r));
}

// RegionInterior must answer exactly as PointInRegion: the stages pick either.
void ExpectInteriorMatches(const SearchRegion& region) {
  const RegionInterior interior(region);
  const int x0 = RegionMinX(region) - 2, x1 = RegionMaxX(region) + 2;
  const int y0 = RegionMinY(region) - 2, y1 = RegionMaxY(region) + 2;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      if (interior.Contains(x, y) != PointInRegion(x, y, region)) {
        std::string corners;
        for (int i = 0; i < region.Count(); ++i)
          corners += " (" + std::to_string(region.Get(i)->x) + ", " +
                     std::to_string(region.Get(i)->y) + ")";
        FAIL() << "pixel (" << x << ", " << y << ") differs for" << corners;
      }
}

TEST(RegionInterior, MatchesPointInRegionOnHandPickedShapes) {
  ExpectInteriorMatches(*Region({{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
  ExpectInteriorMatches(*Region({{5, 0}, {10, 5}, {5, 10}, {0, 5}}));
  ExpectInteriorMatches(*Region({{0, 0}, {10, 0}, {10, 10}, {20, 10}, {20, 20}, {0, 20}}));
  ExpectInteriorMatches(*Region({{2.7, 3.9}, {8.2, 3.9}, {8.2, 9.5}, {2.7, 9.5}}));
  ExpectInteriorMatches(*Region({{0, 0}, {10, 10}, {10, 0}, {0, 10}}));  // bow tie
  ExpectInteriorMatches(*Region({{-5.5, -3}, {4, -7.25}, {6, 2}}));      // negative corners
  ExpectInteriorMatches(*Region({{3, 3}}));
  ExpectInteriorMatches(*Region({{0, 0}, {9, 4}}));
  ExpectInteriorMatches(SearchRegion(1));
}

TEST(RegionInterior, MatchesPointInRegionOnRandomPolygons) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> cornerCount(3, 8);
  std::uniform_int_distribution<int> coord(0, 30);
  std::uniform_int_distribution<int> kind(0, 5);
  for (int trial = 0; trial < 400; ++trial) {
    SearchRegion region(1);
    const int n = cornerCount(rng);
    double lastY = 0;
    for (int i = 0; i < n; ++i) {
      double x = coord(rng), y = coord(rng);
      switch (kind(rng)) {
        case 0:  // fractional corner
          x += coord(rng) / 31.0;
          y += coord(rng) / 31.0;
          break;
        case 1:  // half-pixel corner, on the rounding edge of both bounds
          x += 0.5;
          y += 0.5;
          break;
        case 2:  // horizontal edge from the previous corner
          if (i > 0) y = lastY;
          break;
        case 3:  // shares y with the first corner
          if (i > 0) y = region.Get(0)->y;
          break;
        default:  // whole pixels, as the mouse places them
          break;
      }
      region.AddNew(x, y);
      lastY = y;
    }
    ExpectInteriorMatches(region);
    if (HasFatalFailure()) return;
  }
}

TEST(RegionInterior, BoundingBoxIsTheRegions) {
  const auto r = Region({{2.7, 3.9}, {8.2, 3.9}, {8.2, 9.5}});
  const RegionInterior interior(*r);
  EXPECT_EQ(interior.MinX, 2);
  EXPECT_EQ(interior.MaxX, 8);
  EXPECT_EQ(interior.MinY, 3);
  EXPECT_EQ(interior.MaxY, 9);
}

TEST(RegionGeometry, CornerBeyondIntRangeRaises) {
  const auto r = Region({{0, 0}, {3e9, 0}, {0, 5}});
  EXPECT_THROW(RegionMaxX(*r), ArithmeticError);
}

}  // namespace
}  // namespace qova
