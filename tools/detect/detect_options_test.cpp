// The command line of qova-detect: what is accepted, and what is refused with
// a message that says what was wrong.
#include "tools/detect/detect_options.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace qova {
namespace {

ParsedOptions Parse(std::vector<std::string> args) { return ParseDetectOptions(args); }

const std::string kRegion = "0,0,9,0,9,9,0,9";

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
  EXPECT_EQ(p.options->format, OutputFormat::Crd);
  EXPECT_FALSE(p.options->precise);
}

// Every option in its GNU spellings gives the same options.
TEST(DetectOptions, ValuesAfterAnEqualsSignOrAsTheNextArgumentAlike) {
  const std::vector<std::vector<std::string>> spellings = {
      {"p.bmp", "--region", "-5,-1e1,9,0,9,9,0,9", "--settings", "s.ini", "-o", "o.json",
       "--answer", "no", "--format", "json", "--precise", "--threads", "3"},
      {"--region=-5,-1e1,9,0,9,9,0,9", "--settings=s.ini", "--output=o.json", "--answer=no",
       "--format=json", "p.bmp", "--precise", "--threads=3"},
      {"--region=-5,-1e1,9,0,9,9,0,9", "--set", "s.ini", "-oo.json", "--ans=no", "--form=json",
       "--prec", "--thr", "3", "--", "p.bmp"},
  };
  for (const auto& args : spellings) {
    const auto p = Parse(args);
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->image, "p.bmp");
    ASSERT_EQ(p.options->regions.size(), 1u);
    EXPECT_EQ(p.options->regions[0][0], -5);
    EXPECT_EQ(p.options->regions[0][1], -10);
    EXPECT_EQ(p.options->settings, "s.ini");
    EXPECT_EQ(p.options->output, "o.json");
    EXPECT_FALSE(p.options->answerYes);
    EXPECT_EQ(p.options->format, OutputFormat::Json);
    EXPECT_TRUE(p.options->precise);
    EXPECT_EQ(p.options->threads, 3);
  }
}

TEST(DetectOptions, DoubleDashEndsTheOptions) {
  const auto p = Parse({"--region", "0,0,9,0,9,9,0,9", "--", "-plate.bmp"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_EQ(p.options->image, "-plate.bmp");
  EXPECT_FALSE(Parse({"--region", "0,0,9,0,9,9,0,9", "--", "a.bmp", "--help"}).options);
}

TEST(DetectOptions, DefaultsAnswerYesAndWriteToStandardOutput) {
  const auto p = Parse({"--region", "0,0,9,0,9,9,0,9", "p.bmp"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_TRUE(p.options->answerYes);
  EXPECT_FALSE(p.options->output);
  EXPECT_FALSE(p.options->settings);
  EXPECT_EQ(p.options->threads, 0);
}

TEST(DetectOptions, TheCalibrationsOptions) {
  auto p = Parse({"p.bmp", "--region", kRegion, "--model", "radial", "--pitch", "0.5",
                  "--origin=-3.5,1e2", "--report", "r.json", "--save-model=m.json"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_EQ(p.options->model, "radial");
  EXPECT_EQ(p.options->pitch->x, 0.5);
  EXPECT_EQ(p.options->pitch->y, 0.5);
  EXPECT_EQ(*p.options->origin, calib::Vec2(-3.5, 100));
  EXPECT_EQ(p.options->report, "r.json");
  EXPECT_EQ(p.options->saveModel, "m.json");
  EXPECT_FALSE(p.options->applyModel);
  p = Parse({"p.bmp", "--region", kRegion, "--pitch=0.25,0.5", "--model=auto"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_EQ(p.options->pitch->x, 0.25);
  EXPECT_EQ(p.options->pitch->y, 0.5);
  p = Parse({"p.bmp", "--region", kRegion, "--pitch=0", "--model=none"});  // unknown, no model
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_FALSE(p.options->pitch->Known());
  p = Parse({"p.bmp", "--region", kRegion, "--apply-model", "m.json", "--force", "--model=none"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_EQ(p.options->applyModel, "m.json");
  EXPECT_TRUE(p.options->force);
  // Without them, nothing of the calibration is set.
  p = Parse({"p.bmp", "--region", kRegion});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_FALSE(p.options->model || p.options->pitch || p.options->origin || p.options->report ||
               p.options->saveModel || p.options->applyModel || p.options->force);
}

TEST(DetectOptions, HelpAndVersionNeedNothingElse) {
  auto p = Parse({"--help"});
  ASSERT_TRUE(p.options);
  EXPECT_TRUE(p.options->help);
  p = Parse({"-h"});
  ASSERT_TRUE(p.options);
  EXPECT_TRUE(p.options->help);
  p = Parse({"--version"});
  ASSERT_TRUE(p.options);
  EXPECT_TRUE(p.options->version);
}

TEST(DetectOptions, RegionsFromAFileTakeTheirPlaceAmongTheOthers) {
  TempFolder folder("qova-regions");
  const std::string file = folder.Path("plate.regions");
  TempFolder::Put(file,
                  "# regions of plate 7\n"
                  "1 2 3 4 5 6 7 8\r\n"
                  "\n"
                  "  10,20 , 30,40,50 ,60,70,   80  # the second\n"
                  "-1.5e1\t2\t3\t4\t5\t6\t7\t8\n");
  const auto p = Parse(
      {"p.bmp", "--region", "9,9,9,9,9,9,9,9", "--regions=" + file, "--region=0,0,0,0,0,0,0,0"});
  ASSERT_TRUE(p.options) << p.error;
  const std::vector<double> firsts = {9, 1, 10, -15, 0};
  ASSERT_EQ(p.options->regions.size(), firsts.size());
  for (size_t i = 0; i < firsts.size(); ++i) EXPECT_EQ(p.options->regions[i][0], firsts[i]);
  EXPECT_EQ(p.options->regions[2][7], 80);
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
        BadCase{{"--region", kRegion}, "no image"}, BadCase{{"p.bmp"}, "no region"},
        BadCase{{"p.bmp", "--region", "0,0,9,0,9,9"}, "four corners"},
        BadCase{{"p.bmp", "--region", "0,0,9,0,9,9,0,9,1"}, "four corners"},
        BadCase{{"p.bmp", "--region", "0,0,9,x,9,9,0,9"}, "not a number"},
        BadCase{{"p.bmp", "--region=0,0,9,x,9,9,0,9"}, "\"x\""},
        BadCase{{"p.bmp", "--region"}, "--region needs"},
        BadCase{{"p.bmp", "--regions"}, "--regions needs a file"},
        BadCase{{"p.bmp", "--regions", "/nonexistent/r.txt"}, "cannot read the regions file"},
        BadCase{{"p.bmp", "--settings"}, "--settings needs a file"},
        BadCase{{"p.bmp", "--region", kRegion, "-o"}, "-o needs a file"},
        BadCase{{"p.bmp", "--region", kRegion, "--output"}, "--output needs a file"},
        BadCase{{"p.bmp", "--region", kRegion, "--frobnicate"}, "unknown option --frobnicate"},
        BadCase{{"p.bmp", "--region", kRegion, "--frobnicate=3"}, "unknown option --frobnicate"},
        BadCase{{"p.bmp", "--region", kRegion, "-x"}, "unknown option -x"},
        BadCase{{"p.bmp", "--re", kRegion},
                "ambiguous option --re (--region, --regions, --report)"},
        BadCase{{"p.bmp", "--region", kRegion, "--precise=yes"}, "--precise takes no value"},
        BadCase{{"p.bmp", "--region", kRegion, "--answer", "maybe"}, "yes or no"},
        BadCase{{"p.bmp", "--region", kRegion, "--answer"}, "yes or no"},
        BadCase{{"p.bmp", "--region", kRegion, "--format=xml"}, "crd, csv or json, not \"xml\""},
        BadCase{{"p.bmp", "--region", kRegion, "--threads=-1"}, "--threads takes"},
        BadCase{{"p.bmp", "--region", kRegion, "--threads=two"}, "--threads takes"},
        BadCase{{"a.bmp", "b.bmp", "--region", kRegion}, "more than one image"},
        BadCase{{"p.bmp", "--region", kRegion, "--model=poly7"},
                "--model: unknown model \"poly7\" (known: affine, projective, radial, poly2, "
                "poly3, poly4, poly5, poly6, spline, auto, none)"},
        BadCase{{"p.bmp", "--region", kRegion, "--model"}, "--model needs a model name"},
        BadCase{{"p.bmp", "--region", kRegion, "--pitch=0.5,-1"}, "--pitch takes"},
        BadCase{{"p.bmp", "--region", kRegion, "--pitch=-0.5"}, "not \"-0.5\""},
        BadCase{{"p.bmp", "--region", kRegion, "--pitch=nan"}, "--pitch takes"},
        BadCase{{"p.bmp", "--region", kRegion, "--pitch=1,0"}, "--pitch takes"},
        BadCase{{"p.bmp", "--region", kRegion, "--pitch=1,2,3"}, "--pitch takes"},
        BadCase{{"p.bmp", "--region", kRegion, "--pitch=1mm"}, "--pitch takes"},
        BadCase{{"p.bmp", "--region", kRegion, "--origin=5"}, "--origin takes an image point"},
        BadCase{{"p.bmp", "--region", kRegion, "--origin=5,x"}, "--origin takes an image point"},
        BadCase{{"p.bmp", "--region", kRegion, "--apply-model=m.json", "--model=auto"},
                "--apply-model and --model cannot be combined"},
        BadCase{{"p.bmp", "--region", kRegion, "--apply-model=m.json", "--report=r.json"},
                "--report cannot go with --apply-model"},
        BadCase{{"p.bmp", "--region", kRegion, "--apply-model=m.json", "--pitch=1"},
                "--pitch cannot go with --apply-model"},
        BadCase{{"p.bmp", "--region", kRegion, "--force"}, "--force goes only with --apply-model"},
        BadCase{{"p.bmp", "--region", kRegion, "--save-model"}, "--save-model needs a file"}));

}  // namespace
}  // namespace qova
