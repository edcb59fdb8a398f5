#include "settings/color_set.h"

#include <gtest/gtest.h>

#include "state/state_record.h"

namespace qova {
namespace {

TEST(ColorSetTest, NamesAndValues) {
  EXPECT_EQ(kColorList.size(), 18u);
  EXPECT_STREQ(kColorList.front().Name, "Aqua");
  EXPECT_STREQ(kColorList.back().Name, "Yellow");
  EXPECT_EQ(ColorValue("Olive green"), 32896);
  EXPECT_EQ(ColorValue("Gray"), 8421504);
  EXPECT_EQ(ColorName(8421504), "Dark gray");    // never "Gray"
  EXPECT_EQ(ColorName(12632256), "Light gray");  // never "Silver"
  EXPECT_EQ(ColorName(8388608), "Navy blue");
  EXPECT_EQ(ColorName(16777215), "White");
  EXPECT_EQ(ColorName(0), "Black");
  EXPECT_EQ(ColorName(123456), "");
  for (const NamedColor& c : kColorList) EXPECT_EQ(ColorValue(ColorName(c.Value)), c.Value);
}

TEST(ColorSetTest, CreationSelectsTheNamesOfTheColours) {
  TColorSet d(12, 255, 32768);
  EXPECT_EQ(kColorList[static_cast<size_t>(d.ComboBox1)].Name, std::string("Red"));
  EXPECT_EQ(kColorList[static_cast<size_t>(d.ComboBox2)].Name, std::string("Green"));
  EXPECT_FALSE(d.ShowActive);

  TColorSet gray(12, 8421504, 123456);
  EXPECT_EQ(kColorList[static_cast<size_t>(gray.ComboBox1)].Name, std::string("Dark gray"));
  // A colour outside the list selects nothing and is kept.
  EXPECT_EQ(gray.ComboBox2, -1);
  EXPECT_EQ(gray.ActiveColor, 123456);
}

TEST(ColorSetTest, SliderClampsAndOnlyAChangeSetsTheSize) {
  TColorSet big(25, 255, 255);
  EXPECT_EQ(big.TrackBar1, 20);
  EXPECT_EQ(big.Size, 20);

  TColorSet small(5, 255, 255);
  EXPECT_EQ(small.TrackBar1, 8);
  EXPECT_EQ(small.Size, 5);  // the slider did not move
  small.SetTrackBar1(9);
  EXPECT_EQ(small.Size, 9);
  small.SetTrackBar1(3);
  EXPECT_EQ(small.TrackBar1, 8);
  EXPECT_EQ(small.Size, 8);

  TColorSet mid(14, 255, 255);
  EXPECT_EQ(mid.Size, 14);
}

TEST(ColorSetTest, PicksAndButtons) {
  TColorSet d(12, 255, 32768);
  d.ComboBox1Change(ColorIndex("Teal"));
  d.ComboBox2Change(ColorIndex("Yellow"));
  EXPECT_EQ(d.PassiveColor, 8421376);
  EXPECT_EQ(d.ActiveColor, 65535);
  d.CancelBtnClick();
  EXPECT_FALSE(d.ModalResultOk);
  EXPECT_TRUE(d.CloseRequested());
  d.BeginShowing();
  d.OkBtnClick();
  EXPECT_TRUE(d.ModalResultOk);
  EXPECT_TRUE(d.CloseRequested());
}

// Pixels of the pen colour in the preview, as (x, y) pairs.
std::vector<std::pair<int, int>> PenPixels(const QImage& img, Color pen) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (FromQRgb(img.pixel(x, y)) == pen) out.emplace_back(x, y);
  return out;
}

TEST(ColorSetTest, PreviewDrawsTheArmsWithoutTheirEndPoints) {
  const QImage img = DrawColorPreview(98, 98, 255, 12);
  const auto pixels = PenPixels(img, 255);
  // Two arms of 24 pixels sharing the centre.
  EXPECT_EQ(pixels.size(), 47u);
  EXPECT_EQ(FromQRgb(img.pixel(49 - 12, 49)), 255);
  EXPECT_EQ(FromQRgb(img.pixel(49 + 11, 49)), 255);
  EXPECT_EQ(FromQRgb(img.pixel(49 + 12, 49)), kWhite);
  EXPECT_EQ(FromQRgb(img.pixel(49, 49 - 12)), 255);
  EXPECT_EQ(FromQRgb(img.pixel(49, 49 + 12)), kWhite);
  EXPECT_EQ(FromQRgb(img.pixel(0, 0)), kWhite);

  // A negative size draws from the other end; zero draws nothing; a huge one
  // is clipped to the picture.
  EXPECT_EQ(PenPixels(DrawColorPreview(98, 98, 0, -3), 0).size(), 11u);
  EXPECT_TRUE(PenPixels(DrawColorPreview(98, 98, 0, 0), 0).empty());
  EXPECT_EQ(PenPixels(DrawColorPreview(98, 98, 0, 2147483647), 0).size(), 98u + 97u);
}

TEST(ColorSetTest, PreviewShowsTheActiveColourWhileTheLeftButtonIsHeld) {
  TColorSet d(10, 255, 32768);
  EXPECT_EQ(PenPixels(d.Preview(), 255).size(), 39u);
  d.PaintBox1MouseDown(false);
  EXPECT_FALSE(d.ShowActive);
  d.PaintBox1MouseDown(true);
  EXPECT_EQ(PenPixels(d.Preview(), 32768).size(), 39u);
  d.PaintBox1MouseUp(true);  // another button let go: still held
  EXPECT_TRUE(d.ShowActive);
  d.PaintBox1MouseUp(false);
  EXPECT_FALSE(d.ShowActive);
  EXPECT_EQ(PenPixels(d.Preview(), 255).size(), 39u);
}

}  // namespace
}  // namespace qova
