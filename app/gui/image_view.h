#pragma once
// The image view: a scrolling area holding the two layers of the open image
// (the picture Image1 and above it the overlay CrossImage1, white see-through)
// at a zoom factor, and the preview picture that fills the view until an
// image is opened. The form sees image pixels only: the view converts every
// pointer position through the zoom, so every editor rule stays in image
// pixels at any zoom.

#include <QImage>
#include <QRegion>
#include <QScrollArea>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace qova {

class TVazeZududi_Form;

// A zoom factor num/den, kept as a fraction so that screen and image pixels
// map onto each other exactly: screen pixel s shows image pixel
// floor(s·den/num), and image pixel i starts at screen pixel ceil(i·num/den).
struct Zoom {
  int64_t num = 1;
  int64_t den = 1;

  // The image pixel a screen pixel shows (at a reduction, the first pixel of
  // the block it shows).
  int64_t ImageAt(int64_t screen) const { return FloorDiv(screen * den, num); }
  // The first screen pixel of an image pixel; also the screen extent of an
  // image of that many pixels.
  int64_t ScreenAt(int64_t image) const { return -FloorDiv(-image * num, den); }
  int Percent() const { return static_cast<int>((200 * num + den) / (2 * den)); }
  bool operator==(const Zoom& o) const { return num * o.den == o.num * den; }
  bool operator<(const Zoom& o) const { return num * o.den < o.num * den; }

  static int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
  }
};

// The steps of "Увеличить" and "Уменьшить", from 1/16 to 16.
const std::vector<Zoom>& ZoomSteps();
// The next step above (or below) the zoom; the zoom itself at the end.
Zoom StepIn(Zoom z);
Zoom StepOut(Zoom z);
// The largest zoom at which an image of this size fits into the room, within
// the steps' range; 1:1 for an empty image.
Zoom FitZoom(int imageWidth, int imageHeight, int roomWidth, int roomHeight);

// The reduced picture of the view, kept in tiles of the screen near what was
// shown last, each made again only when the picture layer changed since it
// was made: reducing reads many image pixels for each screen pixel.
class ReducedTiles {
 public:
  static constexpr int kTile = 128;
  // The tile of screen pixels from (tx·kTile, ty·kTile), made by make when
  // the picture layer, the run's points or the zoom changed since (key).
  const QImage& Tile(int tx, int ty, uint64_t key, const std::function<void(QImage&)>& make);
  size_t HeldBytes() const;

 private:
  struct Entry {
    QImage pixels;
    uint64_t key = 0;
    uint64_t used = 0;
  };
  static constexpr size_t kMaxTiles = 400;  // about two full-screen views
  std::unordered_map<uint64_t, Entry> tiles_;
  uint64_t clock_ = 0;
};

// What the view shows of both layers over the screen pixels `screen` of the
// layers at the zoom, screen-sized, Format_RGB32. Enlarged (and at 1:1) each
// screen pixel shows the image pixel under it: the overlay's colour where it
// is not white, else the picture's. Reduced, it shows the mean of its block
// of the picture (its drawings included), the colour of the run's markers
// where their arms pass, and the first colour of the overlay in the block,
// row by row, where there is one: a one-pixel line or a label must not
// vanish at 25 %.
QImage ViewPixels(const TVazeZududi_Form& form, Zoom zoom, const QRect& screen,
                  ReducedTiles& tiles);

// Paints both layers and passes the mouse to the form in image pixels. Its
// size is the image's at the zoom: 0 × 0 until an image is opened.
class LayerWidget : public QWidget {
 public:
  LayerWidget(TVazeZududi_Form& form, QWidget* parent);
  // Takes the size of the open image at the zoom.
  void SyncSize();
  Zoom CurrentZoom() const { return zoom_; }
  void SetZoom(Zoom zoom);
  // The screen pixels (in this widget) that show these image pixels.
  QRegion ScreenRegion(const QRegion& imagePixels) const;
  // The image pixel under a point of this widget.
  QPoint ImagePixelAt(QPointF at) const;
  // The bytes the view keeps for painting.
  size_t HeldBytes() const { return tiles_.HeldBytes(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TVazeZududi_Form& form_;
  Zoom zoom_;
  ReducedTiles tiles_;
};

// The preview picture, scaled to the whole view.
class PreviewWidget : public QWidget {
 public:
  PreviewWidget(const QImage& picture, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

class ImageView : public QScrollArea {
 public:
  ImageView(TVazeZududi_Form& form, QWidget* parent);

  LayerWidget* Layers() const { return layers_; }
  PreviewWidget* Preview() const { return preview_; }
  // Follows the form's image size and repaints the layers at once.
  void RepaintNow();
  // Repaints at once only the part of the layers that shows these image
  // pixels.
  void RepaintImageRegion(const QRegion& imagePixels);
  void SetPreviewVisible(bool visible);

  Zoom CurrentZoom() const { return layers_->CurrentZoom(); }
  // Zooms keeping the image point under the anchor (a point of the viewport)
  // where it is.
  void SetZoom(Zoom zoom, QPoint anchor);
  void SetZoom(Zoom zoom) { SetZoom(zoom, viewport()->rect().center()); }
  void ZoomIn() { SetZoom(StepIn(CurrentZoom())); }
  void ZoomOut() { SetZoom(StepOut(CurrentZoom())); }
  void ZoomOneToOne() { SetZoom(Zoom{}); }
  void ZoomToFit();
  // Told of every change of the zoom (the status bar shows it).
  void OnZoomChanged(std::function<void(Zoom)> listener) { zoomListener_ = std::move(listener); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Ctrl+wheel zooms at the pointer; the wheel alone scrolls.
  void wheelEvent(QWheelEvent* event) override;

 private:
  TVazeZududi_Form& form_;
  LayerWidget* layers_;
  PreviewWidget* preview_;
  std::function<void(Zoom)> zoomListener_;
  int wheelSteps_ = 0;  // the wheel's turn not yet taken as a zoom step
};

}  // namespace qova
