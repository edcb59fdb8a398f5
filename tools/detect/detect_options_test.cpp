// The command line of qova-detect: what is accepted, and what is refused with
// a message that says what was wrong.
#include "tools/detect/detect_options.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

ParsedOptions Parse(std::vector<std::string> args) { return ParseDetectOptions(args); }

TEST(DetectOptions, AFullCommandLine) {
  const auto p =
      Parse({"plate.bmp", "--region", "10,10,200,12,198,150,9,148", "--region", "1.5,2,3,4,5,6,7,8",
             "--settings", "a.ini", "-o", "out.crd", "--answer", "no"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_EQ(p.options->image, "plate.bmp");
  ASSERT_EQ(p.options->regions.size(), 2u);
  EXPECT_EQ(p.options->regions[0][2], 200);
  EXPECT_EQ(p.options->regions[1][0], 1.5);
  EXPECT_EQ(p.options->settings, "a.ini");
  EXPECT_EQ(p.options->output, "out.crd");
  EXPECT_FALSE(p.options->answerYes);
}

TEST(DetectOptions, DefaultsAnswerYesAndWriteToStandardOutput) {
  const auto p = Parse({"--region", "0,0,9,0,9,9,0,9", "p.bmp"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_TRUE(p.options->answerYes);
  EXPECT_FALSE(p.options->output);
  EXPECT_FALSE(p.options->settings);
}

TEST(DetectOptions, HelpNeedsNothingElse) {
  const auto p = Parse({"--help"});
  ASSERT_TRUE(p.options);
  EXPECT_TRUE(p.options->help);
}

struct BadCase {
  std::vector<std::string> args;
  std::string says;
};

class BadCommandLine : public testing::TestWithParam<BadCase> {};

TEST_P(BadCommandLine, IsRefusedWithAMessage) {
  const auto p = ParseDetectOptions(GetParam().args);
  EXPECT_FALSE(p.options);
  EXPECT_NE(p.error.find(GetParam().says), std::string::npos) << p.error;
}

INSTANTIATE_TEST_SUITE_P(
    DetectOptions, BadCommandLine,
    testing::Values(
        BadCase{{"--region", "0,0,9,0,9,9,0,9"}, "no image"}, BadCase{{"p.bmp"}, "no region"},
        BadCase{{"p.bmp", "--region", "0,0,9,0,9,9"}, "four corners"},
        BadCase{{"p.bmp", "--region", "0,0,9,0,9,9,0,9,1"}, "four corners"},
        BadCase{{"p.bmp", "--region", "0,0,9,x,9,9,0,9"}, "not a number"},
        BadCase{{"p.bmp", "--region"}, "--region needs"},
        BadCase{{"p.bmp", "--region", "0,0,9,0,9,9,0,9", "--frobnicate"},
                "unknown option --frobnicate"},
        BadCase{{"p.bmp", "--region", "0,0,9,0,9,9,0,9", "--answer", "maybe"}, "yes or no"},
        BadCase{{"a.bmp", "b.bmp", "--region", "0,0,9,0,9,9,0,9"}, "more than one image"}));

}  // namespace
}  // namespace qova
