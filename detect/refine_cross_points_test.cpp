#include <gtest/gtest.h>

#include "detect/cross_nodes.h"
#include "detect/detect_test_support.h"
#include "detect/validate_lines.h"

namespace qova {
namespace {

using testing::DetectState;

// Three vertical and three horizontal lines, three pixels thick, centred on
// 50, 100 and 150, in a 200 × 200 mask; the region holds all nine crossings.
class Grid3x3 : public ::testing::Test {
 protected:
  Grid3x3() : st(200, 200) {
    for (int c = 50; c <= 150; c += 50) {
      st.SetRect(c - 1, 0, c + 1, 199);
      st.SetRect(0, c - 1, 199, c + 1);
      st.s.VerticalLines.AddNew(0, c);
      st.s.HorizontalLines.AddNew(0, c);
    }
    region = st.AddRegion({{20, 20}, {180, 20}, {180, 180}, {20, 180}});
    st.FindCrossNodes(region);
  }
  DetectState st;
  int32_t region = 0;
};

TEST_F(Grid3x3, EveryCrossingRefinedInNodeOrder) {
  // Every node has a neighbour in each direction, so the region's corners are
  // never needed: without them the refinement must still succeed.
  ASSERT_EQ(st.s.CrossNodes.Length(), 9);
  st.s.Regions[region]->Clear();
  EXPECT_EQ(st.RefineCrossPoints(region), RefineOutcome::Complete);
  ASSERT_EQ(st.s.FoundPoints.Count(), 9);
  for (int v = 0; v < 3; ++v)
    for (int h = 0; h < 3; ++h) {
      const VT_Point* p = st.s.FoundPoints.Get(v * 3 + h);
      EXPECT_EQ(p->x, 50 + 50 * v) << v << "," << h;
      EXPECT_EQ(p->y, 50 + 50 * h) << v << "," << h;
    }
  EXPECT_TRUE(st.shown.markers.empty());  // only in step mode
}

TEST_F(Grid3x3, PointsAreAppendedAfterEarlierRegions) {
  st.s.FoundPoints.AddNew(-1, -1);
  EXPECT_EQ(st.RefineCrossPoints(region), RefineOutcome::Complete);
  ASSERT_EQ(st.s.FoundPoints.Count(), 10);
  EXPECT_EQ(st.s.FoundPoints.Get(0)->x, -1);
  EXPECT_EQ(st.s.FoundPoints.Get(1)->x, 50);
}

TEST_F(Grid3x3, StepModeMarksEachPoint) {
  st.s.Steps = true;
  EXPECT_EQ(st.RefineCrossPoints(region), RefineOutcome::Complete);
  ASSERT_EQ(st.shown.markers.size(), 9u);
  EXPECT_EQ(st.shown.markers[4], (std::pair<int32_t, int32_t>(100, 100)));
}

TEST_F(Grid3x3, ZeroCrossWindowWidthStopsAtTheFirstNode) {
  st.s.CrossWindowWidth = 0;
  EXPECT_EQ(st.RefineCrossPoints(region), RefineOutcome::StoppedByError);
  EXPECT_EQ(st.s.FoundPoints.Count(), 0);
}

TEST_F(Grid3x3, MissingCrossingsMakeTheLayoutArithmeticFail) {
  // Two nodes of three horizontal lines: node 1's next row is index 2, past
  // the end of CrossNodes.
  st.s.CrossNodes.SetLength(2);
  EXPECT_EQ(st.RefineCrossPoints(region), RefineOutcome::StoppedByError);
  EXPECT_LE(st.s.FoundPoints.Count(), 1);
}

TEST(Refine, NoNodesNoPoints) {
  DetectState st(50, 50);
  st.AddRegion({{0, 0}, {40, 0}, {40, 40}, {0, 40}});
  EXPECT_EQ(st.RefineCrossPoints(0), RefineOutcome::Complete);
  EXPECT_EQ(st.s.FoundPoints.Count(), 0);
}

// One vertical and one horizontal line crossing at (50, 50) in a square region
// of side 100: cell width and height come from the region's sides, so with
// CrossWindowWidth 0.1 both window half-lengths are 10 and a band is accepted
// only with more than 1.6·10 = 16 pixels. The vertical line is a one-pixel
// column of `rows` pixels through the crossing; the vertical band holds them
// plus four pixels of the horizontal line beside it.
struct SingleCrossing {
  explicit SingleCrossing(int rows) : st(120, 120) {
    st.SetRect(0, 50, 119, 50);
    st.SetRect(50, 44, 50, 44 + rows - 1);
    st.AddRegion({{0, 0}, {100, 0}, {100, 100}, {0, 100}});
    st.s.CrossWindowWidth = 0.1;
    st.s.VerticalLines.AddNew(0, 50);
    st.s.HorizontalLines.AddNew(0, 50);
    st.s.CrossNodes.Append(CrossNode{0, 50, 0, 50});
  }
  DetectState st;
};

TEST(Refine, BandOfExactlyTheAcceptanceLimitIsRefused) {
  SingleCrossing twelve(12);  // 12 + 4 = 16 pixels
  EXPECT_EQ(twelve.st.RefineCrossPoints(0), RefineOutcome::Complete);
  EXPECT_EQ(twelve.st.s.FoundPoints.Count(), 0);

  SingleCrossing thirteen(13);  // 17 pixels
  EXPECT_EQ(thirteen.st.RefineCrossPoints(0), RefineOutcome::Complete);
  ASSERT_EQ(thirteen.st.s.FoundPoints.Count(), 1);
  EXPECT_NEAR(thirteen.st.s.FoundPoints.Get(0)->x, 50, 0.5);
  EXPECT_NEAR(thirteen.st.s.FoundPoints.Get(0)->y, 50, 0.5);
}

TEST(Refine, ASingleNodeNeedsTheRegionsCorners) {
  SingleCrossing node(13);
  node.st.s.Regions[0]->Delete(3);
  EXPECT_EQ(node.st.RefineCrossPoints(0), RefineOutcome::StoppedByError);
  EXPECT_EQ(node.st.s.FoundPoints.Count(), 0);
}

}  // namespace
}  // namespace qova
