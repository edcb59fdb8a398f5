#include "calib/lattice_index.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>

#include "calib/calib_error.h"
#include "synth/lattice_distortion.h"

namespace qova::calib {
namespace {

// The column and row the convention gives a true crossing (c, r), up to an
// offset: the column along the true axis nearer the x axis, growing to the
// right, the row growing downward.
std::array<int, 2> Expected(const LatticeDistortion& d, int c, int r) {
  const SynthXY p = d.ToImage(c, r), pc = d.ToImage(c + 1, r), pr = d.ToImage(c, r + 1);
  const Vec2 ac(pc.x - p.x, pc.y - p.y), ar(pr.x - p.x, pr.y - p.y);
  if (std::fabs(ac.x()) / ac.norm() >= std::fabs(ar.x()) / ar.norm())
    return {ac.x() > 0 ? c : -c, ar.y() > 0 ? r : -r};
  return {ar.x() > 0 ? r : -r, ac.y() > 0 ? c : -c};
}

struct Check {
  int indexed = 0, crossings = 0, dustIndexed = 0, wrong = 0;
};

// Every crossing point indexed with (column, row) − Expected the same for all
// (pairwise differences equal the truth's), and no dust indexed.
Check CheckIndices(const LatticeDistortion& d, const std::vector<LatticePoint>& points,
                   const Indexing& ix, int frame = 0) {
  Check check;
  std::optional<std::array<int, 2>> shift;
  for (size_t i = 0; i < points.size(); ++i) {
    const int c = ix.crossingOf[i];
    if (points[i].dust) {
      check.dustIndexed += c >= 0;
      continue;
    }
    ++check.crossings;
    if (c < 0 || ix.crossings[static_cast<size_t>(c)].frame != frame) continue;
    ++check.indexed;
    const auto e = Expected(d, points[i].column, points[i].row);
    const std::array<int, 2> s{ix.crossings[static_cast<size_t>(c)].column - e[0],
                               ix.crossings[static_cast<size_t>(c)].row - e[1]};
    if (!shift) shift = s;
    check.wrong += s != *shift;
  }
  return check;
}

IndexInput Input(const std::vector<LatticePoint>& points) {
  IndexInput in;
  for (const LatticePoint& p : points) in.points.emplace_back(p.x, p.y);
  return in;
}

TEST(LatticeIndex, RotationsUpToFortyFiveDegreesAndBeyond) {
  for (const double angle : {-44.5, -30.0, -12.0, 0.0, 3.0, 20.0, 44.5, 60.0, 95.0, 150.0, 200.0}) {
    LatticePlateParams setup;
    setup.distortion.width = 3000, setup.distortion.height = 3000;
    setup.distortion.originX = 1500, setup.distortion.originY = 1500;
    setup.distortion.angleDeg = angle;
    setup.distortion.pitchX = 60, setup.distortion.pitchY = 55;
    // A perspective and a barrel turn the local axes by degrees across the
    // image: not near 45°, where the axis nearer x would change on the way.
    if (std::fabs(std::remainder(angle, 90.0)) < 40)
      setup.distortion.tiltX = 0.05, setup.distortion.k1 = -0.02;
    setup.firstColumn = -12, setup.firstRow = -10, setup.columns = 24, setup.rows = 20;
    setup.noise = 0.05;
    const auto points = MakeLatticePoints(setup);
    const Indexing ix = IndexLattice(Input(points));
    const Check check = CheckIndices(setup.distortion, points, ix);
    EXPECT_EQ(check.indexed, check.crossings) << angle;
    EXPECT_EQ(check.wrong, 0) << angle;
    EXPECT_EQ(ix.frames, 1) << angle;
  }
}

TEST(LatticeIndex, TheColumnGrowsRightTheRowDownAndZeroIsNearestTheOrigin) {
  LatticePlateParams setup;
  setup.distortion.angleDeg = 30;
  setup.distortion.originX = 600, setup.distortion.originY = 300;
  setup.columns = 10, setup.rows = 8;
  const auto points = MakeLatticePoints(setup);
  IndexInput in = Input(points);
  in.origin = Vec2(600 + 1, 300 - 2);  // beside the true crossing (0, 0)
  const Indexing ix = IndexLattice(in);
  for (size_t i = 0; i < points.size(); ++i) {
    const Crossing& c = ix.crossings[static_cast<size_t>(ix.crossingOf[i])];
    // At 30° the true axes are the convention's: the truth itself.
    EXPECT_EQ(c.column, points[i].column);
    EXPECT_EQ(c.row, points[i].row);
  }
}

TEST(LatticeIndex, MissingCrossingsLeaveGapsDustIsLeftOutDuplicatesShareAnIndex) {
  LatticePlateParams setup;
  setup.distortion.angleDeg = -17;
  setup.distortion.originX = 300, setup.distortion.originY = 700;
  setup.columns = 30, setup.rows = 22, setup.noise = 0.1;
  setup.missing = 0.15, setup.dust = 40, setup.duplicates = 0.05;
  setup.seed = 7;
  auto points = MakeLatticePoints(setup);
  // A whole missing row and two missing columns next to each other, which
  // the walk must step over without shifting what lies beyond.
  std::erase_if(points, [](const LatticePoint& p) {
    return !p.dust && (p.row == 9 || p.column == 14 || p.column == 15);
  });
  const Indexing ix = IndexLattice(Input(points));
  const Check check = CheckIndices(setup.distortion, points, ix);
  EXPECT_EQ(check.indexed, check.crossings);
  EXPECT_EQ(check.wrong, 0);
  EXPECT_EQ(check.dustIndexed, 0);
  int dust = 0;
  for (const LatticePoint& p : points) dust += p.dust;
  EXPECT_EQ(static_cast<int>(ix.unindexed.size()), dust);
  // Each duplicate shares its crossing with the first report.
  size_t pairs = 0;
  for (size_t i = 0; i < points.size(); ++i)
    if (points[i].duplicate) {
      ++pairs;
      EXPECT_EQ(ix.crossingOf[i], ix.crossingOf[i - 1]);
    }
  EXPECT_EQ(ix.duplicates.size(), pairs);
  EXPECT_GT(pairs, 0u);
}

TEST(LatticeIndex, TwoRegionsOfOnePlateShareAFrame) {
  LatticePlateParams setup;
  setup.distortion.width = 3000, setup.distortion.height = 2000;
  setup.distortion.angleDeg = 30, setup.distortion.tiltX = 0.08, setup.distortion.tiltY = -0.04;
  setup.distortion.originX = 900, setup.distortion.originY = 150;
  setup.columns = 40, setup.rows = 30, setup.noise = 0.05;
  auto points = MakeLatticePoints(setup);
  // Two regions with three columns between them that neither holds.
  IndexInput in;
  std::vector<LatticePoint> kept;
  for (const LatticePoint& p : points) {
    if (p.column >= 14 && p.column < 17) continue;
    kept.push_back(p);
    in.points.emplace_back(p.x, p.y);
    in.region.push_back(p.column < 14 ? 0 : 1);
  }
  const Indexing ix = IndexLattice(in);
  EXPECT_EQ(ix.frames, 1);
  ASSERT_EQ(ix.regions.size(), 2u);
  EXPECT_TRUE(ix.regions[1].joined);
  const Check check = CheckIndices(setup.distortion, kept, ix);
  EXPECT_EQ(check.indexed, check.crossings);
  EXPECT_EQ(check.wrong, 0);
}

TEST(LatticeIndex, ARegionOfAnotherPlateGetsAFrameOfItsOwn) {
  LatticePlateParams first, second;
  first.distortion.angleDeg = 5, first.columns = 12, first.rows = 10;
  first.distortion.originX = 100, first.distortion.originY = 100;
  second.distortion = first.distortion;
  second.distortion.angleDeg = 14;  // another plate, turned
  second.distortion.originX = 1200, second.distortion.originY = 300;
  second.distortion.pitchX = second.distortion.pitchY = 47;
  second.columns = 10, second.rows = 10;
  const auto a = MakeLatticePoints(first), b = MakeLatticePoints(second);
  IndexInput in;
  for (const auto& p : a) in.points.emplace_back(p.x, p.y), in.region.push_back(0);
  for (const auto& p : b) in.points.emplace_back(p.x, p.y), in.region.push_back(1);
  const Indexing ix = IndexLattice(in);
  EXPECT_EQ(ix.frames, 2);
  ASSERT_EQ(ix.regions.size(), 2u);
  EXPECT_FALSE(ix.regions[1].joined);
  EXPECT_EQ(ix.regions[1].frame, 1);
  EXPECT_FALSE(ix.regions[1].note.empty());
  EXPECT_EQ(CheckIndices(
                second.distortion, b,
                [&] {
                  Indexing only = ix;
                  only.crossingOf.erase(only.crossingOf.begin(),
                                        only.crossingOf.begin() + static_cast<long>(a.size()));
                  return only;
                }(),
                1)
                .wrong,
            0);
}

TEST(LatticeIndex, BadInputIsRefusedWithAReason) {
  IndexInput in;
  in.points = {Vec2(0, 0), Vec2(NAN, 1)};
  try {
    IndexLattice(in);
    FAIL();
  } catch (const CalibError& e) {
    EXPECT_EQ(e.cause(), CalibCause::BadInput);
  }
  in.points = {Vec2(0, 0), Vec2(1, 1)};
  in.region = {0};
  EXPECT_THROW(IndexLattice(in), CalibError);
  // Points on one line show no lattice: nothing is indexed, the region says why.
  in.region.clear();
  in.points.clear();
  for (int k = 0; k < 10; ++k) in.points.emplace_back(10 * k, 5);
  const Indexing ix = IndexLattice(in);
  EXPECT_EQ(ix.frames, 0);
  EXPECT_EQ(ix.unindexed.size(), 0u);
  ASSERT_EQ(ix.regions.size(), 1u);
  EXPECT_EQ(ix.regions[0].frame, -1);
}

}  // namespace
}  // namespace qova::calib
