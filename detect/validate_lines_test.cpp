// Pairing border points into lines, and drawing the lines.
#include "detect/validate_lines.h"

#include <gtest/gtest.h>

#include "detect/detect_test_support.h"
#include "state/qrgb.h"

namespace qova {
namespace {

using testing::DetectState;
using testing::Fill;

class Validation : public ::testing::Test {
 protected:
  Validation() : st(400, 400) {}
  DetectState st;
  int Questions() const { return st.shown.questions; }
};

TEST_F(Validation, PairsLeftAndRightPointsIntoLines) {
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}});
  Fill(st.s.SidePoints12, {{300, 102}, {300, 199}});
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  ASSERT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_NEAR(st.s.HorizontalLines.Get(0)->x, 0.0068966, 1e-7);
  EXPECT_NEAR(st.s.HorizontalLines.Get(0)->y, 99.931, 1e-3);
  EXPECT_NEAR(st.s.HorizontalLines.Get(1)->x, -0.0034483, 1e-7);
  EXPECT_NEAR(st.s.HorizontalLines.Get(1)->y, 200.034, 1e-3);
  EXPECT_EQ(st.s.HorizontalLines.Get(0)->x, (100.0 - 102.0) / (10.0 - 300.0));
  EXPECT_EQ(st.s.HorizontalLines.Get(0)->y, 100.0 - 10.0 * ((100.0 - 102.0) / (10.0 - 300.0)));
  EXPECT_EQ(st.s.VerticalLines.Count(), 0);
  EXPECT_EQ(Questions(), 0);
}

TEST_F(Validation, VerticalLinesJoinBottomAndTopPoints) {
  Fill(st.s.SidePoints23, {{50, 300}, {150, 300}});
  Fill(st.s.SidePoints01, {{52, 10}, {149, 10}});
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  ASSERT_EQ(st.s.VerticalLines.Count(), 2);
  const double slope = (52.0 - 50.0) / (10.0 - 300.0);
  EXPECT_EQ(st.s.VerticalLines.Get(0)->x, slope);
  EXPECT_EQ(st.s.VerticalLines.Get(0)->y, 52.0 - 10.0 * slope);
  EXPECT_EQ(st.s.VerticalLines.Get(1)->x, (149.0 - 150.0) / (10.0 - 300.0));
}

TEST_F(Validation, TooSteepAPartnerIsPassedOverForTheNextFreeOne) {
  Fill(st.s.SidePoints03, {{0, 100}, {0, 200}});
  Fill(st.s.SidePoints12, {{100, 100}, {100, 300}, {100, 201}});
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  ASSERT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_EQ(st.s.HorizontalLines.Get(1)->x, (200.0 - 201.0) / (0.0 - 100.0));
  EXPECT_EQ(Questions(), 0);
}

TEST_F(Validation, TheAngleIsComparedWithTheLastAcceptedLine) {
  // Each line turns 2° against the one before: 6° from the first in the end.
  Fill(st.s.SidePoints03, {{0, 100}, {0, 200}, {0, 300}, {0, 400}});
  Fill(st.s.SidePoints12, {{100, 100},
                           {100, 200 + 100 * std::tan(2 * kPi / 180)},
                           {100, 300 + 100 * std::tan(4 * kPi / 180)},
                           {100, 400 + 100 * std::tan(6 * kPi / 180)}});
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 4);
  // A limit of 1.9° refuses every later line: one warning, one line.
  st.s.MaxAngle = 1.9;
  st.shown.answers = {true};
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 1);
  EXPECT_EQ(Questions(), 1);
}

TEST_F(Validation, ThreeUnreliablePointsGiveOneWarning) {
  // Two left points in the horizontal family and one bottom point in the
  // vertical family find no partner.
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}, {10, 300}});
  Fill(st.s.SidePoints12, {{300, 100}});
  Fill(st.s.SidePoints23, {{100, 300}, {200, 300}});
  Fill(st.s.SidePoints01, {{100, 10}});
  st.shown.answers = {true};
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  EXPECT_EQ(Questions(), 1);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 1);
  EXPECT_EQ(st.s.VerticalLines.Count(), 1);
}

TEST_F(Validation, NoEndsTheRunKeepingTheLinesBuilt) {
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}, {10, 300}});
  Fill(st.s.SidePoints12, {{300, 100}, {300, 200}});
  Fill(st.s.SidePoints23, {{100, 300}});
  Fill(st.s.SidePoints01, {{100, 10}});
  st.shown.answers = {false};
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Declined);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_EQ(st.s.VerticalLines.Count(), 0);
  EXPECT_EQ(Questions(), 1);

  st.shown.answers = {true};
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 2);
  EXPECT_EQ(st.s.VerticalLines.Count(), 1);
}

TEST_F(Validation, EmptySidesGiveNoLinesAndNoQuestion) {
  Fill(st.s.HorizontalLines, {{1, 1}});
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 0);
  EXPECT_EQ(Questions(), 0);
  // A partner side without points warns once.
  Fill(st.s.SidePoints03, {{10, 100}, {10, 200}});
  st.shown.answers = {true};
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Paired);
  EXPECT_EQ(Questions(), 1);
}

TEST_F(Validation, ZeroDivisionFailsWithoutAQuestion) {
  Fill(st.s.SidePoints03, {{10, 100}, {300, 200}});
  Fill(st.s.SidePoints12, {{300, 102}, {300, 199}});
  // The second left point shares x with the right ones.
  EXPECT_EQ(st.ValidateLines(), LinesOutcome::Failed);
  EXPECT_EQ(st.s.HorizontalLines.Count(), 1);
  EXPECT_EQ(Questions(), 0);
}

TEST(DrawGridLines, EveryLineAcrossThePictureOutsidePixelsSkipped) {
  QImage picture(40, 30, QImage::Format_RGB32);
  picture.fill(Qt::black);
  GridLines lines;
  Fill(lines.HorizontalLines, {{0, 10.5}, {1, -100}});  // row 11; a line above the picture
  Fill(lines.VerticalLines, {{0.5, -2}, {0, 1e12}});    // x = 0.5·y − 2; one far off
  int repaints = 0;
  DrawGridLines(picture, lines, 0x00FF00, [&] { ++repaints; });
  auto at = [&](int x, int y) { return FromQRgb(picture.pixel(x, y)); };
  for (int x = 0; x < 40; ++x) EXPECT_EQ(at(x, 11), 0x00FF00) << x;
  EXPECT_EQ(at(5, 10), 0);
  EXPECT_EQ(at(5, 12), 0);
  EXPECT_EQ(at(0, 3), 0);  // round(−0.5) = −1: outside, skipped
  EXPECT_EQ(at(0, 4), 0x00FF00);
  EXPECT_EQ(at(1, 5), 0x00FF00);    // round(0.5) = 1
  EXPECT_EQ(at(13, 29), 0x00FF00);  // round(12.5) = 13
  EXPECT_EQ(repaints, 4);
}

}  // namespace
}  // namespace qova
