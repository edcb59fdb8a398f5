#include "app/gui/image_view.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/form.h"
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
  view.SetPreviewVisible(false);
  view.resize(200, 150);
  view.show();
  view.RepaintNow();
  QApplication::processEvents();
  view.horizontalScrollBar()->setValue(300);
  view.verticalScrollBar()->setValue(200);
  QApplication::processEvents();
  ASSERT_EQ(view.horizontalScrollBar()->value(), 300);
  ASSERT_EQ(view.verticalScrollBar()->value(), 200);

  // The point (10, 20) of the visible part is image pixel (310, 220).
  const QPoint onLayers = view.Layers()->mapFrom(view.viewport(), QPoint(10, 20));
  ASSERT_EQ(view.viewport()->childAt(QPoint(10, 20)), view.Layers());
  // Sent directly: QTest's move may go through the real pointer on a display.
  QMouseEvent move(QEvent::MouseMove, QPointF(onLayers),
                   view.Layers()->mapToGlobal(QPointF(onLayers)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view.Layers(), &move);
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
  view.SetPreviewVisible(false);
  view.resize(320, 220);
  view.show();
  view.RepaintNow();
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
    QMouseEvent move(QEvent::MouseMove, QPointF(150, 120), layers->mapToGlobal(QPointF(150, 120)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(layers, &move);
    EXPECT_EQ(form_->Regions[0]->Get(0)->x, corner.x()) << other;
    QTest::mouseRelease(layers, Qt::LeftButton, {}, QPoint(150, 120));
  }
  // The other buttons still place no corner.
  QTest::mouseClick(layers, Qt::BackButton, {}, QPoint(250, 150));
  EXPECT_EQ(form_->Regions[0]->Count(), 1);
}

}  // namespace
}  // namespace qova
