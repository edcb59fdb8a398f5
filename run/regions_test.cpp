// Regions given as numbers: the option's value and the regions file refused
// with the message that names what is wrong (scripts read them), arrays of
// numbers, the check against the image.
#include "run/regions.h"

#include <gtest/gtest.h>

#include <limits>

namespace qova {
namespace {

// Each text with the message it is refused with. The items are read in
// order, so a number that is no number before the place where a wrong count
// shows is what is named.
TEST(ParseRegion, RefusesWithTheMessageOfTheFirstFaultInOrder) {
  const std::string count =
      "a region needs exactly four corners, eight numbers separated by commas: ";
  const std::pair<std::string, std::string> cases[] = {
      {"", count + "\"\""},
      {"1,2,3,4,5,6,7", count + "\"1,2,3,4,5,6,7\""},
      {"1,2,3,4,5,6,7,8,", count + "\"1,2,3,4,5,6,7,8,\""},
      {"1,2,3,4,5,6,7,x,9", count + "\"1,2,3,4,5,6,7,x,9\""},
      {"1,x,3", "not a number in region \"1,x,3\": \"x\""},
      {"1,2,3,4,5,6,x,8,9", "not a number in region \"1,2,3,4,5,6,x,8,9\": \"x\""},
      {"1,2,3,4,5,6,7,8e", "not a number in region \"1,2,3,4,5,6,7,8e\": \"8e\""},
      {",,,,,,,", "not a number in region \",,,,,,,\": \"\""},
  };
  for (const auto& [text, says] : cases) {
    std::string error;
    EXPECT_FALSE(ParseRegion(text, error)) << text;
    EXPECT_EQ(error, says);
  }
  std::string error;
  const auto region = ParseRegion("-5,-1e1,9,0,9,9.5,0,9", error);
  ASSERT_TRUE(region) << error;
  EXPECT_EQ(*region, (RegionCorners{-5, -10, 9, 0, 9, 9.5, 0, 9}));
}

TEST(ParseRegionsText, ReadsLinesOfEightNumbersAndNamesABadLineByItsNumber) {
  const std::pair<std::string, std::string> cases[] = {
      {"1 2 3 4 5 6 7 8\n1 2 3 4 5 6 7\n",
       "r.txt:2: a region needs exactly four corners, eight numbers separated by commas or "
       "blanks: \"1 2 3 4 5 6 7\""},
      {"# c\n1,,2,3,4,5,6,7,8\n", "r.txt:2: a region needs"},
      {"1,2,3,4,5,6,7,8,\n", "r.txt:1: a region needs"},
      {"\n\n1 2 3 4 5 6 7 y\n", "r.txt:3: not a number in region \"1 2 3 4 5 6 7 y\": \"y\""},
      {"1 2 3 4 5 6 7 8 9\n", "r.txt:1: a region needs"},
  };
  for (const auto& [text, says] : cases) {
    std::string error;
    EXPECT_FALSE(ParseRegionsText(text, "r.txt", error)) << text;
    EXPECT_EQ(error.rfind(says, 0), 0u) << error;
  }
  std::string error;
  const auto none = ParseRegionsText("# nothing here\n\n   \n", "r.txt", error);
  ASSERT_TRUE(none) << error;
  EXPECT_TRUE(none->empty());
  const auto two =
      ParseRegionsText("1 2 3 4 5 6 7 8\r\n  10,20 , 30,40,50 ,60,70,   80  # b\n", "r.txt", error);
  ASSERT_TRUE(two) << error;
  ASSERT_EQ(two->size(), 2u);
  EXPECT_EQ((*two)[1], (RegionCorners{10, 20, 30, 40, 50, 60, 70, 80}));
}

TEST(Regions, FromNumbersCheckedAndMarked) {
  const std::vector<double> numbers = {0, 0, 9, 0, 9, 9, 0, 9, 1, 1, 8, 1, 8, 8, 1, 8, 5};
  const std::vector<RegionCorners> regions = RegionsFromNumbers(numbers);
  ASSERT_EQ(regions.size(), 2u);  // the ninth number of the second row has no region
  EXPECT_EQ(regions[1][7], 8);

  EXPECT_EQ(RegionOutsideImage(regions[0], 10, 10), "");
  EXPECT_EQ(RegionOutsideImage(regions[0], 9, 10),
            "corner 1 (9, 0) lies outside the image of 9 x 10 pixels");
  const RegionCorners nan = {0, 0, 1, std::numeric_limits<double>::quiet_NaN(), 1, 1, 0, 1};
  EXPECT_EQ(RegionOutsideImage(nan, 10, 10),
            "corner 1 (1, nan) lies outside the image of 10 x 10 pixels");

  const RegionList marked = MarkedRegions(regions);
  ASSERT_EQ(marked.Length(), 2);
  ASSERT_EQ(marked[1]->Count(), 4);
  EXPECT_EQ(marked[1]->Get(2)->x, 8);
  EXPECT_EQ(marked[1]->Get(3)->y, 8);
}

}  // namespace
}  // namespace qova
