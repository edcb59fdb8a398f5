// The lattice from scattered points: its two vectors through false points,
// duplicates and jitter, and every point's index through missing rows.
#include "precise/lattice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace qova::precise {
namespace {

// A turned lattice of 40 × 55 px cells, `columns` × `rows` points, each
// jittered by up to `jitter` px; rows listed in `skip` left out.
struct Grid {
  Vec2 a{40 * std::cos(0.05), 40 * std::sin(0.05)};
  Vec2 b{-55 * std::sin(0.05), 55 * std::cos(0.05)};
  Vec2 origin{30, 20};
  Vec2 At(int i, int j) const { return origin + a * i + b * j; }
};

std::vector<Vec2> Points(const Grid& g, int columns, int rows, double jitter, unsigned seed,
                         std::vector<int> skip = {}) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-jitter, jitter);
  std::vector<Vec2> points;
  for (int i = 0; i < columns; ++i)
    for (int j = 0; j < rows; ++j)
      if (std::find(skip.begin(), skip.end(), j) == skip.end())
        points.push_back(g.At(i, j) + Vec2{unit(random), unit(random)});
  return points;
}

TEST(Lattice, BasisThroughFalsePointsDuplicatesAndJitter) {
  const Grid g;
  std::vector<Vec2> points = Points(g, 12, 9, 2, 1);
  std::mt19937 random(2);
  std::uniform_real_distribution<double> x(0, 480), y(0, 500);
  const size_t real = points.size();
  for (size_t k = 0; k < real / 10; ++k) points.push_back({x(random), y(random)});
  for (size_t k = 0; k < real; k += 3) points.push_back(points[k] + Vec2{0.7, -0.4});
  const auto basis = EstimateBasis(points, PreciseParams{});
  ASSERT_TRUE(basis);
  EXPECT_NEAR(basis->a.x, g.a.x, 1);
  EXPECT_NEAR(basis->a.y, g.a.y, 1);
  EXPECT_NEAR(basis->b.x, g.b.x, 1);
  EXPECT_NEAR(basis->b.y, g.b.y, 1);
  EXPECT_NEAR(basis->pmin, 40, 1);

  // Too few points, or all on one line, show no lattice.
  EXPECT_FALSE(EstimateBasis(std::vector<Vec2>{{0, 0}, {40, 0}}, PreciseParams{}));
  std::vector<Vec2> line;
  for (int k = 0; k < 30; ++k) line.push_back({10.0 + 40 * k, 100});
  EXPECT_FALSE(EstimateBasis(line, PreciseParams{}));
}

TEST(Lattice, IndicesAcrossMissingRowsWithDuplicatesMerged) {
  const Grid g;
  std::vector<Vec2> points = Points(g, 10, 10, 1.5, 3, {4, 5});
  const size_t distinct = points.size();
  for (size_t k = 0; k < distinct; k += 4) points.push_back(points[k] + Vec2{1, 1});
  const auto basis = EstimateBasis(points, PreciseParams{});
  ASSERT_TRUE(basis);
  const Lattice lattice = BuildLattice(points, *basis, PreciseParams{});
  ASSERT_EQ(lattice.nodes.size(), distinct);
  // One index offset maps every node onto the grid it was drawn from.
  const LatticeNode& first = lattice.nodes.front();
  const double det = Cross(g.a, g.b);
  const Vec2 d = first.position - g.origin;
  const int i0 = static_cast<int>(std::lround(Cross(d, g.b) / det)) - first.i;
  const int j0 = static_cast<int>(std::lround(Cross(g.a, d) / det)) - first.j;
  for (const LatticeNode& n : lattice.nodes) {
    const Vec2 expected = g.At(n.i + i0, n.j + j0);
    EXPECT_LT(Distance(n.position, expected), 3) << n.i << " " << n.j;
    EXPECT_EQ(lattice.NodeAt(n.i, n.j), &n - lattice.nodes.data());
  }
  size_t merged = 0;
  for (const LatticeNode& n : lattice.nodes) merged += n.members.size() > 1;
  EXPECT_EQ(merged, (distinct + 3) / 4);
}

}  // namespace
}  // namespace qova::precise
