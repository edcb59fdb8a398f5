// The command line of qova-undistort: what is accepted, and what is refused
// with a message that says what was wrong.
#include "tools/undistort/undistort_options.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

ParsedUndistortOptions Parse(std::vector<std::string> args) { return ParseUndistortOptions(args); }

// Every option in its GNU spellings gives the same options.
TEST(UndistortOptions, ValuesAfterAnEqualsSignOrAsTheNextArgumentAlike) {
  const std::vector<std::vector<std::string>> spellings = {
      {"in.tif", "--model", "m.json", "-o", "out.png", "--pixel-size", "0.02", "--origin",
       "-3.5,-1e1", "--size", "640,480", "--interp", "lanczos3", "--threads", "3", "--force",
       "--format", "tiff"},
      {"--model=m.json", "--output=out.png", "--pixel-size=0.02", "--origin=-3.5,-1e1",
       "--size=640,480", "--interp=lanczos3", "--threads=3", "--force", "--format=tiff", "in.tif"},
      {"--mod", "m.json", "-oout.png", "--pix=0.02", "--orig", "-3.5,-1e1", "--si=640,480", "--int",
       "lanczos3", "--thr", "3", "--forc", "--form=tiff", "--", "in.tif"},
  };
  for (const auto& args : spellings) {
    const auto p = Parse(args);
    ASSERT_TRUE(p.options) << p.error;
    const UndistortOptions& o = *p.options;
    EXPECT_EQ(o.image, "in.tif");
    EXPECT_EQ(o.model, "m.json");
    EXPECT_EQ(o.output, "out.png");
    EXPECT_EQ(o.pixelSize, 0.02);
    ASSERT_TRUE(o.origin);
    EXPECT_EQ(o.origin->first, -3.5);
    EXPECT_EQ(o.origin->second, -10);
    ASSERT_TRUE(o.size);
    EXPECT_EQ(o.size->first, 640);
    EXPECT_EQ(o.size->second, 480);
    EXPECT_EQ(o.interpolation, calib::Interpolation::Lanczos3);
    EXPECT_EQ(o.threads, 3);
    EXPECT_TRUE(o.force);
    EXPECT_EQ(o.format, WriteFormat::kTiff);
    EXPECT_FALSE(o.regionOnly);
  }
}

TEST(UndistortOptions, DefaultsAndTheFormatBySuffix) {
  const auto p = Parse({"-o", "x/Out.TIFF", "in.bmp", "--model", "m.json", "--region-only"});
  ASSERT_TRUE(p.options) << p.error;
  EXPECT_EQ(p.options->interpolation, calib::Interpolation::Cubic);
  EXPECT_EQ(p.options->threads, 0);
  EXPECT_FALSE(p.options->pixelSize);
  EXPECT_FALSE(p.options->origin);
  EXPECT_FALSE(p.options->format);
  EXPECT_TRUE(p.options->regionOnly);
  EXPECT_EQ(FormatOfName("x/Out.TIFF"), WriteFormat::kTiff);
  EXPECT_EQ(FormatOfName("a.png"), WriteFormat::kPng);
  EXPECT_EQ(FormatOfName("a.pgm"), WriteFormat::kPnm);
  EXPECT_EQ(FormatOfName("a.bmp"), WriteFormat::kBmp);
  EXPECT_FALSE(FormatOfName("a.jpg"));
  EXPECT_FALSE(FormatOfName("dir.png/a"));
  EXPECT_FALSE(FormatOfName("png"));
  // "--" ends the options: an image whose name begins with '-'.
  const auto dash = Parse({"--model", "m.json", "-o", "o.png", "--", "-in.png"});
  ASSERT_TRUE(dash.options) << dash.error;
  EXPECT_EQ(dash.options->image, "-in.png");
}

TEST(UndistortOptions, HelpAndVersionNeedNothingElse) {
  for (const char* flag : {"--help", "-h", "--version"}) {
    const auto p = Parse({flag});
    ASSERT_TRUE(p.options) << flag;
    EXPECT_TRUE(p.options->help || p.options->version);
  }
}

TEST(UndistortOptions, BadArgumentsAreNamed) {
  const std::vector<std::string> base = {"in.png", "--model", "m.json", "-o", "o.png"};
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--pixel-size", "0"}, "--pixel-size takes a size greater than 0"},
      {{"--pixel-size", "-0.1"}, "--pixel-size takes a size greater than 0"},
      {{"--pixel-size", "nan"}, "--pixel-size"},
      {{"--pixel-size", "1e400"}, "--pixel-size"},
      {{"--pixel-size", "0,02"}, "--pixel-size"},
      {{"--origin", "1"}, "--origin takes two numbers"},
      {{"--origin", "1,x"}, "--origin takes two numbers"},
      {{"--size", "0,5"}, "--size takes two whole numbers"},
      {{"--size", "640"}, "--size takes two whole numbers"},
      {{"--size", "0x10,5"}, "--size takes two whole numbers"},
      {{"--interp", "bicubic"}, "--interp takes linear, cubic or lanczos3"},
      {{"--threads", "-1"}, "--threads takes a number"},
      {{"--format", "jpeg"}, "--format takes png, tiff, pnm or bmp"},
      {{"--format", "tif"}, "--format takes png, tiff, pnm or bmp"},
      {{"--force=yes"}, "option --force takes no value"},
      {{"--bogus"}, "unknown option --bogus"},
      {{"--f"}, "ambiguous option --f"},
      {{"-x"}, "unknown option -x"},
      {{"second.png"}, "more than one image"},
      {{"--region-only", "--origin", "0,0", "--size", "5,5"}, "--region-only has no effect"},
  };
  for (const auto& [extra, message] : cases) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    const auto p = Parse(args);
    EXPECT_FALSE(p.options) << extra[0];
    EXPECT_NE(p.error.find(message), std::string::npos) << p.error;
  }
  EXPECT_NE(Parse({"--model", "m.json", "-o", "o.png"}).error.find("no image"), std::string::npos);
  EXPECT_NE(Parse({"in.png", "-o", "o.png"}).error.find("no model"), std::string::npos);
  EXPECT_NE(Parse({"in.png", "--model", "m.json"}).error.find("no output"), std::string::npos);
  EXPECT_NE(Parse({"in.png", "--model", "m.json", "--model"}).error.find("--model needs a value"),
            std::string::npos);
  EXPECT_NE(Parse({"in.png", "--model", "m.json", "-o", "o.jpg"}).error.find("--format"),
            std::string::npos);
  EXPECT_TRUE(Parse({"in.png", "--model", "m.json", "-o", "o.jpg", "--format", "png"}).options);
}

}  // namespace
}  // namespace qova
