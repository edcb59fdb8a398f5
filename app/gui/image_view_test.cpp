#include "app/gui/image_view.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "app/form.h"
#include "core/procedures.h"
#include "editor/analysis_marks.h"
#include "editor/layer_pixels.h"
#include "editor/markers.h"
#include "platform/scripted_platform.h"
#include "tests/support/bitmap_layers.h"

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
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kPicture);
    SetImage(image);
  }
  void SetImage(const QImage& image) {
    form_->ImageWidth = image.width();
    form_->ImageHeight = image.height();
    form_->SourceBitmap = CompactPicture::From(image);
    form_->Image1.Show(form_->SourceBitmap);
    form_->ClearOverlay();
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

  OverlayLine(*form_, FromQRgb(kMarker), 5, 7, 6, 7);  // one pixel
  OverlayLine(*form_, kBlack, 39, 29, 40, 29);         // black is a colour, not see-through
  out = Render(view);
  EXPECT_EQ(out.pixel(5, 7), kMarker);
  EXPECT_EQ(out.pixel(39, 29), 0xFF000000);
  EXPECT_EQ(out.pixel(6, 7), kPicture);  // white overlay: the picture
  EXPECT_EQ(out.pixel(20, 15), kPicture);

  form_->OverlayVisible = false;  // hidden during a run
  out = Render(view);
  EXPECT_EQ(out.pixel(5, 7), kPicture);
}

TEST_F(ImageViewTest, APictureSmallerThanTheLayerLeavesWhite) {
  SetImage(40, 30);
  QImage small(10, 10, QImage::Format_RGB32);
  small.fill(kPicture);
  form_->Image1.Show(CompactPicture::From(small));
  OverlayLine(*form_, FromQRgb(kMarker), 0, 25, 40, 25);
  ImageView view(*form_, nullptr);
  const QImage out = Render(view);
  EXPECT_EQ(out.size(), QSize(40, 30));
  EXPECT_EQ(out.pixel(35, 25), kMarker);
  EXPECT_EQ(out.pixel(5, 5), kPicture);
  EXPECT_EQ(out.pixel(20, 20), 0xFFFFFFFFu);
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
    stripes_ = QImage(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 400; ++x) stripes_.setPixel(x, y, qRgb(x % 7 * 30, 90, 200));
    SetImage(stripes_);
    form_->AppendClosedRegion(
        {VT_Point(40, 30), VT_Point(350, 41), VT_Point(333, 260), VT_Point(51, 250)});
    RedrawOverlay(*form_);
  }
  QImage RenderAt(ImageView& view, Zoom zoom) {
    view.SetZoom(zoom);
    return Render(view);
  }
  QImage stripes_;
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
        if (OverlayPixel(*form_, x, y) != kWhite)
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
        const Color overlay = OverlayPixel(*form_, x, y);
        const QRgb expected = overlay != kWhite ? ToQRgb(overlay) : stripes_.pixel(x, y);
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

// --- Today's view of whole bitmaps ------------------------------------------------

// The plain twin of the view: the rules the view follows, applied to the
// layers painted into bitmaps of the whole image, screen pixel by screen
// pixel over the whole layers widget, as the view drew them before the
// layers were kept as drawings.
namespace today {

struct Block {
  int first;
  int end;
};

Block BlockAt(const Zoom& z, int64_t screen, int size) {
  const int first = static_cast<int>(std::clamp<int64_t>(z.ImageAt(screen), 0, size - 1));
  const int end = static_cast<int>(std::clamp<int64_t>(z.ImageAt(screen + 1), first + 1, size));
  return {first, end};
}

// Each screen pixel the mean of its block, rounded half up.
QImage ReduceByMean(const QImage& picture, const Zoom& z, QSize screen) {
  QImage reduced(screen, QImage::Format_RGB32);
  for (int sy = 0; sy < screen.height(); ++sy) {
    const Block rows = BlockAt(z, sy, picture.height());
    for (int sx = 0; sx < screen.width(); ++sx) {
      const Block c = BlockAt(z, sx, picture.width());
      uint64_t r = 0, g = 0, b = 0;
      for (int y = rows.first; y < rows.end; ++y)
        for (int x = c.first; x < c.end; ++x) {
          r += qRed(picture.pixel(x, y));
          g += qGreen(picture.pixel(x, y));
          b += qBlue(picture.pixel(x, y));
        }
      const uint64_t n = static_cast<uint64_t>(c.end - c.first) * (rows.end - rows.first);
      reduced.setPixel(sx, sy,
                       qRgb(static_cast<int>((r + n / 2) / n), static_cast<int>((g + n / 2) / n),
                            static_cast<int>((b + n / 2) / n)));
    }
  }
  return reduced;
}

// Every arm pixel of a found point's marker that still has the colour of
// its centre keeps that colour in the screen pixel that shows it.
void KeepFoundMarkers(const TVazeZududi_Form& form, const QImage& picture, const Zoom& z,
                      QImage& reduced) {
  if (!form.RunCompleted) return;
  const int64_t cross = form.CrossSize;
  auto keep = [&](int64_t x, int64_t y, QRgb colour) {
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) return;
    if (picture.pixel(static_cast<int>(x), static_cast<int>(y)) != colour) return;
    reduced.setPixel(static_cast<int>(z.ScreenAt(x + 1) - 1),
                     static_cast<int>(z.ScreenAt(y + 1) - 1), colour);
  };
  for (int32_t i = 0; i < form.FoundPoints.Count(); ++i) {
    const VT_Point* p = form.FoundPoints.Get(i);
    if (!(p->x > -1 && p->y > -1 && p->x < picture.width() && p->y < picture.height())) continue;
    const int64_t x = RoundNearest(p->x), y = RoundNearest(p->y);
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) continue;
    const QRgb colour = picture.pixel(static_cast<int>(x), static_cast<int>(y));
    for (int64_t d = -cross; d < cross; ++d) {
      keep(x + d, y, colour);
      keep(x, y + d, colour);
    }
  }
}

QImage View(const TVazeZududi_Form& form, const QImage& picture, const QImage& overlay, Zoom z) {
  const QSize screen(static_cast<int>(z.ScreenAt(form.ImageWidth)),
                     static_cast<int>(z.ScreenAt(form.ImageHeight)));
  QImage frame(screen, QImage::Format_RGB32);
  frame.fill(Qt::white);
  const bool reducing = z < Zoom{};
  QImage reduced;
  if (reducing) {
    reduced = ReduceByMean(picture, z, screen);
    KeepFoundMarkers(form, picture, z, reduced);
  }
  for (int sy = 0; sy < screen.height(); ++sy) {
    const int64_t y = z.ImageAt(sy);
    const Block rows = BlockAt(z, sy, overlay.height());
    for (int sx = 0; sx < screen.width(); ++sx) {
      const int64_t x = z.ImageAt(sx);
      QRgb shown = frame.pixel(sx, sy);
      if (reducing)
        shown = reduced.pixel(sx, sy) | 0xFF000000u;
      else if (x < picture.width() && y < picture.height())
        shown = picture.pixel(static_cast<int>(x), static_cast<int>(y)) | 0xFF000000u;
      // The first drawn pixel of the overlay in the block, row by row.
      const Block c = BlockAt(z, sx, overlay.width());
      bool hit = false;
      for (int yy = rows.first; form.OverlayVisible && !hit && yy < rows.end; ++yy)
        for (int xx = c.first; !hit && xx < c.end; ++xx)
          if ((overlay.pixel(xx, yy) & 0xFFFFFFu) != 0xFFFFFFu) {
            shown = overlay.pixel(xx, yy) | 0xFF000000u;
            hit = true;
          }
      frame.setPixel(sx, sy, shown);
    }
  }
  return frame;
}

}  // namespace today

// Random plates, grey and colour, with regions, labels, erasures, a run's
// markers, fragment lines and grid lines: the view shows at every zoom, as a
// whole and in any piece, what the rules give on the whole bitmaps, pixel for
// pixel.
TEST_F(ImageViewTest, EveryZoomShowsWhatTheWholeBitmapsShow) {
  std::mt19937 random(20261209);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  auto colour = [&] {
    const Color some[] = {255, 32768, kBlack, kWhite, 0x123456};
    return uniform(0, 2) == 0 ? static_cast<Color>(uniform(0, 0xFFFFFF)) : some[uniform(0, 4)];
  };
  for (int round = 0; round < 16; ++round) {
    const int w = uniform(20, 170), h = uniform(20, 140);
    QImage image(w, h, QImage::Format_RGB32);
    const bool grey = round % 2 == 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int v = (x * 7 + y * 3) % 256 / 2 + uniform(0, 127);
        image.setPixel(x, y, grey ? qRgb(v, v, v) : qRgb(v, uniform(0, 255), (x * y) % 256));
      }
    SetImage(image);
    ASSERT_EQ(form_->SourceBitmap->Grey(), grey);
    form_->CrossSize = uniform(2, 16);
    form_->PassiveColor = colour();
    form_->IndexFont.Size = uniform(5, 12);
    form_->IndexFont.Italic = uniform(0, 1) == 1;
    // The regions, redrawn, and drawings on top: highlights and erasures.
    for (int r = uniform(0, 2); r > 0; --r) {
      std::vector<VT_Point> corners;
      for (int k = uniform(1, 4); k > 0; --k)
        corners.emplace_back(uniform(0, w - 1), uniform(0, h - 1));
      form_->AppendClosedRegion(corners);
    }
    RedrawOverlay(*form_);
    for (int k = uniform(0, 4); k > 0; --k)
      DrawOverlayMarker(*form_, colour(), uniform(-5, w + 5), uniform(-5, h + 5),
                        uniform(0, 3) == 0 ? -1 : uniform(1, 12));
    for (int k = uniform(0, 3); k > 0; --k)
      OverlayLine(*form_, colour(), uniform(-9, w + 9), uniform(-9, h + 9), uniform(-9, w + 9),
                  uniform(-9, h + 9));
    // A run's drawings on the picture, and its points.
    form_->FoundPoints.Clear();
    for (int k = uniform(0, 12); k > 0; --k) {
      const double x = uniform(-20, 10 * w + 20) / 10.0, y = uniform(-20, 10 * h + 20) / 10.0;
      if (uniform(0, 4) > 0) DrawPictureMarker(*form_, colour(), RoundNearest(x), RoundNearest(y));
      form_->FoundPoints.AddNew(x, y);
    }
    for (int k = uniform(0, 2); k > 0; --k)
      PictureLine(*form_, colour(), uniform(0, w), uniform(0, h), uniform(0, w), uniform(0, h));
    // The calibration's marks over the regions: indices and residual arrows.
    std::vector<PointMark> marks;
    for (int k = uniform(0, 10); k > 0; --k)
      marks.push_back({uniform(-20, 10 * w + 20) / 10.0, uniform(-20, 10 * h + 20) / 10.0,
                       uniform(0, 5) > 0, uniform(-30, 30), uniform(-30, 30),
                       uniform(-50, 50) / 1000.0, uniform(-50, 50) / 1000.0, uniform(0, 6) == 0});
    DrawAnalysisMarks(*form_, marks,
                      {uniform(0, 1) == 1, uniform(0, 1) == 1, uniform(5, 60) * 1.0});
    for (int k = uniform(0, 2); k > 0; --k)
      PictureGridLine(*form_, colour(), uniform(0, 1) == 1, uniform(-300, 300) / 1000.0,
                      uniform(-10, std::max(w, h) + 10) + uniform(0, 99) / 100.0);
    form_->RunCompleted = uniform(0, 3) > 0;
    form_->OverlayVisible = uniform(0, 5) > 0;

    const QImage picture = WholePictureLayer(*form_), overlay = WholeOverlay(*form_);
    ReducedTiles tiles;
    for (const Zoom z :
         {Zoom{1, 4}, Zoom{1, 2}, Zoom{1, 1}, Zoom{4, 1}, Zoom{1, 3}, Zoom{2, 3}, Zoom{1, 6},
          Zoom{1, 8}, Zoom{1, 12}, Zoom{1, 16}, Zoom{3, 2}, FitZoom(w, h, 37, 29)}) {
      const QImage expected = today::View(*form_, picture, overlay, z);
      const QImage whole = ViewPixels(*form_, z, expected.rect(), tiles);
      ASSERT_EQ(FirstDifference(whole, expected), "")
          << "round " << round << " at " << z.num << "/" << z.den;
      const QRect piece = QRect(uniform(0, expected.width() - 1), uniform(0, expected.height() - 1),
                                uniform(1, 40), uniform(1, 40)) &
                          expected.rect();
      ReducedTiles fresh;
      ASSERT_EQ(FirstDifference(ViewPixels(*form_, z, piece, fresh), expected.copy(piece)), "")
          << "round " << round << " at " << z.num << "/" << z.den << ", a piece";
    }
  }
}

// The real view paints what the rules give, at 25 %, 50 %, 100 % and 400 %.
TEST_F(ZoomedView, ThePaintedViewIsTheRulesPixelForPixel) {
  DrawPictureMarker(*form_, 32768, 120, 100);
  form_->FoundPoints.AddNew(120.2, 99.8);
  form_->RunCompleted = true;
  ImageView view(*form_, nullptr);
  view.SetPreviewVisible(false);
  const QImage picture = WholePictureLayer(*form_), overlay = WholeOverlay(*form_);
  for (const Zoom z : {Zoom{1, 4}, Zoom{1, 2}, Zoom{1, 1}, Zoom{4, 1}})
    ASSERT_EQ(FirstDifference(RenderAt(view, z), today::View(*form_, picture, overlay, z)), "")
        << z.Percent() << " %";
}

}  // namespace
}  // namespace qova
