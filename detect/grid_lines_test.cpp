// Line validation, line drawing and the intersection search.
#include "detect/grid_lines.h"

#include <gtest/gtest.h>

#include "detect/detect_test_support.h"
#include "detect/line_fit.h"

namespace qova {
namespace {

using testing::DetectState;

void Fill(VT_Points& list, std::initializer_list<std::pair<double, double>> points) {
  list.Clear();
  for (const auto& [x, y] : points) list.AddNew(x, y);
}

class Validation : public ::testing::Test {
 protected:
  Validation() : st(400, 400) {}
  DetectState st;
  std::vector<std::string> Messages() const { return st.desktop.MessageTexts(); }
};

TEST_F(Validation, PairsLeftAndRightPointsIntoLines) {
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}});
  Fill(st.s.SidePoints12, {{300, 102}, {300, 199}});
  EXPECT_TRUE(ValidateLines(st.s));
  ASSERT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_NEAR(st.s.HorizontalLines.Get(0)->x, 0.0068966, 1e-7);
  EXPECT_NEAR(st.s.HorizontalLines.Get(0)->y, 99.931, 1e-3);
  EXPECT_NEAR(st.s.HorizontalLines.Get(1)->x, -0.0034483, 1e-7);
  EXPECT_NEAR(st.s.HorizontalLines.Get(1)->y, 200.034, 1e-3);
  EXPECT_EQ(st.s.HorizontalLines.Get(0)->x, (100.0 - 102.0) / (10.0 - 300.0));
  EXPECT_EQ(st.s.HorizontalLines.Get(0)->y, 100.0 - 10.0 * ((100.0 - 102.0) / (10.0 - 300.0)));
  EXPECT_EQ(st.s.VerticalLines.Count(), 0);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(Validation, VerticalLinesJoinBottomAndTopPoints) {
  Fill(st.s.SidePoints23, {{50, 300}, {150, 300}});
  Fill(st.s.SidePoints01, {{52, 10}, {149, 10}});
  EXPECT_TRUE(ValidateLines(st.s));
  ASSERT_EQ(st.s.VerticalLines.Count(), 2);
  const double slope = (52.0 - 50.0) / (10.0 - 300.0);
  EXPECT_EQ(st.s.VerticalLines.Get(0)->x, slope);
  EXPECT_EQ(st.s.VerticalLines.Get(0)->y, 52.0 - 10.0 * slope);
  EXPECT_EQ(st.s.VerticalLines.Get(1)->x, (149.0 - 150.0) / (10.0 - 300.0));
}

TEST_F(Validation, TooSteepAPartnerIsPassedOverForTheNextFreeOne) {
  Fill(st.s.SidePoints03, {{0, 100}, {0, 200}});
  Fill(st.s.SidePoints12, {{100, 100}, {100, 300}, {100, 201}});
  EXPECT_TRUE(ValidateLines(st.s));
  ASSERT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_EQ(st.s.HorizontalLines.Get(1)->x, (200.0 - 201.0) / (0.0 - 100.0));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(Validation, TheAngleIsComparedWithTheLastAcceptedLine) {
  // Each line turns 2° against the one before: 6° from the first in the end.
  Fill(st.s.SidePoints03, {{0, 100}, {0, 200}, {0, 300}, {0, 400}});
  Fill(st.s.SidePoints12, {{100, 100},
                           {100, 200 + 100 * std::tan(2 * kPi / 180)},
                           {100, 300 + 100 * std::tan(4 * kPi / 180)},
                           {100, 400 + 100 * std::tan(6 * kPi / 180)}});
  EXPECT_TRUE(ValidateLines(st.s));
  EXPECT_EQ(st.s.HorizontalLines.Count(), 4);
  // A limit of 1.9° refuses every later line: one warning, one line.
  st.s.MaxAngle = 1.9;
  st.desktop.answers = {MsgResult::Yes};
  EXPECT_TRUE(ValidateLines(st.s));
  EXPECT_EQ(st.s.HorizontalLines.Count(), 1);
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(Validation, ThreeUnreliablePointsGiveOneWarning) {
  // Two left points in the horizontal family and one bottom point in the
  // vertical family find no partner.
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}, {10, 300}});
  Fill(st.s.SidePoints12, {{300, 100}});
  Fill(st.s.SidePoints23, {{100, 300}, {200, 300}});
  Fill(st.s.SidePoints01, {{100, 10}});
  st.desktop.answers = {MsgResult::Yes};
  EXPECT_TRUE(ValidateLines(st.s));
  ASSERT_EQ(st.desktop.messages.size(), 1u);
  EXPECT_EQ(st.desktop.messages[0].text, "Найденные точки ненадежны. Продолжить работу?");
  EXPECT_EQ(st.desktop.messages[0].caption, "Предупреждение");
  EXPECT_EQ(st.desktop.messages[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 1);
  EXPECT_EQ(st.s.VerticalLines.Count(), 1);
}

TEST_F(Validation, NoEndsTheRunKeepingTheLinesBuilt) {
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}, {10, 300}});
  Fill(st.s.SidePoints12, {{300, 100}, {300, 200}});
  Fill(st.s.SidePoints23, {{100, 300}});
  Fill(st.s.SidePoints01, {{100, 10}});
  st.desktop.answers = {MsgResult::No};
  EXPECT_FALSE(ValidateLines(st.s));
  EXPECT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_EQ(st.s.VerticalLines.Count(), 0);
  EXPECT_EQ(Messages().size(), 1u);

  st.desktop.answers = {MsgResult::Yes};
  EXPECT_TRUE(ValidateLines(st.s));
  EXPECT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_EQ(st.s.VerticalLines.Count(), 1);
}

TEST_F(Validation, EmptySidesGiveNoLinesAndNoQuestion) {
  Fill(st.s.HorizontalLines, {{1, 1}});
  EXPECT_TRUE(ValidateLines(st.s));
  EXPECT_EQ(st.s.HorizontalLines.Count(), 0);
  EXPECT_TRUE(Messages().empty());
  // A partner side without points warns once.
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}});
  st.desktop.answers = {MsgResult::Yes};
  EXPECT_TRUE(ValidateLines(st.s));
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(Validation, ZeroDivisionGivesFalseWithoutAMessage) {
  Fill(st.s.SidePoints03, {{10, 100}, {300, 200}});
  Fill(st.s.SidePoints12, {{300, 102}, {300, 199}});
  EXPECT_FALSE(ValidateLines(st.s));  // the second left point shares x with the right ones
  EXPECT_EQ(st.s.HorizontalLines.Count(), 1);
  EXPECT_TRUE(Messages().empty());
}

TEST(DrawGridLines, EveryLineAcrossThePictureOutsidePixelsSkipped) {
  DetectState st(40, 30);
  st.s.Image1 = QImage(40, 30, QImage::Format_RGB32);
  st.s.Image1.fill(Qt::black);
  Fill(st.s.HorizontalLines, {{0, 10.5}, {1, -100}});  // row 11; a line above the picture
  Fill(st.s.VerticalLines, {{0.5, -2}, {0, 1e12}});    // x = 0.5·y − 2; one far off
  DrawGridLines(st.s, 0x00FF00);
  for (int x = 0; x < 40; ++x) EXPECT_EQ(st.s.PicturePixel(x, 11), 0x00FF00) << x;
  EXPECT_EQ(st.s.PicturePixel(5, 10), 0);
  EXPECT_EQ(st.s.PicturePixel(5, 12), 0);
  EXPECT_EQ(st.s.PicturePixel(0, 3), 0);  // round(−0.5) = −1: outside, skipped
  EXPECT_EQ(st.s.PicturePixel(0, 4), 0x00FF00);
  EXPECT_EQ(st.s.PicturePixel(1, 5), 0x00FF00);    // round(0.5) = 1
  EXPECT_EQ(st.s.PicturePixel(13, 29), 0x00FF00);  // round(12.5) = 13
  EXPECT_EQ(st.desktop.repaints, 4);
}

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
  FindCrossNodes(st.s, region);
  ASSERT_EQ(st.s.CrossNodes.Length(), 20);
  for (int v = 0; v < 5; ++v)
    for (int h = 0; h < 4; ++h) {
      const CrossNode& n = st.s.CrossNodes[v * 4 + h];
      EXPECT_EQ(n.VerticalSlope, 0.01 * v);
      EXPECT_EQ(n.VerticalOffset, 20 + 50 * v);
      EXPECT_EQ(n.HorizontalSlope, -0.01 * h);
      EXPECT_EQ(n.HorizontalOffset, 30 + 60 * h);
    }
  EXPECT_TRUE(st.desktop.messages.empty());
}

TEST_F(Crossings, CrossingsOutsideTheRegionAreLeftOut) {
  Fill(st.s.VerticalLines, {{0, 50}, {0, 350}});
  Fill(st.s.HorizontalLines, {{0, 30}, {0, 0}});  // row 0 is on the top side: outside
  st.s.CrossNodes.Append(CrossNode{9, 9, 9, 9});
  FindCrossNodes(st.s, region);
  ASSERT_EQ(st.s.CrossNodes.Length(), 1);
  EXPECT_EQ(st.s.CrossNodes[0].VerticalOffset, 50);
  EXPECT_EQ(st.s.CrossNodes[0].HorizontalOffset, 30);
}

TEST_F(Crossings, NoLinesNoNodesNoMessage) {
  Fill(st.s.VerticalLines, {{0, 50}});
  FindCrossNodes(st.s, region);
  EXPECT_EQ(st.s.CrossNodes.Length(), 0);
  EXPECT_TRUE(st.desktop.messages.empty());
}

TEST_F(Crossings, ParallelPairReportsAndKeepsEarlierNodes) {
  Fill(st.s.VerticalLines, {{0, 50}, {1, 0}});
  Fill(st.s.HorizontalLines, {{0, 30}, {1, 0}});
  FindCrossNodes(st.s, region);
  // (50, 30), (50, 50) and (30, 30) come before the parallel pair.
  EXPECT_EQ(st.s.CrossNodes.Length(), 3);
  ASSERT_EQ(st.desktop.messages.size(), 1u);
  EXPECT_EQ(st.desktop.messages[0].text,
            "Невозможно найти пересечения. Попробуйте изменить параметры.");
  EXPECT_EQ(st.desktop.messages[0].caption, "Ошибка");
  EXPECT_EQ(st.desktop.messages[0].buttons, MsgButtons::Ok);
}

}  // namespace
}  // namespace qova
