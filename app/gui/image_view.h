#pragma once
// The image view: a scrolling area holding the two layers of the open image
// (the picture Image1 and above it the overlay CrossImage1, white see-through)
// at one pixel per image pixel, and the preview picture that fills the view
// until an image is opened.

#include <QImage>
#include <QScrollArea>
#include <QWidget>

namespace qova {

class TVazeZududi_Form;

// Paints both layers and passes the mouse to the form in image pixels. Its
// size is the image's: 0 × 0 until an image is opened.
class LayerWidget : public QWidget {
 public:
  LayerWidget(TVazeZududi_Form& form, QWidget* parent);
  // Takes the size of the open image.
  void SyncSize();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TVazeZududi_Form& form_;
  QImage overlayPart_;  // the exposed part of the overlay, white made clear
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
  void SetPreviewVisible(bool visible);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  LayerWidget* layers_;
  PreviewWidget* preview_;
};

// The overlay's see-through rule on one part: white pixels get alpha 0. The
// part must be Format_ARGB32.
void MakeWhiteTransparent(QImage& part);

}  // namespace qova
