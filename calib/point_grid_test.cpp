#include "calib/point_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

namespace qova::calib {
namespace {

// Points that tie: a lattice (equal distances from its crossings and from
// the points between them), some of its points twice, and scattered ones.
std::vector<Vec2> TyingPoints() {
  std::vector<Vec2> points;
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 15; ++c) points.emplace_back(10 + 8 * c, 20 + 8 * r);
  for (int i = 0; i < 180; i += 7) points.push_back(points[static_cast<size_t>(i)]);
  std::mt19937 random(5);
  std::uniform_real_distribution<double> x(-5, 140), y(0, 125);
  for (int i = 0; i < 60; ++i) points.emplace_back(x(random), y(random));
  return points;
}

// Within, ForEachWithin and both forms of Nearest against a search of every
// point, from points of the set (ties), between them and outside the grid.
TEST(PointGrid, AnswersAsASearchOfEveryPoint) {
  const std::vector<Vec2> points = TyingPoints();
  std::vector<Vec2> queries(points.begin(), points.begin() + 200);
  for (double x = -30; x < 170; x += 13.5)
    for (double y = -30; y < 160; y += 11) queries.emplace_back(x, y);
  for (const double cell : {0.0, 4.0, 30.0}) {
    const PointGrid grid(points, cell);
    std::vector<std::pair<double, int>> scratch;
    std::vector<int> nearest;
    for (size_t q = 0; q < queries.size(); ++q) {
      const Vec2& p = queries[q];
      for (const double radius : {0.0, 4.0, 8.0, 11.4, 25.0}) {
        std::vector<int> expected;
        for (size_t i = 0; i < points.size(); ++i)
          if ((points[i] - p).norm() <= radius) expected.push_back(static_cast<int>(i));
        EXPECT_EQ(grid.Within(p, radius), expected) << q << " " << radius;
        std::vector<int> visited;
        grid.ForEachWithin(p, radius, [&](int i) { visited.push_back(i); });
        std::sort(visited.begin(), visited.end());
        EXPECT_EQ(visited, expected) << q << " " << radius;
      }
      const int self = q < points.size() ? static_cast<int>(q) : -1;
      std::vector<std::pair<double, int>> all;
      for (size_t i = 0; i < points.size(); ++i)
        if (static_cast<int>(i) != self)
          all.push_back({(points[i] - p).norm(), static_cast<int>(i)});
      std::sort(all.begin(), all.end());
      for (const int k : {1, 4, 8, 30}) {
        std::vector<int> expected;
        for (int i = 0; i < k; ++i) expected.push_back(all[static_cast<size_t>(i)].second);
        EXPECT_EQ(grid.Nearest(p, k, self), expected) << q << " " << k;
        grid.Nearest(p, k, self, scratch, nearest);
        EXPECT_EQ(nearest, expected) << q << " " << k;
      }
    }
  }
}

}  // namespace
}  // namespace qova::calib
