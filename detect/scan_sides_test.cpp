#include "detect/scan_sides.h"

#include <gtest/gtest.h>

#include "core/qova_error.h"
#include "detect/detect_test_support.h"

namespace qova {
namespace {

using testing::DetectState;
using testing::PointList;
using testing::Points;

// A 200 × 200 mask and the square region (20, 20) – (180, 180): the scan
// lines of the horizontal scans are rows, those of the vertical ones columns.
class SquareRegion : public ::testing::Test {
 protected:
  SquareRegion() : st(200, 200) {
    region = st.AddRegion({{20, 20}, {180, 20}, {180, 180}, {20, 180}});
  }
  void ScanAll() {
    st.ScanSide03(region);
    st.ScanSide12(region);
    st.ScanSide23(region);
    st.ScanSide01(region);
  }
  DetectState st;
  int32_t region = 0;
};

TEST_F(SquareRegion, EmptyMaskRecordsNothingAndEmptiesTheLists) {
  st.s.SidePoints03.AddNew(1, 1);
  st.s.SidePoints12.AddNew(1, 1);
  st.s.SidePoints23.AddNew(1, 1);
  st.s.SidePoints01.AddNew(1, 1);
  ScanAll();
  EXPECT_EQ(st.s.SidePoints03.Count(), 0);
  EXPECT_EQ(st.s.SidePoints12.Count(), 0);
  EXPECT_EQ(st.s.SidePoints23.Count(), 0);
  EXPECT_EQ(st.s.SidePoints01.Count(), 0);
}

TEST_F(SquareRegion, EachScanFindsTheLineHalfAWindowInsideItsSide) {
  st.SetRect(0, 99, 199, 101);  // horizontal line, centre row 100
  st.SetRect(99, 0, 101, 199);  // vertical line, centre column 100
  ScanAll();
  // The guide sides are exactly vertical and horizontal: the border point lies
  // SearchWindowWidth/2 from the side, on the fitted line.
  EXPECT_EQ(Points(st.s.SidePoints03), (PointList{{22.5, 100}}));
  EXPECT_EQ(Points(st.s.SidePoints12), (PointList{{177.5, 100}}));
  EXPECT_EQ(Points(st.s.SidePoints23), (PointList{{100, 177.5}}));
  EXPECT_EQ(Points(st.s.SidePoints01), (PointList{{100, 22.5}}));
}

TEST_F(SquareRegion, ALineWithinTheJumpIsSkippedOneBeyondItIsFound) {
  st.SetRect(0, 99, 199, 101);
  st.SetRect(0, 105, 199, 107);  // within 2·SearchWindowHeight + 1 of row 100
  st.ScanSide03(region);
  EXPECT_EQ(Points(st.s.SidePoints03), (PointList{{22.5, 100}}));

  st.SetRect(0, 129, 199, 131);
  st.ScanSide03(region);
  EXPECT_EQ(Points(st.s.SidePoints03), (PointList{{22.5, 100}, {22.5, 130}}));
}

TEST_F(SquareRegion, CountChangesOfExactlyTheThresholdDoNotCount) {
  // One-row windows six pixels long: each row of the line adds six pixels.
  st.s.SearchWindowHeight = 1;
  st.SetRect(0, 100, 199, 102);
  st.s.IncreasePorog = 6;  // a rise of exactly 6 does not enter the band
  st.ScanSide03(region);
  EXPECT_EQ(st.s.SidePoints03.Count(), 0);

  st.s.IncreasePorog = 5;  // entered at row 100, left at row 103 after three rows
  st.ScanSide03(region);
  EXPECT_EQ(Points(st.s.SidePoints03), (PointList{{22.5, 102}}));  // back by trunc((3 − 1)/2)

  st.Set(20, 103);  // the count now drops by 5, then by 1: never left
  st.ScanSide03(region);
  EXPECT_EQ(st.s.SidePoints03.Count(), 0);
  st.s.IncreasePorog = 4;
  st.ScanSide03(region);
  EXPECT_EQ(Points(st.s.SidePoints03), (PointList{{22.5, 102}}));
}

TEST_F(SquareRegion, BandsAfterARecordedPointCountOneStepMore) {
  // Two lines four rows thick, one-row windows. The first band is left after
  // rows = 4 (back 1, to its last row); rows restarts at 1 after a recorded
  // point, so the second is left after rows = 5 (back 2).
  st.s.SearchWindowHeight = 1;
  st.SetRect(0, 100, 199, 103);
  st.SetRect(0, 150, 199, 153);
  st.ScanSide03(region);
  EXPECT_EQ(Points(st.s.SidePoints03), (PointList{{22.5, 103}, {22.5, 152}}));
}

TEST(ScanSide, BandNeverLeftBeforeTheLastStepRecordsNothing) {
  DetectState st(200, 200);
  const int32_t region = st.AddRegion({{20, 0}, {180, 0}, {180, 180}, {20, 180}});
  st.s.SearchWindowHeight = 1;   // one row per window
  st.SetRect(0, 190, 199, 199);  // set down to the last row the scan reaches
  st.ScanSide03(region);
  EXPECT_EQ(st.s.SidePoints03.Count(), 0);

  DetectState control(200, 200);
  control.AddRegion({{20, 0}, {180, 0}, {180, 180}, {20, 180}});
  control.s.SearchWindowHeight = 1;
  control.SetRect(0, 190, 199, 195);
  control.ScanSide03(0);
  EXPECT_EQ(control.s.SidePoints03.Count(), 1);
}

TEST(ScanSide, UndefinedScanSlopeRaises) {
  DetectState st(100, 100);
  st.SetRect(0, 40, 99, 42);
  const int32_t region = st.AddRegion({{20, 20}, {20, 20}, {80, 80}, {20, 80}});  // P0.x = P1.x
  EXPECT_THROW(st.ScanSide03(region), ArithmeticError);
  const int32_t flat = st.AddRegion({{20, 20}, {80, 20}, {80, 80}, {30, 20}});  // P0.y = P3.y
  EXPECT_THROW(st.ScanSide01(flat), ArithmeticError);
  const int32_t three = st.AddRegion({{20, 20}, {80, 20}, {80, 80}});
  EXPECT_THROW(st.ScanSide03(three), RangeError);
}

TEST(ScanSide, SlantedGuideSideMovesTheWindowAlongIt) {
  // Side 0–3 leans right by one pixel in four rows: the window of row y
  // starts at x = round(20 + (y − 20)/4).
  DetectState st(200, 200);
  const int32_t region = st.AddRegion({{20, 20}, {180, 20}, {180, 180}, {60, 180}});
  st.SetRect(0, 99, 199, 101);
  st.ScanSide03(region);
  ASSERT_EQ(st.s.SidePoints03.Count(), 1);
  EXPECT_EQ(st.s.SidePoints03.Get(0)->x, 40 + 2.5);  // round((100 − 20)/4 + 20) = 40
  EXPECT_EQ(st.s.SidePoints03.Get(0)->y, 100);
}

TEST(ScanSide, StepModeMarksEveryBorderPoint) {
  DetectState st(200, 200);
  const int32_t region = st.AddRegion({{20, 20}, {180, 20}, {180, 180}, {20, 180}});
  st.SetRect(0, 99, 199, 101);
  st.ScanSide03(region);
  EXPECT_TRUE(st.shown.markers.empty());  // only in step mode
  st.s.Steps = true;
  st.ScanSide03(region);
  ASSERT_EQ(st.s.SidePoints03.Count(), 1);
  EXPECT_EQ(st.shown.markers, (std::vector<std::pair<int32_t, int32_t>>{{23, 100}}))
      << "round(22.5) = 23";
}

}  // namespace
}  // namespace qova
