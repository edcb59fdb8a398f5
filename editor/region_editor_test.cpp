#include "editor/region_editor.h"

#include <gtest/gtest.h>

#include <QRegion>
#include <algorithm>
#include <memory>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "editor/layer_pixels.h"
#include "editor/markers.h"
#include "platform/scripted_platform.h"
#include "tests/support/bitmap_layers.h"

namespace qova {
namespace {

using Pixel = std::pair<int, int>;
using Corners = std::vector<Pixel>;

constexpr const char* kMarkHint = "Отметить угол области поиска: ";
constexpr const char* kCornerHint = "Угол области поиска: ";
constexpr const char* kDeleteHint = "Удалить угол области поиска: ";

// An image of 300 × 200 has just been opened: no regions, none under
// construction, nothing selected.
class Editor : public ::testing::Test {
 protected:
  Editor() {
    s.ImageWidth = 300;
    s.ImageHeight = 200;
    QImage grey(300, 200, QImage::Format_RGB32);
    grey.fill(Qt::gray);
    s.Image1.Show(CompactPicture::From(grey));
    s.RegionClosed = true;
  }

  void Down(int x, int y, bool ctrl = false, MouseButton b = MouseButton::Left) {
    Image1MouseDown(s, b, ctrl, x, y);
  }
  void Up(int x, int y, bool ctrl = false, MouseButton b = MouseButton::Left) {
    CrossImage1MouseUp(s, b, ctrl, x, y);
  }
  void Move(int x, int y, bool ctrl = false) { CrossImage1MouseMove(s, ctrl, x, y); }
  void Click(int x, int y, bool ctrl = false) {
    Down(x, y, ctrl);
    Up(x, y, ctrl);
  }
  void Clicks(const Corners& points) {
    for (auto [x, y] : points) Click(x, y);
  }
  void Key(int key) {
    EditorKeyDown(s, key);
    EditorKeyUp(s, key);
  }

  Corners CornersOf(int region) const {
    Corners out;
    const SearchRegion& r = *s.Regions[region];
    for (int j = 0; j < r.Count(); ++j)
      out.push_back({static_cast<int>(r.Get(j)->x), static_cast<int>(r.Get(j)->y)});
    return out;
  }
  Pixel Selection() const { return {s.SelectedRegion, s.SelectedCorner}; }
  Color At(int x, int y) const { return OverlayPixel(s, x, y); }
  QImage Overlay() const { return OverlayPart(s, QRect(0, 0, s.ImageWidth, s.ImageHeight)); }
  const std::string& Hint() const { return platform.statusText[2]; }

  ScriptedPlatform platform;
  StateRecord s{platform};
  const Corners square{{50, 50}, {150, 50}, {150, 150}, {50, 150}};
};

// --- Building regions --------------------------------------------------------

TEST_F(Editor, FourClicksMakeAClosedRegionAndEnableFind) {
  s.RunCompleted = true;
  s.FoundPoints.AddNew(1, 1);
  s.UpdateActions();
  Clicks({square[0], square[1], square[2]});
  EXPECT_FALSE(s.RegionClosed);
  EXPECT_FALSE(s.FindEnabled);
  Down(50, 150);
  EXPECT_FALSE(s.RegionClosed);
  EXPECT_EQ(At(100, 150), s.PassiveColor);  // edge 3–4
  EXPECT_EQ(At(50, 100), kWhite);           // not closed before the release
  Up(50, 150);

  ASSERT_EQ(s.Regions.Length(), 1);
  EXPECT_EQ(CornersOf(0), square);
  EXPECT_TRUE(s.RegionClosed);
  EXPECT_FALSE(s.Dragging);
  EXPECT_TRUE(s.FindEnabled);
  EXPECT_TRUE(platform.findEnabled);
  EXPECT_TRUE(s.SaveEnabled);  // unchanged
  EXPECT_EQ(Selection(), Pixel(0, 0));
  EXPECT_EQ(At(100, 50), s.PassiveColor);
  EXPECT_EQ(At(150, 100), s.PassiveColor);
  EXPECT_EQ(At(50, 100), s.PassiveColor);  // the closing edge 4–1
  EXPECT_EQ(At(50 + 5, 50), s.PassiveColor);
  EXPECT_GT(platform.repaints, 0);

  // The next plain click starts a second region.
  Click(250, 100);
  ASSERT_EQ(s.Regions.Length(), 2);
  EXPECT_EQ(CornersOf(1), (Corners{{250, 100}}));
  EXPECT_FALSE(s.RegionClosed);
}

TEST_F(Editor, CornersAreNumberedInTheOrderPlaced) {
  Clicks(square);
  for (int k = 0; k < 4; ++k) {
    const auto [x, y] = square[k];
    const auto cell = LabelCell(s, x, y, k + 1);
    ASSERT_TRUE(cell.has_value());
    bool glyph = false;
    for (int yy = cell->top(); yy <= cell->bottom(); ++yy)
      for (int xx = cell->left(); xx <= cell->right(); ++xx) glyph |= At(xx, yy) != kWhite;
    EXPECT_TRUE(glyph) << "label " << k + 1;
  }
  const QImage before = Overlay();
  RedrawOverlay(s);
  DrawOverlayMarker(s, s.PassiveColor, 50, 50, 1);  // as the release left corner 1
  EXPECT_EQ(Overlay(), before);
}

TEST_F(Editor, AClickNearTheFirstCornerClosesATriangleWithoutAddingACorner) {
  Clicks({{60, 40}, {200, 60}, {120, 170}});
  Click(60 + 5, 40 + 5);  // 7.1 pixels from corner 1
  ASSERT_EQ(s.Regions.Length(), 1);
  EXPECT_EQ(CornersOf(0), (Corners{{60, 40}, {200, 60}, {120, 170}}));
  EXPECT_TRUE(s.RegionClosed);
  EXPECT_TRUE(s.FindEnabled);
  EXPECT_EQ(Selection(), Pixel(0, 0));
  EXPECT_EQ(At(90, 105), s.PassiveColor);  // on the closing edge from (120, 170)
}

TEST_F(Editor, AClickOnTheOnlyCornerClosesARegionOfOneCorner) {
  Click(80, 80);
  EXPECT_FALSE(s.RegionClosed);
  Click(80, 80);
  ASSERT_EQ(s.Regions.Length(), 1);
  EXPECT_EQ(CornersOf(0), (Corners{{80, 80}}));
  EXPECT_TRUE(s.RegionClosed);
  EXPECT_TRUE(s.FindEnabled);
}

TEST_F(Editor, InsideThePickSquareButOutsideTheCloseRadiusAddsACornerAndSelectsCornerOne) {
  Click(100, 100);
  Down(110, 110);  // |dx|, |dy| < 12 but 14.1 pixels away
  EXPECT_EQ(CornersOf(0), (Corners{{100, 100}, {110, 110}}));
  EXPECT_FALSE(s.RegionClosed);
  EXPECT_FALSE(s.FindEnabled);
  EXPECT_EQ(Selection(), Pixel(0, 0));
  // The selected corner 1 follows the pointer until the release.
  Move(120, 125);
  Up(120, 125);
  EXPECT_EQ(CornersOf(0), (Corners{{120, 125}, {110, 110}}));
  EXPECT_EQ(Selection(), Pixel(0, 0));
}

TEST_F(Editor, TheFirstClickOnAFreshRecordStartsARegion) {
  s.RegionClosed = false;  // the record's initial value, no region yet
  Click(30, 30);
  ASSERT_EQ(s.Regions.Length(), 1);
  EXPECT_EQ(CornersOf(0), (Corners{{30, 30}}));
  EXPECT_FALSE(s.RegionClosed);
}

// --- Selecting, dragging, nudging -------------------------------------------

TEST_F(Editor, SelectDragClampAndNudgeACorner) {
  Clicks(square);
  Down(152, 147);  // on corner 3
  EXPECT_EQ(Selection(), Pixel(0, 2));
  EXPECT_EQ(s.Regions[0]->Count(), 4);  // nothing added
  EXPECT_TRUE(s.Dragging);
  EXPECT_EQ(At(155, 150), s.ActiveColor);

  Move(200, 180);  // the corner jumps to the pointer itself
  EXPECT_EQ(CornersOf(0)[2], Pixel(200, 180));
  EXPECT_EQ(At(205, 180), s.ActiveColor);
  EXPECT_EQ(At(155, 150), kWhite);          // redrawn without the old position
  EXPECT_EQ(At(175, 115), s.PassiveColor);  // the outline follows
  Up(200, 180);
  EXPECT_FALSE(s.Dragging);
  EXPECT_EQ(Selection(), Pixel(0, 2));  // a release keeps the selection
  EXPECT_EQ(At(205, 180), s.PassiveColor);

  // Past the border the corner stays one pixel inside.
  Down(200, 180);
  Move(1000, -50);
  EXPECT_EQ(CornersOf(0)[2], Pixel(298, 1));
  Move(-5, 500);
  EXPECT_EQ(CornersOf(0)[2], Pixel(1, 198));
  Up(-5, 500);
  Move(150, 150);  // no button: nothing moves
  EXPECT_EQ(CornersOf(0)[2], Pixel(1, 198));

  // The arrow keys, one pixel per press, clamped the same way.
  Key(kKeyLeft);
  EXPECT_EQ(CornersOf(0)[2], Pixel(1, 198));
  Key(kKeyRight);
  Key(kKeyRight);
  Key(kKeyUp);
  EXPECT_EQ(CornersOf(0)[2], Pixel(3, 197));
  EditorKeyDown(s, kKeyDown);
  EXPECT_EQ(At(3 + 5, 198), s.ActiveColor);
  EditorKeyUp(s, kKeyDown);
  EXPECT_EQ(At(3 + 5, 198), s.PassiveColor);
  Key(kKeyDown);
  EXPECT_EQ(CornersOf(0)[2], Pixel(3, 198));
  EditorKeyDown(s, kKeyEnter);  // the main window handles Enter
  EXPECT_EQ(CornersOf(0)[2], Pixel(3, 198));
}

TEST_F(Editor, ArrowKeysWithoutASelectionDoNothing) {
  Clicks(square);
  Click(250, 30);  // picks nothing: selection cleared, a new region starts
  EXPECT_EQ(Selection(), Pixel(-1, -1));
  const int repaints = platform.repaints;
  Key(kKeyLeft);
  Key(kKeyDown);
  EXPECT_EQ(CornersOf(0), square);
  EXPECT_EQ(CornersOf(1), (Corners{{250, 30}}));
  EXPECT_EQ(platform.repaints, repaints);
}

TEST_F(Editor, CtrlFreezesADrag) {
  Clicks(square);
  Down(150, 50);
  Move(170, 60, true);
  EXPECT_EQ(CornersOf(0)[1], Pixel(150, 50));
  EXPECT_TRUE(s.Dragging);
  Move(180, 65);
  EXPECT_EQ(CornersOf(0)[1], Pixel(180, 65));
  Up(180, 65, false, MouseButton::Right);  // a release of any button ends it
  EXPECT_FALSE(s.Dragging);
  Move(190, 70);
  EXPECT_EQ(CornersOf(0)[1], Pixel(180, 65));
}

TEST_F(Editor, OfTwoCornersUnderTheClickTheLaterIsPicked) {
  auto& a = *s.Regions.Append(std::make_unique<SearchRegion>(1));
  a.AddNew(100.0, 100.0);
  a.AddNew(106.0, 100.0);  // later in the same region
  auto& b = *s.Regions.Append(std::make_unique<SearchRegion>(1));
  b.AddNew(40.0, 40.0);
  b.AddNew(44.0, 44.0);
  b.AddNew(200.0, 40.0);
  Down(103, 100);
  EXPECT_EQ(Selection(), Pixel(0, 1));
  Up(103, 100);
  Down(42, 42);
  EXPECT_EQ(Selection(), Pixel(1, 1));  // the later region's corner wins
  Up(42, 42);
  Down(30, 36);  // only region 1's corner 1 is in reach
  EXPECT_EQ(Selection(), Pixel(1, 0));
  Up(30, 36);
  // Deleting picks the later corner too.
  Click(103, 100, true);
  EXPECT_EQ(CornersOf(0), (Corners{{100, 100}}));
}

// --- Deleting ----------------------------------------------------------------

TEST_F(Editor, CtrlClickOnTheOnlyCornerRemovesTheRegion) {
  Click(120, 80);
  Click(125, 84, true);
  EXPECT_EQ(s.Regions.Length(), 0);
  EXPECT_TRUE(s.RegionClosed);
  EXPECT_EQ(Selection(), Pixel(-1, -1));
  EXPECT_EQ(At(120, 80), kWhite);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) ASSERT_EQ(At(x, y), kWhite) << x << "," << y;
  Click(60, 60);
  ASSERT_EQ(s.Regions.Length(), 1);
  EXPECT_EQ(CornersOf(0), (Corners{{60, 60}}));
}

TEST_F(Editor, CtrlClickOnAMiddleCornerOfAClosedRegionJoinsItsNeighbours) {
  Clicks(square);
  Down(145, 55, true);
  EXPECT_FALSE(s.Dragging);  // a Ctrl press does not start a drag
  Up(145, 55, true);
  EXPECT_EQ(CornersOf(0), (Corners{{50, 50}, {150, 150}, {50, 150}}));
  EXPECT_EQ(Selection(), Pixel(-1, -1));
  EXPECT_TRUE(s.RegionClosed);
  EXPECT_TRUE(s.FindEnabled);               // deleting never disables find
  EXPECT_EQ(At(100, 50), kWhite);           // edge 1–2 erased
  EXPECT_EQ(At(150, 100), kWhite);          // edge 2–3 erased
  EXPECT_EQ(At(150, 45), kWhite);           // the marker erased
  EXPECT_EQ(At(100, 100), s.PassiveColor);  // bridge 1–3
  EXPECT_EQ(At(50, 100), s.PassiveColor);   // untouched edge
}

TEST_F(Editor, CtrlClickOnTheFirstCornerOfAClosedRegionErasesTheClosingEdge) {
  Clicks(square);
  Click(50, 50, true);
  EXPECT_EQ(CornersOf(0), (Corners{{150, 50}, {150, 150}, {50, 150}}));
  EXPECT_EQ(At(100, 50), kWhite);
  EXPECT_EQ(At(50, 100), kWhite);
  EXPECT_EQ(At(100, 100), s.PassiveColor);  // bridge from corner 4 to corner 2
}

TEST_F(Editor, CtrlClickOnAMiddleCornerOfTheOnlyRegionUnderConstructionDoesNotJoin) {
  Clicks({square[0], square[1], square[2]});
  Click(150, 50, true);
  EXPECT_EQ(CornersOf(0), (Corners{{50, 50}, {150, 150}}));
  EXPECT_FALSE(s.RegionClosed);
  EXPECT_EQ(At(100, 50), kWhite);
  EXPECT_EQ(At(150, 100), kWhite);
  EXPECT_EQ(At(100, 100), kWhite);  // no bridge
  // With another region present the neighbours are joined.
  Click(150, 150, true);
  Click(50, 50, true);
  ASSERT_EQ(s.Regions.Length(), 0);
  Clicks(square);
  Clicks({{200, 20}, {280, 20}, {280, 100}});
  Click(280, 20, true);
  EXPECT_EQ(CornersOf(1), (Corners{{200, 20}, {280, 100}}));
  EXPECT_EQ(At(240, 60), s.PassiveColor);
}

TEST_F(Editor, DeletingTheOnlyCornerOfAClosedRegionAlsoEndsTheRegionUnderConstruction) {
  Click(40, 40);
  Click(40, 40);  // a closed region of one corner
  Clicks({{200, 100}, {250, 100}, {250, 150}});
  EXPECT_FALSE(s.RegionClosed);
  Click(40, 40, true);
  ASSERT_EQ(s.Regions.Length(), 1);
  EXPECT_EQ(CornersOf(0), (Corners{{200, 100}, {250, 100}, {250, 150}}));
  EXPECT_TRUE(s.RegionClosed);
  EXPECT_EQ(At(225, 125), kWhite);  // no closing edge drawn
  Click(100, 180);                  // starts a new region
  ASSERT_EQ(s.Regions.Length(), 2);
  EXPECT_EQ(CornersOf(0).size(), 3u);
  EXPECT_EQ(CornersOf(1), (Corners{{100, 180}}));
}

TEST_F(Editor, CtrlClickOnNoCornerDoesNothing) {
  Clicks(square);
  const QImage before = Overlay();
  Click(100, 100, true);
  EXPECT_EQ(CornersOf(0), square);
  EXPECT_EQ(Selection(), Pixel(0, 0));
  EXPECT_EQ(Overlay(), before);
}

// --- Status bar --------------------------------------------------------------

TEST_F(Editor, PointerReadOutAndCornerHints) {
  Clicks(square);
  Move(35, 177);
  EXPECT_EQ(platform.statusText[0], "X= 35");
  EXPECT_EQ(platform.statusText[1], "Y= 177");
  EXPECT_EQ(Hint(), std::string(kMarkHint) + "35 - 177    ");
  Move(158, 142);
  EXPECT_EQ(Hint(), std::string(kCornerHint) + "150 - 150    ");
  Move(158, 142, true);
  EXPECT_EQ(Hint(), std::string(kDeleteHint) + "150 - 150    ");
}

TEST_F(Editor, HintAndDeleteTolerancesDiffer) {
  Click(100, 100);
  Click(100, 100);
  s.CrossSize = 20;
  Move(115, 100, true);
  EXPECT_EQ(Hint(), std::string(kDeleteHint) + "100 - 100    ");
  Click(115, 100, true);
  EXPECT_EQ(s.Regions.Length(), 1);  // 15 pixels: beyond the delete square

  s.CrossSize = 8;
  Move(109, 100, true);
  EXPECT_EQ(Hint(), std::string(kMarkHint) + "109 - 100    ");
  Click(109, 100, true);
  EXPECT_EQ(s.Regions.Length(), 0);  // 9 pixels: inside the delete square
}

// --- Ignored input -----------------------------------------------------------

TEST_F(Editor, PressesBeforeAnImageIsOpenAndOtherButtonsAreIgnored) {
  s.ImageWidth = 0;
  s.ImageHeight = 0;
  Click(10, 10);
  Click(10, 10, true);
  EXPECT_EQ(s.Regions.Length(), 0);
  EXPECT_FALSE(s.Dragging);
  EXPECT_TRUE(s.CrossImage1.drawings.Empty());

  s.ImageWidth = 300;
  s.ImageHeight = 200;
  for (MouseButton b : {MouseButton::Right, MouseButton::Middle}) {
    Down(10, 10, false, b);
    Down(10, 10, true, b);
  }
  EXPECT_EQ(s.Regions.Length(), 0);
  EXPECT_FALSE(s.Dragging);
  Clicks(square);
  Down(50, 50, true, MouseButton::Right);
  EXPECT_EQ(CornersOf(0), square);
}

TEST_F(Editor, TinyImagesKeepDraggedCornersOnTheImage) {
  for (int size : {1, 2}) {
    s.Regions.SetLength(0);
    s.ClearOverlay();
    s.RegionClosed = true;
    s.ImageWidth = size;
    s.ImageHeight = size;
    Click(0, 0);
    Down(0, 0);  // closes the region and selects its corner
    Move(5, -5);
    Up(5, -5);
    for (auto [x, y] : CornersOf(0)) {
      EXPECT_GE(x, 0);
      EXPECT_LT(x, size);
      EXPECT_GE(y, 0);
      EXPECT_LT(y, size);
    }
  }
}

// --- Redrawing only what a move changed ---------------------------------------

// Records what the editor asks to repaint: a part of the image, or all.
class RepaintRecorder : public ScriptedPlatform {
 public:
  QRegion region;
  bool all = false;
  void Repaint() override {
    all = true;
    ScriptedPlatform::Repaint();
  }
  void RepaintImageRegion(const QRegion& pixels) override { region += pixels; }
};

// The overlay as the user sees it, drawn part by part as the view draws it:
// a blank overlay is all white.
QImage Shown(const StateRecord& s) {
  return OverlayPart(s, QRect(0, 0, std::max(1, s.ImageWidth), std::max(1, s.ImageHeight)));
}

// Two editors get the same presses, moves, releases, keys and settings
// changes; one redraws only what each move changed, the other (its note of
// the overlay dropped before every event) always redraws in full. After
// every event the first one's overlay, drawn part by part as the view draws
// it (whole, and in random pieces), shows the pixels the second one's
// drawings give painted into a bitmap of the whole image as they always
// were, and every pixel the partial one changed was repainted.
TEST(PartialRedraw, EqualsAFullRedrawAfterAnySequenceOfEvents) {
  std::mt19937 random(20240611);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  const char* faces[] = {"DejaVu Sans", "DejaVu Serif"};
  // The marker dialog's range, and now and then what a settings file
  // written by hand may hold.
  auto MarkerSize = [&] {
    const int odd[] = {-3, 0, 1, 2, 45, 100000};
    return uniform(0, 9) == 0 ? odd[uniform(0, 5)] : uniform(8, 20);
  };
  int partialMoves = 0;
  for (int sequence = 0; sequence < 150; ++sequence) {
    RepaintRecorder pd, fd;
    StateRecord partial{pd}, full{fd};
    const int w = uniform(30, 220), h = uniform(30, 180);
    for (StateRecord* s : {&partial, &full}) {
      s->ImageWidth = w;
      s->ImageHeight = h;
      s->RegionClosed = true;
      s->CrossSize = MarkerSize();
      s->IndexFont = FontParams{faces[uniform(0, 1)], uniform(5, 14),     0,
                                uniform(0, 1) == 1,   uniform(0, 1) == 1, uniform(0, 3) == 0,
                                uniform(0, 3) == 0};
    }
    full.CrossSize = partial.CrossSize;
    full.IndexFont = partial.IndexFont;
    // A point near a corner, or anywhere on (and a little beyond) the image.
    auto somewhere = [&](bool nearCorner) {
      if (nearCorner && partial.Regions.Length() > 0) {
        const SearchRegion& r = *partial.Regions[uniform(0, partial.Regions.Length() - 1)];
        if (r.Count() > 0) {
          const VT_Point* c = r.Get(uniform(0, r.Count() - 1));
          const int d = std::clamp(partial.CrossSize - 1, 0, 30);
          return Pixel(static_cast<int>(c->x) + uniform(-d, d),
                       static_cast<int>(c->y) + uniform(-d, d));
        }
      }
      return Pixel(uniform(-15, w + 15), uniform(-15, h + 15));
    };
    for (int event = 0; event < 60; ++event) {
      const int kind = uniform(0, 99);
      const Pixel near = somewhere(true), anywhere = somewhere(false);
      const int key = uniform(kKeyLeft, kKeyDown);
      const MouseButton button =
          uniform(0, 5) == 0 ? MouseButton::Other
                             : (uniform(0, 4) == 0 ? MouseButton::Right : MouseButton::Left);
      const Color colour = static_cast<Color>(uniform(0, 0xFFFFFF));
      const int size = MarkerSize();
      const bool redraw = uniform(0, 1) == 1;
      const QImage before = Shown(partial);
      pd.region = QRegion();
      pd.all = false;
      bool moved = false;
      for (StateRecord* s : {&partial, &full}) {
        if (s == &full) s->OverlayHistory.reset();
        if (kind < 30) {
          Image1MouseDown(*s, MouseButton::Left, false, near.first, near.second);
        } else if (kind < 62) {
          moved = s->Dragging;
          CrossImage1MouseMove(*s, kind < 60 ? false : true, anywhere.first, anywhere.second);
        } else if (kind < 77) {
          CrossImage1MouseUp(*s, button, false, anywhere.first, anywhere.second);
        } else if (kind < 87) {
          EditorKeyDown(*s, key);
          if (kind < 85) EditorKeyUp(*s, key);
        } else if (kind < 92) {
          Image1MouseDown(*s, MouseButton::Left, false, anywhere.first, anywhere.second);
        } else if (kind < 95) {
          Image1MouseDown(*s, MouseButton::Left, true, near.first, near.second);
        } else if (kind < 97) {
          // The marker dialog or the font chooser changed the look; the
          // workspace settings may have redrawn already.
          if (kind == 95) s->PassiveColor = colour;
          if (kind == 96) s->CrossSize = size;
          if (redraw) RedrawOverlay(*s);
        } else if (kind < 98) {
          s->IndexFont.Bold = !s->IndexFont.Bold;
        } else {
          // A failed run or a new image: every region deleted.
          s->Regions.SetLength(0);
          s->ClearOverlay();
          s->RegionClosed = true;
          s->SelectedRegion = s->SelectedCorner = -1;
        }
      }
      if (moved && partial.OverlayHistory) ++partialMoves;
      const QImage after = Shown(partial);
      const QImage twin = WholeOverlay(full);
      ASSERT_EQ(FirstDifference(after, twin), "")
          << "sequence " << sequence << ", event " << event << ", kind " << kind;
      const QRect piece(uniform(-5, w), uniform(-5, h), uniform(1, 60), uniform(1, 60));
      const QRect inside = piece & twin.rect();
      if (!inside.isEmpty())
        ASSERT_EQ(
            FirstDifference(OverlayPart(partial, piece).copy(inside.translated(-piece.topLeft())),
                            twin.copy(inside)),
            "")
            << "piece " << piece.x() << "," << piece.y() << " " << piece.width() << "×"
            << piece.height() << "; sequence " << sequence << ", event " << event;
      ASSERT_EQ(partial.IndexFont, full.IndexFont);
      // The editor's own events repaint what they changed (the settings
      // dialogs repaint after their redraw themselves).
      if (kind < 95 && !pd.all) {
        for (int y = 0; y < after.height(); ++y) {
          for (int x = 0; x < after.width(); ++x) {
            if (after.pixel(x, y) == before.pixel(x, y)) continue;
            ASSERT_TRUE(pd.region.contains(QPoint(x, y)))
                << "(" << x << ", " << y << ") changed but was not repainted; sequence " << sequence
                << ", event " << event << ", kind " << kind;
          }
        }
      }
    }
  }
  // The sequences did exercise the partial redraw.
  EXPECT_GT(partialMoves, 500);
}

}  // namespace
}  // namespace qova
