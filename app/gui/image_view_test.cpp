#include "app/gui/image_view.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "app/form.h"
#include "core/procedures.h"
#include "editor/markers.h"
#include "platform/scripted_platform.h"

namespace qova {
namespace {

constexpr QRgb kPicture = 0xFF0AC81E;  // qRgb(10, 200, 30)
constexpr QRgb kMarker = 0xFFFF0000;

// A form with an image set directly, as opening one would leave it.
class ImageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());  // no settings file
    form_ = std::make_unique<TVazeZududi_Form>(platform_);
  }
  void TearDown() override {
    form_.reset();
    QDir::setCurrent(old_);
  }
  void SetImage(int w, int h) {
    form_->ImageWidth = w;
    form_->ImageHeight = h;
    form_->Image1 = QImage(w, h, QImage::Format_RGB32);
    form_->Image1.fill(kPicture);
    form_->CrossImage1 = QImage();
    form_->RegionClosed = true;
  }
  // The view on screen at this size, the picture in it.
  static void Show(ImageView& view, QSize size) {
    view.SetPreviewVisible(false);
    view.resize(size);
    view.show();
    view.RepaintNow();
    QApplication::processEvents();
  }
  // The pointer moves over the layers; sent directly, as QTest's move may go
  // through the real pointer on a display.
  static void MoveTo(QWidget* layers, QPoint at, Qt::MouseButtons held = Qt::NoButton) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), layers->mapToGlobal(QPointF(at)), Qt::NoButton,
                     held, Qt::NoModifier);
    QApplication::sendEvent(layers, &move);
  }
  QImage Render(ImageView& view) {
    view.RepaintNow();
    QImage out(view.Layers()->size(), QImage::Format_ARGB32);
    out.fill(Qt::black);
    view.Layers()->render(&out);
    return out;
  }

  QTemporaryDir dir_;
  QString old_;
  ScriptedPlatform platform_;
  std::unique_ptr<TVazeZududi_Form> form_;
};

TEST_F(ImageViewTest, LayersAreEmptyAndPreviewFillsViewUntilAnImageIsOpened) {
  ImageView view(*form_, nullptr);
  view.resize(300, 200);
  view.show();
  QApplication::processEvents();
  EXPECT_EQ(view.Layers()->size(), QSize(0, 0));
  EXPECT_TRUE(view.Preview()->isVisible());
  EXPECT_EQ(view.Preview()->geometry(), view.viewport()->rect());
  view.resize(500, 400);
  QApplication::processEvents();
  EXPECT_EQ(view.Preview()->geometry(), view.viewport()->rect());

  SetImage(64, 48);
  view.SetPreviewVisible(false);
  view.RepaintNow();
  EXPECT_FALSE(view.Preview()->isVisible());
  EXPECT_EQ(view.Layers()->size(), QSize(64, 48));
}

TEST_F(ImageViewTest, WhiteOverlayIsSeeThroughAndMarkersShow) {
  SetImage(40, 30);
  ImageView view(*form_, nullptr);
  view.SetPreviewVisible(false);
  // No overlay pixels at all: the picture everywhere.
  QImage out = Render(view);
  EXPECT_EQ(out.pixel(0, 0), kPicture);
  EXPECT_EQ(out.pixel(39, 29), kPicture);

  QImage& overlay = form_->OverlayCanvas();
  ASSERT_EQ(overlay.size(), QSize(40, 30));
  overlay.setPixel(5, 7, kMarker);
  overlay.setPixel(39, 29, 0xFF000000);  // black is a colour, not see-through
  out = Render(view);
  EXPECT_EQ(out.pixel(5, 7), kMarker);
  EXPECT_EQ(out.pixel(39, 29), 0xFF000000);
  EXPECT_EQ(out.pixel(6, 7), kPicture);  // white overlay: the picture
  EXPECT_EQ(out.pixel(20, 15), kPicture);

  form_->OverlayVisible = false;  // hidden during a run
  out = Render(view);
  EXPECT_EQ(out.pixel(5, 7), kPicture);
}

TEST_F(ImageViewTest, LayersOfDifferentSizesAreClipped) {
  SetImage(40, 30);
  form_->Image1 = form_->Image1.copy(0, 0, 10, 10);  // smaller than the layer
  form_->CrossImage1 = QImage(100, 100, QImage::Format_RGB32);
  form_->CrossImage1.fill(kMarker);
  ImageView view(*form_, nullptr);
  const QImage out = Render(view);
  EXPECT_EQ(out.size(), QSize(40, 30));
  EXPECT_EQ(out.pixel(35, 25), kMarker);
}

TEST_F(ImageViewTest, MakeWhiteTransparentTouchesOnlyWhite) {
  QImage part(3, 1, QImage::Format_ARGB32);
  part.setPixel(0, 0, 0xFFFFFFFF);
  part.setPixel(1, 0, 0xFFFFFFFE);
  part.setPixel(2, 0, kMarker);
  MakeWhiteTransparent(part);
  EXPECT_EQ(qAlpha(part.pixel(0, 0)), 0);
  EXPECT_EQ(part.pixel(1, 0), 0xFFFFFFFEu);
  EXPECT_EQ(part.pixel(2, 0), kMarker);
}

TEST_F(ImageViewTest, MouseReachesTheFormAtTheImagePixelAlsoWhenScrolled) {
  SetImage(1000, 800);
  ImageView view(*form_, nullptr);
  Show(view, QSize(200, 150));
  view.horizontalScrollBar()->setValue(300);
  view.verticalScrollBar()->setValue(200);
  QApplication::processEvents();
  ASSERT_EQ(view.horizontalScrollBar()->value(), 300);
  ASSERT_EQ(view.verticalScrollBar()->value(), 200);

  // The point (10, 20) of the visible part is image pixel (310, 220).
  const QPoint onLayers = view.Layers()->mapFrom(view.viewport(), QPoint(10, 20));
  ASSERT_EQ(view.viewport()->childAt(QPoint(10, 20)), view.Layers());
  MoveTo(view.Layers(), onLayers);
  EXPECT_EQ(platform_.statusText[0], "X= 310");
  EXPECT_EQ(platform_.statusText[1], "Y= 220");
  QTest::mousePress(view.Layers(), Qt::LeftButton, {}, onLayers);
  QTest::mouseRelease(view.Layers(), Qt::LeftButton, {}, onLayers);
  ASSERT_EQ(form_->Regions.Length(), 1);
  ASSERT_EQ(form_->Regions[0]->Count(), 1);
  EXPECT_EQ(form_->Regions[0]->Get(0)->x, 310);
  EXPECT_EQ(form_->Regions[0]->Get(0)->y, 220);
  EXPECT_FALSE(form_->Dragging);

  // Ctrl reaches the form too: Ctrl+click deletes the corner.
  QTest::mouseClick(view.Layers(), Qt::LeftButton, Qt::ControlModifier, onLayers);
  EXPECT_TRUE(form_->Regions.Length() == 0 || form_->Regions[0]->Count() == 0);

  // A right press is passed on as such: the editor ignores it.
  QTest::mouseClick(view.Layers(), Qt::RightButton, {}, onLayers + QPoint(50, 50));
  EXPECT_TRUE(form_->Regions.Length() == 0 || form_->Regions[0]->Count() == 0);
}

// Every release ends a drag, whichever button it is: back and forward
// included, which the editor has no use for otherwise.
TEST_F(ImageViewTest, ReleasingAnyButtonEndsADrag) {
  SetImage(300, 200);
  ImageView view(*form_, nullptr);
  Show(view, QSize(320, 220));
  QWidget* layers = view.Layers();
  QTest::mouseClick(layers, Qt::LeftButton, {}, QPoint(100, 100));  // one corner
  ASSERT_EQ(form_->Regions.Length(), 1);
  for (const Qt::MouseButton other :
       {Qt::BackButton, Qt::ForwardButton, Qt::RightButton, Qt::MiddleButton}) {
    const QPoint corner(static_cast<int>(form_->Regions[0]->Get(0)->x),
                        static_cast<int>(form_->Regions[0]->Get(0)->y));
    QTest::mousePress(layers, Qt::LeftButton, {}, corner);
    ASSERT_TRUE(form_->Dragging);
    QTest::mouseRelease(layers, other, {}, corner);
    EXPECT_FALSE(form_->Dragging) << other;
    MoveTo(layers, QPoint(150, 120), Qt::LeftButton);
    EXPECT_EQ(form_->Regions[0]->Get(0)->x, corner.x()) << other;
    QTest::mouseRelease(layers, Qt::LeftButton, {}, QPoint(150, 120));
  }
  // The other buttons still place no corner.
  QTest::mouseClick(layers, Qt::BackButton, {}, QPoint(250, 150));
  EXPECT_EQ(form_->Regions[0]->Count(), 1);
}

// --- Zoom ------------------------------------------------------------------------

// Screen and image pixels map onto each other exactly at every step and at a
// fitted zoom: enlarged, each image pixel gets whole screen pixels; reduced,
// the screen pixels' blocks cover the image without gap or overlap.
TEST(ZoomMapping, ScreenAndImagePixelsMapExactly) {
  std::vector<Zoom> zooms = ZoomSteps();
  zooms.push_back(FitZoom(8000, 6000, 1234, 777));
  zooms.push_back(FitZoom(300, 200, 1000, 900));
  for (const Zoom& z : zooms) {
    const int64_t image = 997;
    const int64_t screen = z.ScreenAt(image);
    int64_t next = 0;  // the next image pixel a screen pixel must start at
    for (int64_t s = 0; s < screen; ++s) {
      const int64_t first = z.ImageAt(s);
      ASSERT_LE(first, next) << z.num << "/" << z.den;
      ASSERT_GE(first, next - 1);
      next = std::max(next, z.ImageAt(s + 1));
      if (!(z < Zoom{})) {
        ASSERT_EQ(z.ImageAt(z.ScreenAt(first)), first);
      }
    }
    // Just enough screen pixels: the last one shows the image's last pixel.
    EXPECT_LE(z.ImageAt(screen - 1), image - 1) << z.num << "/" << z.den;
    EXPECT_GE(z.ImageAt(screen), image) << z.num << "/" << z.den;
  }
  // The steps run from 1/16 to 16 through 1:1 and 25 %.
  Zoom z = ZoomSteps().front();
  std::vector<int> percents;
  while (true) {
    percents.push_back(z.Percent());
    const Zoom in = StepIn(z);
    if (in == z) break;
    EXPECT_EQ(StepOut(in), z);
    z = in;
  }
  EXPECT_EQ(percents.front(), 6);
  EXPECT_EQ(percents.back(), 1600);
  EXPECT_NE(std::find(percents.begin(), percents.end(), 25), percents.end());
  EXPECT_NE(std::find(percents.begin(), percents.end(), 100), percents.end());
  // A fitted image fills the room along one side and fits along the other.
  const Zoom fit = FitZoom(8000, 6000, 1234, 777);
  EXPECT_EQ(fit.ScreenAt(6000), 777);
  EXPECT_LE(fit.ScreenAt(8000), 1234);
  EXPECT_EQ(FitZoom(0, 0, 100, 100), Zoom{});
  EXPECT_EQ(FitZoom(100000, 10, 100, 100), ZoomSteps().front());
}

class ZoomedView : public ImageViewTest {
 protected:
  // A picture of vertical stripes, and a closed region with numbered
  // corners drawn on the overlay as the editor draws it.
  void SetUp() override {
    ImageViewTest::SetUp();
    SetImage(400, 300);
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 400; ++x) form_->Image1.setPixel(x, y, qRgb(x % 7 * 30, 90, 200));
    form_->AppendClosedRegion(
        {VT_Point(40, 30), VT_Point(350, 41), VT_Point(333, 260), VT_Point(51, 250)});
    RedrawOverlay(*form_);
  }
  QImage RenderAt(ImageView& view, Zoom zoom) {
    view.SetZoom(zoom);
    return Render(view);
  }
};

// Reduced, every drawn pixel of the overlay (one-pixel edges, arms, label
// glyphs) still colours the screen pixel that shows it; blocks without any
// show the mean of the picture.
TEST_F(ZoomedView, ReducedTheOverlaysThinLinesAndLabelsStayVisible) {
  ImageView view(*form_, nullptr);
  view.SetPreviewVisible(false);
  for (const Zoom z :
       {Zoom{1, 4}, Zoom{1, 3}, Zoom{1, 8}, Zoom{2, 3}, FitZoom(400, 300, 123, 99)}) {
    const QImage out = RenderAt(view, z);
    ASSERT_EQ(out.size(),
              QSize(static_cast<int>(z.ScreenAt(400)), static_cast<int>(z.ScreenAt(300))));
    std::set<std::pair<int, int>> marked;
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 400; ++x)
        if (form_->OverlayPixel(x, y) != kWhite)
          marked.insert(
              {static_cast<int>(z.ScreenAt(x + 1) - 1), static_cast<int>(z.ScreenAt(y + 1) - 1)});
    ASSERT_FALSE(marked.empty());
    for (const auto& [sx, sy] : marked)
      ASSERT_EQ(FromQRgb(out.pixel(sx, sy)), form_->PassiveColor)
          << sx << "," << sy << " at " << z.Percent() << "%";
    // Far from the region: the mean of the stripes' red, 0..180.
    const QRgb plain =
        out.pixel(static_cast<int>(z.ScreenAt(200)), static_cast<int>(z.ScreenAt(290)));
    EXPECT_EQ(qGreen(plain), 90);
    EXPECT_EQ(qBlue(plain), 200);
  }
}

// Enlarged, each screen pixel shows exactly the image pixel under it.
TEST_F(ZoomedView, EnlargedEachScreenPixelShowsItsImagePixel) {
  ImageView view(*form_, nullptr);
  view.SetPreviewVisible(false);
  for (const Zoom z : {Zoom{4, 1}, Zoom{3, 2}, Zoom{16, 1}}) {
    const QImage out = RenderAt(view, z);
    for (int sy = 0; sy < out.height(); sy += 3) {
      for (int sx = 0; sx < out.width(); sx += 3) {
        const int x = static_cast<int>(z.ImageAt(sx)), y = static_cast<int>(z.ImageAt(sy));
        const Color overlay = form_->OverlayPixel(x, y);
        const QRgb expected = overlay != kWhite ? ToQRgb(overlay) : form_->Image1.pixel(x, y);
        ASSERT_EQ(out.pixel(sx, sy), expected) << sx << "," << sy << " at " << z.Percent() << "%";
      }
    }
  }
}

// A found point's marker is one pixel wide in the picture; reduced, it
// keeps its colour instead of fading into the mean.
TEST_F(ZoomedView, ReducedTheFoundPointsMarkersStayVisible) {
  form_->ClearOverlay();
  ImageView view(*form_, nullptr);
  view.SetPreviewVisible(false);
  const Zoom z{1, 4};
  RenderAt(view, z);  // the picture before the run, reduced and kept
  form_->FoundPoints.AddNew(100.4, 100.6);
  form_->FoundPoints.AddNew(251.0, 199.0);
  for (int32_t i = 0; i < form_->FoundPoints.Count(); ++i)
    DrawPictureMarker(*form_, form_->PassiveColor, RoundNearest(form_->FoundPoints.Get(i)->x),
                      RoundNearest(form_->FoundPoints.Get(i)->y));
  form_->RunCompleted = true;
  const QImage out = Render(view);
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{100, 101}, {251, 199}}) {
    for (int d = -form_->CrossSize; d < form_->CrossSize; ++d) {
      EXPECT_EQ(FromQRgb(out.pixel(static_cast<int>(z.ScreenAt(x + d + 1) - 1),
                                   static_cast<int>(z.ScreenAt(y + 1) - 1))),
                form_->PassiveColor);
      EXPECT_EQ(FromQRgb(out.pixel(static_cast<int>(z.ScreenAt(x + 1) - 1),
                                   static_cast<int>(z.ScreenAt(y + d + 1) - 1))),
                form_->PassiveColor);
    }
  }
}

// The pointer reaches the form in image pixels at any zoom, also scrolled.
TEST_F(ImageViewTest, MouseReachesTheFormInImagePixelsAtAnyZoom) {
  SetImage(1000, 800);
  ImageView view(*form_, nullptr);
  Show(view, QSize(300, 250));
  for (const Zoom z : {Zoom{1, 4}, Zoom{4, 1}, Zoom{2, 3}}) {
    view.SetZoom(z, QPoint(0, 0));
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
    QApplication::processEvents();
    const QPoint onLayers = view.Layers()->mapFrom(view.viewport(), QPoint(37, 41));
    MoveTo(view.Layers(), onLayers);
    EXPECT_EQ(platform_.statusText[0], "X= " + std::to_string(z.ImageAt(onLayers.x())));
    EXPECT_EQ(platform_.statusText[1], "Y= " + std::to_string(z.ImageAt(onLayers.y())));
  }
}

}  // namespace
}  // namespace qova
