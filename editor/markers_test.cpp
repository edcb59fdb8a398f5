#include "editor/markers.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "editor/layer_pixels.h"
#include "platform/scripted_platform.h"

namespace qova {
namespace {

constexpr Color kRed = 0x0000FF;  // colour values hold red in the low byte
constexpr Color kBlue = 0xFF0000;
constexpr Color kGreen = 0x008000;

using Pixel = std::pair<int, int>;

// Every pixel of the overlay that is not see-through.
std::set<Pixel> DrawnPixels(const StateRecord& s) {
  std::set<Pixel> drawn;
  const QImage overlay = OverlayPart(s, QRect(0, 0, s.ImageWidth, s.ImageHeight));
  for (int y = 0; y < s.ImageHeight; ++y)
    for (int x = 0; x < s.ImageWidth; ++x)
      if (FromQRgb(overlay.pixel(x, y)) != kWhite) drawn.insert({x, y});
  return drawn;
}

QImage WholePicture(const StateRecord& s) {
  return PicturePart(s, QRect(0, 0, s.ImageWidth, s.ImageHeight));
}

bool OverlayBlank(const StateRecord& s) { return DrawnPixels(s).empty(); }

class Layers : public ::testing::Test {
 protected:
  Layers() { Open(200, 200); }

  void Open(int w, int h) {
    s.ImageWidth = w;
    s.ImageHeight = h;
    QImage grey(w, h, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    s.Image1.Show(CompactPicture::From(grey));
    s.ClearOverlay();
  }

  SearchRegion& AddRegion(std::vector<Pixel> corners) {
    auto& region = *s.Regions.Append(std::make_unique<SearchRegion>(1));
    for (auto [x, y] : corners) region.AddNew(x, y);
    return region;
  }

  ScriptedPlatform platform;
  StateRecord s{platform};
};

// --- The cross ---------------------------------------------------------------

TEST_F(Layers, OverlayCrossReachesCrossSizeBeforeAndCrossSizeMinusOneAfter) {
  s.CrossSize = 12;
  DrawOverlayMarker(s, kRed, 100, 50, -1);
  std::set<Pixel> expected;
  for (int x = 88; x <= 111; ++x) expected.insert({x, 50});
  for (int y = 38; y <= 61; ++y) expected.insert({100, y});
  EXPECT_EQ(DrawnPixels(s), expected);
  EXPECT_EQ(OverlayPixel(s, 88, 50), kRed);
  EXPECT_EQ(OverlayPixel(s, 100, 61), kRed);
}

TEST_F(Layers, PictureCrossHasTheSameArmsAndNoLabel) {
  s.CrossSize = 12;
  const QImage before = WholePicture(s);
  DrawPictureMarker(s, kBlue, 100, 50);
  const QImage after = WholePicture(s);
  int changed = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x)
      if (after.pixel(x, y) != before.pixel(x, y)) {
        ++changed;
        EXPECT_TRUE((y == 50 && x >= 88 && x <= 111) || (x == 100 && y >= 38 && y <= 61))
            << x << "," << y;
        EXPECT_EQ(PicturePixel(s, x, y), kBlue);
      }
  EXPECT_EQ(changed, 24 + 24 - 1);
  EXPECT_TRUE(OverlayBlank(s));
}

TEST_F(Layers, CrossesAtAndBeyondTheBorderAreClipped) {
  Open(50, 40);
  s.CrossSize = 12;
  DrawOverlayMarker(s, kRed, 0, 0, 5);
  DrawPictureMarker(s, kRed, 0, 0);
  std::set<Pixel> expected;
  for (int i = 0; i <= 11; ++i) {
    expected.insert({i, 0});
    expected.insert({0, i});
  }
  // The label cell at (10, 2) lies on the overlay; only its glyphs show.
  std::set<Pixel> arms;
  for (auto p : DrawnPixels(s))
    if (p.first == 0 || p.second == 0) arms.insert(p);
  EXPECT_EQ(arms, expected);
  EXPECT_EQ(PicturePixel(s, 11, 0), kRed);
  EXPECT_EQ(PicturePixel(s, 12, 0), FromQRgb(qRgb(128, 128, 128)));

  // Far outside, in every direction and at the ends of the int range.
  s.ClearOverlay();
  for (auto [x, y] : std::vector<Pixel>{{-100, 20},
                                        {20, -100},
                                        {49 + 13, 20},
                                        {20, 39 + 13},
                                        {INT_MAX, INT_MAX},
                                        {INT_MIN, INT_MIN}}) {
    DrawOverlayMarker(s, kRed, x, y, 99);
    DrawPictureMarker(s, kRed, x, y);
  }
  EXPECT_TRUE(OverlayBlank(s));
  // Just inside: one arm pixel each.
  DrawOverlayMarker(s, kRed, -11, 20, -1);
  DrawOverlayMarker(s, kRed, 49 + 12, 21, -1);
  EXPECT_EQ(DrawnPixels(s), (std::set<Pixel>{{0, 20}, {49, 21}}));
}

TEST_F(Layers, NothingIsDrawnBeforeAnImageIsOpen) {
  StateRecord blank{platform};
  DrawOverlayMarker(blank, kRed, 5, 5, 1);
  DrawPictureMarker(blank, kRed, 5, 5);
  OverlayLine(blank, kRed, 0, 0, 10, 10);
  RedrawOverlay(blank);
  EXPECT_TRUE(blank.CrossImage1.drawings.Empty());
  EXPECT_TRUE(blank.Image1.drawings.Empty());
}

// --- The label ---------------------------------------------------------------

TEST_F(Layers, LabelCellStartsTenRightAndCrossSizeMinusTenDown) {
  s.CrossSize = 12;
  for (int y = 30; y < 90; ++y) OverlayLine(s, kBlack, 80, y, 160, y);  // to see the white cell
  DrawOverlayMarker(s, kRed, 100, 50, 7);
  const auto cell = LabelCell(s, 100, 50, 7);
  ASSERT_TRUE(cell.has_value());
  EXPECT_EQ(cell->topLeft(), QPoint(110, 52));
  EXPECT_GT(cell->width(), 2);
  EXPECT_GT(cell->height(), 5);
  int glyph = 0;
  for (int y = cell->top(); y <= cell->bottom(); ++y)
    for (int x = cell->left(); x <= cell->right(); ++x) {
      const Color c = OverlayPixel(s, x, y);
      EXPECT_TRUE(c == kWhite || c == kRed) << x << "," << y << ": " << c;  // no smoothing
      glyph += c == kRed;
    }
  EXPECT_GT(glyph, 3);
  // Outside the cell and the arms the overlay is as it was.
  EXPECT_EQ(OverlayPixel(s, 109, 52), kBlack);
  EXPECT_EQ(OverlayPixel(s, 110, 51), kBlack);
  EXPECT_EQ(OverlayPixel(s, cell->right() + 1, 55), kBlack);
  EXPECT_EQ(OverlayPixel(s, 112, cell->bottom() + 1), kBlack);
  // The font keeps the colour of the last labelled marker; unlabelled ones
  // leave it alone.
  EXPECT_EQ(s.IndexFont.Color, kRed);
  DrawOverlayMarker(s, kBlue, 20, 20, -1);
  EXPECT_EQ(s.IndexFont.Color, kRed);
}

TEST_F(Layers, LabelFollowsCrossSizeAndFont) {
  s.CrossSize = 20;
  EXPECT_EQ(LabelCell(s, 100, 50, 3)->topLeft(), QPoint(110, 60));
  const int small = LabelCell(s, 100, 50, 3)->height();
  s.IndexFont.Size = 20;
  EXPECT_GT(LabelCell(s, 100, 50, 3)->height(), small);
  EXPECT_GT(LabelCell(s, 100, 50, 123)->width(), LabelCell(s, 100, 50, 3)->width());
  EXPECT_FALSE(LabelCell(s, 300, 50, 3).has_value());
}

TEST_F(Layers, UnusualFontSizesStillDrawAndEraseCleanly) {
  for (int size : {0, -5, 1, 72, 5000}) {
    s.IndexFont.Size = size;
    DrawOverlayMarker(s, kGreen, 30, 30, 8);
    EXPECT_FALSE(OverlayBlank(s));
    DrawOverlayMarker(s, kWhite, 30, 30, 8);
    EXPECT_TRUE(OverlayBlank(s)) << size;
  }
}

TEST_F(Layers, AMarkerDrawnAgainInWhiteLeavesTheOverlaySeeThrough) {
  for (int cross : {3, 12, 30}) {
    s.CrossSize = cross;
    s.IndexFont.Bold = cross == 30;
    s.IndexFont.Underline = cross == 3;
    DrawOverlayMarker(s, kGreen, 100, 50, 12);
    ASSERT_FALSE(OverlayBlank(s));
    DrawOverlayMarker(s, kWhite, 100, 50, 12);
    EXPECT_TRUE(OverlayBlank(s)) << "CrossSize " << cross;
    EXPECT_EQ(s.IndexFont.Color, kWhite);
  }
}

// --- Lines -------------------------------------------------------------------

TEST_F(Layers, LineLeavesOutItsEndPoint) {
  OverlayLine(s, kRed, 10, 10, 14, 10);
  EXPECT_EQ(DrawnPixels(s), (std::set<Pixel>{{10, 10}, {11, 10}, {12, 10}, {13, 10}}));
  s.ClearOverlay();
  OverlayLine(s, kRed, 10, 14, 10, 10);
  EXPECT_EQ(DrawnPixels(s), (std::set<Pixel>{{10, 14}, {10, 13}, {10, 12}, {10, 11}}));
  s.ClearOverlay();
  OverlayLine(s, kRed, 7, 7, 7, 7);
  EXPECT_TRUE(OverlayBlank(s));
}

TEST_F(Layers, LineStepsLikeBresenham) {
  OverlayLine(s, kRed, 0, 0, 4, 1);
  EXPECT_EQ(DrawnPixels(s), (std::set<Pixel>{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
  s.ClearOverlay();
  OverlayLine(s, kRed, 20, 20, 17, 23);  // diagonal
  EXPECT_EQ(DrawnPixels(s), (std::set<Pixel>{{20, 20}, {19, 21}, {18, 22}}));
  s.ClearOverlay();
  OverlayLine(s, kRed, 5, 30, 7, 20);  // steep, one pixel per row
  const auto drawn = DrawnPixels(s);
  EXPECT_EQ(drawn.size(), 10u);
  std::set<int> rows;
  for (auto [x, y] : drawn) {
    rows.insert(y);
    EXPECT_GE(x, 5);
    EXPECT_LE(x, 7);
  }
  EXPECT_EQ(*rows.begin(), 21);
  EXPECT_EQ(*rows.rbegin(), 30);
}

TEST_F(Layers, LineBackInWhiteErasesAllButTheFirstEnd) {
  for (auto [x1, y1] : std::vector<Pixel>{{170, 63}, {13, 190}, {101, 199}, {40, 28}}) {
    s.ClearOverlay();
    OverlayLine(s, kBlue, 40, 30, x1, y1);
    OverlayLine(s, kWhite, x1, y1, 40, 30);
    EXPECT_EQ(DrawnPixels(s), (std::set<Pixel>{{40, 30}})) << x1 << "," << y1;
  }
}

TEST_F(Layers, LinesAreClippedToTheBitmap) {
  // The same line in a large bitmap and in a 50 × 40 window of it.
  OverlayLine(s, kRed, 40, 45, 110, 80);
  OverlayLine(s, kRed, 100, 10, 30, 150);
  std::set<Pixel> window;
  for (auto [x, y] : DrawnPixels(s))
    if (x >= 50 && x < 100 && y >= 50 && y < 90) window.insert({x - 50, y - 50});
  ASSERT_FALSE(window.empty());

  Open(50, 40);
  OverlayLine(s, kRed, -10, -5, 60, 30);
  OverlayLine(s, kRed, 50, -40, -20, 100);
  EXPECT_EQ(DrawnPixels(s), window);

  // Across the whole int range: only the visible part is visited.
  s.ClearOverlay();
  OverlayLine(s, kRed, INT_MIN, 5, INT_MAX, 5);
  OverlayLine(s, kRed, 7, INT_MAX, 7, INT_MIN);
  OverlayLine(s, kRed, INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  const auto drawn = DrawnPixels(s);
  for (int x = 0; x < 50; ++x) EXPECT_TRUE(drawn.count({x, 5}));
  for (int y = 0; y < 40; ++y) EXPECT_TRUE(drawn.count({7, y}));
}

TEST_F(Layers, PictureLineDrawsIntoThePicture) {
  PictureLine(s, kGreen, 3, 3, 6, 3);
  EXPECT_EQ(PicturePixel(s, 3, 3), kGreen);
  EXPECT_EQ(PicturePixel(s, 5, 3), kGreen);
  EXPECT_NE(PicturePixel(s, 6, 3), kGreen);
  EXPECT_TRUE(OverlayBlank(s));
}

// --- Redraw ------------------------------------------------------------------

// The pixels of one labelled marker on a fresh overlay, for comparison.
QImage MarkerAlone(const StateRecord& like, int x, int y, int label, QRect cell) {
  ScriptedPlatform platform;
  StateRecord one{platform};
  one.ImageWidth = like.ImageWidth;
  one.ImageHeight = like.ImageHeight;
  one.CrossSize = like.CrossSize;
  one.IndexFont = like.IndexFont;
  DrawOverlayMarker(one, like.PassiveColor, x, y, label);
  return OverlayPart(one, cell);
}

void ExpectLabel(const StateRecord& s, int x, int y, int label) {
  const auto cell = LabelCell(s, x, y, label);
  ASSERT_TRUE(cell.has_value());
  EXPECT_EQ(OverlayPart(s, *cell), MarkerAlone(s, x, y, label, *cell))
      << "label " << label << " at " << x << "," << y;
}

TEST_F(Layers, RedrawWithNoRegionsLeavesTheOverlaySeeThrough) {
  DrawOverlayMarker(s, kRed, 100, 50, 4);
  OverlayLine(s, kRed, 0, 0, 199, 199);
  RedrawOverlay(s);
  EXPECT_TRUE(OverlayBlank(s));
  EXPECT_TRUE(s.CrossImage1.drawings.Empty());  // blank holds no drawings
}

TEST_F(Layers, RedrawShowsARegionClosedEvenWhileUnderConstruction) {
  s.RegionClosed = false;  // the region below is still being built
  AddRegion({{50, 50}, {150, 50}, {100, 150}});
  s.PassiveColor = kBlue;
  RedrawOverlay(s);
  ExpectLabel(s, 50, 50, 1);
  ExpectLabel(s, 150, 50, 2);
  ExpectLabel(s, 100, 150, 3);
  EXPECT_EQ(OverlayPixel(s, 75, 50), kBlue);    // A–B
  EXPECT_EQ(OverlayPixel(s, 125, 100), kBlue);  // B–C
  EXPECT_EQ(OverlayPixel(s, 75, 100), kBlue);   // C–A, the closing edge
  EXPECT_EQ(OverlayPixel(s, 100, 100), kWhite);
  EXPECT_EQ(s.IndexFont.Color, kBlue);
}

TEST_F(Layers, EachRegionIsNumberedFromOne) {
  AddRegion({{20, 20}, {60, 20}});
  AddRegion({{100, 120}, {160, 120}, {100, 170}});
  AddRegion({{30, 170}});
  RedrawOverlay(s);
  ExpectLabel(s, 20, 20, 1);
  ExpectLabel(s, 60, 20, 2);
  ExpectLabel(s, 100, 120, 1);
  ExpectLabel(s, 160, 120, 2);
  ExpectLabel(s, 100, 170, 3);
  ExpectLabel(s, 30, 170, 1);
  // A one-corner region shows only its marker.
  EXPECT_EQ(OverlayPixel(s, 30, 170), s.PassiveColor);
  EXPECT_EQ(OverlayPixel(s, 30 + 12, 170), kWhite);
}

TEST_F(Layers, RedrawRecoloursOutlinesButNotFoundPointMarkers) {
  AddRegion({{50, 50}, {150, 50}, {150, 150}, {50, 150}});
  RedrawOverlay(s);
  DrawPictureMarker(s, s.PassiveColor, 100, 100);
  s.PassiveColor = kGreen;
  RedrawOverlay(s);
  EXPECT_EQ(OverlayPixel(s, 100, 50), kGreen);
  EXPECT_EQ(OverlayPixel(s, 50, 50), kGreen);
  EXPECT_EQ(PicturePixel(s, 100, 100), 255);
}

TEST_F(Layers, RedrawTruncatesFractionalCorners) {
  AddRegion({{0, 0}});
  s.Regions[0]->Get(0)->x = 80.9;
  s.Regions[0]->Get(0)->y = -0.5;  // truncated toward zero: row 0
  RedrawOverlay(s);
  EXPECT_EQ(OverlayPixel(s, 80, 0), s.PassiveColor);
  EXPECT_EQ(OverlayPixel(s, 80 + 11, 0), s.PassiveColor);
  EXPECT_EQ(OverlayPixel(s, 80 + 12, 0), kWhite);
}

}  // namespace
}  // namespace qova
