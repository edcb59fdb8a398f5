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

// Under a strong perspective the diagonals can win the vote of directions
// (each point has as many diagonal as axis neighbours, and the axes' angles
// spread more): the basis is still the axes, not a diagonal and an axis.
TEST(Lattice, BasisOfAStrongPerspectiveIsTheAxes) {
  // A 40 px grid turned by 0.8°, seen through the homography
  // p = c + R·e/(1 − t·e), e = (q − c)/R, about the centre of a 1160 × 900
  // image, t = (0.06, −0.04); the points jittered as the detection finds them.
  const Vec2 c{580, 450};
  const double r = std::hypot(580.0, 450.0), turn = 0.8 * M_PI / 180;
  const Vec2 tilt{0.06, -0.04};
  std::mt19937 random(6);
  std::uniform_real_distribution<double> jitter(-0.8, 0.8);
  std::vector<Vec2> points;
  for (int i = -12; i <= 12; ++i)
    for (int j = -9; j <= 9; ++j) {
      const Vec2 q = c + Vec2{std::cos(turn), std::sin(turn)} * (40.0 * i) +
                     Vec2{-std::sin(turn), std::cos(turn)} * (40.0 * j);
      const Vec2 e = (q - c) * (1 / r);
      const Vec2 p = c + e * (r / (1 - Dot(tilt, e)));
      if (p.x >= 140 && p.x <= 1090 && p.y >= 105 && p.y <= 800)
        points.push_back(p + Vec2{jitter(random), jitter(random)});
    }
  const auto basis = EstimateBasis(points, PreciseParams{});
  ASSERT_TRUE(basis);
  EXPECT_NEAR(basis->a.x, 40, 4);
  EXPECT_NEAR(basis->a.y, 0.56, 1.5);
  EXPECT_NEAR(basis->b.x, -0.56, 1.5);
  EXPECT_NEAR(basis->b.y, 40, 4);
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
