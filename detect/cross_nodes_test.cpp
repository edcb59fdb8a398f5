// The crossings of a region's lines.
#include "detect/cross_nodes.h"

#include <gtest/gtest.h>

#include "detect/detect_test_support.h"

namespace qova {
namespace {

using testing::DetectState;
using testing::Fill;

TEST(CrossNodes, CrossingIsRoundedYThenX) {
  EXPECT_EQ(NodeCrossing(CrossNode{0, 50, 0, 30}).x, 50);
  EXPECT_EQ(NodeCrossing(CrossNode{0, 50, 0, 30}).y, 30);
  const NodePixel p = NodeCrossing(CrossNode{0.01, 100, -0.02, 200});
  EXPECT_EQ(p.x, 102);
  EXPECT_EQ(p.y, 198);
}

class Crossings : public ::testing::Test {
 protected:
  Crossings() : st(400, 400) { region = st.AddRegion({{0, 0}, {300, 0}, {300, 300}, {0, 300}}); }
  DetectState st;
  int32_t region = 0;
};

TEST_F(Crossings, NodesVerticalLineByVerticalLine) {
  for (int v = 0; v < 5; ++v) st.s.VerticalLines.AddNew(0.01 * v, 20 + 50 * v);
  for (int h = 0; h < 4; ++h) st.s.HorizontalLines.AddNew(-0.01 * h, 30 + 60 * h);
  EXPECT_EQ(st.FindCrossNodes(region), NodesOutcome::Complete);
  ASSERT_EQ(st.s.CrossNodes.Length(), 20);
  for (int v = 0; v < 5; ++v)
    for (int h = 0; h < 4; ++h) {
      const CrossNode& n = st.s.CrossNodes[v * 4 + h];
      EXPECT_EQ(n.VerticalSlope, 0.01 * v);
      EXPECT_EQ(n.VerticalOffset, 20 + 50 * v);
      EXPECT_EQ(n.HorizontalSlope, -0.01 * h);
      EXPECT_EQ(n.HorizontalOffset, 30 + 60 * h);
    }
}

TEST_F(Crossings, CrossingsOutsideTheRegionAreLeftOut) {
  Fill(st.s.VerticalLines, {{0, 50}, {0, 350}});
  Fill(st.s.HorizontalLines, {{0, 30}, {0, 0}});  // row 0 is on the top side: outside
  st.s.CrossNodes.Append(CrossNode{9, 9, 9, 9});
  st.FindCrossNodes(region);
  ASSERT_EQ(st.s.CrossNodes.Length(), 1);
  EXPECT_EQ(st.s.CrossNodes[0].VerticalOffset, 50);
  EXPECT_EQ(st.s.CrossNodes[0].HorizontalOffset, 30);
}

TEST_F(Crossings, NoLinesNoNodesNoError) {
  Fill(st.s.VerticalLines, {{0, 50}});
  EXPECT_EQ(st.FindCrossNodes(region), NodesOutcome::Complete);
  EXPECT_EQ(st.s.CrossNodes.Length(), 0);
}

TEST_F(Crossings, AParallelPairStopsTheSearchAndKeepsEarlierNodes) {
  Fill(st.s.VerticalLines, {{0, 50}, {1, 0}});
  Fill(st.s.HorizontalLines, {{0, 30}, {1, 0}});
  EXPECT_EQ(st.FindCrossNodes(region), NodesOutcome::StoppedByError);
  // (50, 30), (50, 50) and (30, 30) come before the parallel pair.
  EXPECT_EQ(st.s.CrossNodes.Length(), 3);
}

}  // namespace
}  // namespace qova
