#include "editor/analysis_marks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <utility>

#include "editor/layer_pixels.h"
#include "editor/markers.h"
#include "platform/scripted_platform.h"
#include "tests/support/bitmap_layers.h"

namespace qova {
namespace {

using Pixel = std::pair<int, int>;

std::set<Pixel> Drawn(const StateRecord& s) {
  std::set<Pixel> drawn;
  for (const DrawnPixel& p : OverlayDrawnPixels(s, QRect(0, 0, s.ImageWidth, s.ImageHeight)))
    if ((p.rgb & 0xFFFFFFu) != 0xFFFFFFu) drawn.insert({p.x, p.y});
  return drawn;
}

class Marks : public ::testing::Test {
 protected:
  Marks() { Open(400, 300); }
  void Open(int w, int h) {
    s.ImageWidth = w;
    s.ImageHeight = h;
    QImage grey(std::min(w, 64), std::min(h, 64), QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    s.Image1.Show(CompactPicture::From(grey));
  }
  ScriptedPlatform platform;
  StateRecord s{platform};
};

// Whatever the font, cross size and residual, a point's index lies in its
// own quarter beside the marker: none of its pixels on the marker's arms or
// on its arrow.
TEST_F(Marks, AnIndexNeverCoversItsMarkerOrItsArrow) {
  std::mt19937 random(7);
  auto uniform = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(random); };
  for (int round = 0; round < 60; ++round) {
    s.CrossSize = uniform(2, 20);
    s.IndexFont.Size = uniform(5, 14);
    s.IndexFont.Bold = uniform(0, 1) == 1;
    s.IndexFont.Italic = uniform(0, 1) == 1;
    PointMark p;
    p.x = uniform(1500, 2500) / 10.0, p.y = uniform(1000, 2000) / 10.0;
    p.indexed = true;
    p.column = uniform(-40, 40), p.row = uniform(-40, 40);
    p.dx = uniform(-100, 100) / 200.0, p.dy = uniform(-100, 100) / 200.0;
    if (uniform(0, 5) == 0) p.dx = p.dy = NAN;
    p.outlier = uniform(0, 4) == 0;
    MarkOptions options;
    options.cellPixels = uniform(20, 60);
    options.indices = true;
    DrawAnalysisMarks(s, {p}, options);
    const std::set<Pixel> label = Drawn(s);
    ASSERT_FALSE(label.empty()) << round;
    options.indices = false;
    options.residuals = true;
    DrawAnalysisMarks(s, {p}, options);
    const std::set<Pixel> arrow = Drawn(s);
    const int x = RoundNearest(p.x), y = RoundNearest(p.y);
    for (const Pixel& q : label) {
      ASSERT_FALSE(q.second == y && q.first >= x - s.CrossSize && q.first < x + s.CrossSize)
          << "round " << round << ": the label on the horizontal arm at " << q.first;
      ASSERT_FALSE(q.first == x && q.second >= y - s.CrossSize && q.second < y + s.CrossSize)
          << "round " << round << ": the label on the vertical arm at " << q.second;
      ASSERT_EQ(arrow.count(q), 0u) << "round " << round << ": the label on the arrow";
    }
  }
}

// The largest residual of the points fitted is two cells long; an outlier's
// arrow is in the highlight colour and sets no scale; a point without a
// residual or outside every image gets no arrow.
TEST_F(Marks, ArrowsAreTwoCellsAtTheLargestAndOutliersAreHighlighted) {
  s.PassiveColor = 0x0000FF;
  s.ActiveColor = 0x008000;
  std::vector<PointMark> points(4);
  points[0] = {100, 100, true, 0, 0, 0.02, 0, false};
  points[1] = {200, 100, true, 1, 0, 0, -0.01, false};
  points[2] = {100, 200, true, 0, 1, 0.5, 0.5, true};  // an outlier 25 times larger
  points[3] = {200, 200, true, 1, 1, NAN, NAN, false};
  EXPECT_DOUBLE_EQ(ArrowScale(points, 40), 80 / 0.02);
  MarkOptions options;
  options.residuals = true;
  options.cellPixels = 40;
  DrawAnalysisMarks(s, points, options);
  EXPECT_EQ(OverlayPixel(s, 179, 100), s.PassiveColor);  // the tip, 80 px right
  EXPECT_EQ(OverlayPixel(s, 181, 100), kWhite);
  EXPECT_EQ(OverlayPixel(s, 200, 60), s.PassiveColor);  // 40 px up
  EXPECT_EQ(OverlayPixel(s, 200, 59), kWhite);
  // The outlier points down and right, stopped at three cells.
  const int reach = static_cast<int>(std::lround(120 / std::sqrt(2.0)));
  EXPECT_EQ(OverlayPixel(s, 100 + reach, 200 + reach), s.ActiveColor);
  EXPECT_EQ(OverlayPixel(s, 100 + reach + 2, 200 + reach + 2), kWhite);
  for (const DrawnPixel& p : OverlayDrawnPixels(s, QRect(160, 150, 80, 80)))
    ADD_FAILURE() << "an arrow without a residual at " << p.x << ", " << p.y;
  // No residuals at all: nothing to scale, nothing drawn.
  for (PointMark& p : points) p.dx = p.dy = NAN;
  DrawAnalysisMarks(s, points, options);
  EXPECT_TRUE(s.CrossImage1.marks.Empty());
}

// The marks lie over the regions and stay when the regions are redrawn or
// cleared; their pixels, part by part, are those of the whole-bitmap twin;
// and what they hold follows the points, not the image's size.
TEST_F(Marks, MarksStayOverTheRegionsAndTheirMemoryFollowsThePoints) {
  s.AppendClosedRegion({{20, 20}, {380, 20}, {380, 280}, {20, 280}});
  RedrawOverlay(s);
  std::vector<PointMark> points;
  for (int c = 0; c < 8; ++c)
    for (int r = 0; r < 6; ++r)
      points.push_back({40.0 + 45 * c + 0.3, 30.0 + 45 * r - 0.2, true, c - 2, r - 1,
                        std::sin(c + r) * 0.01, std::cos(c * r) * 0.01, c == 3 && r == 2});
  MarkOptions options{true, true, 45};
  DrawAnalysisMarks(s, points, options);
  ASSERT_FALSE(s.CrossImage1.marks.Empty());
  const QImage twin = WholeOverlay(s);
  for (const QRect part : {QRect(0, 0, 400, 300), QRect(37, 11, 90, 70), QRect(350, 250, 50, 50)})
    ASSERT_EQ(FirstDifference(OverlayPart(s, part), twin.copy(part)), "");
  RedrawOverlay(s);
  s.ClearOverlay();
  EXPECT_FALSE(s.CrossImage1.marks.Empty());
  // Some marks reach past this image's edges; on larger ones all are kept.
  EXPECT_LE(s.CrossImage1.marks.Shapes().size(), 4 * points.size());
  Open(4000, 3000);
  DrawAnalysisMarks(s, points, options);
  const size_t bytes = s.CrossImage1.marks.HeldBytes();
  const size_t shapes = s.CrossImage1.marks.Shapes().size();
  EXPECT_LE(shapes, 4 * points.size());
  Open(40000, 30000);
  DrawAnalysisMarks(s, points, options);
  EXPECT_EQ(s.CrossImage1.marks.Shapes().size(), shapes);
  EXPECT_EQ(s.CrossImage1.marks.HeldBytes(), bytes);
  s.CrossImage1.ClearMarks();
  EXPECT_TRUE(s.CrossImage1.marks.Empty());
}

}  // namespace
}  // namespace qova
