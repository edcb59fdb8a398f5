#include "app/gui/image_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "app/form.h"
#include "app/gui/preview_picture.h"

namespace qova {

namespace {

MouseButton ToMouseButton(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton:
      return MouseButton::Left;
    case Qt::RightButton:
      return MouseButton::Right;
    case Qt::MiddleButton:
      return MouseButton::Middle;
    default:
      return MouseButton::Other;
  }
}

bool CtrlHeld(const QMouseEvent* e) { return (e->modifiers() & Qt::ControlModifier) != 0; }

// Widget coordinates are image pixels: the layers are never scaled.
QPoint ImagePixel(const QMouseEvent* e) {
  const QPointF p = e->position();
  return QPoint(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
}

}  // namespace

void MakeWhiteTransparent(QImage& part) {
  for (int y = 0; y < part.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(part.scanLine(y));
    for (int x = 0; x < part.width(); ++x)
      if ((row[x] & 0x00FFFFFFu) == 0x00FFFFFFu) row[x] = 0;
  }
}

LayerWidget::LayerWidget(TVazeZududi_Form& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("CrossImage1");
  setMouseTracking(true);  // the pointer read-out follows every move
  setAttribute(Qt::WA_OpaquePaintEvent);
  SyncSize();
}

void LayerWidget::SyncSize() {
  const QSize size(std::max(0, form_.ImageWidth), std::max(0, form_.ImageHeight));
  if (this->size() != size) setFixedSize(size);
}

void LayerWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect exposed = event->rect() & rect();
  if (exposed.isEmpty()) return;
  painter.fillRect(exposed, Qt::white);
  const QRect picture = exposed & form_.Image1.rect();
  if (!picture.isEmpty()) painter.drawImage(picture.topLeft(), form_.Image1, picture);
  if (!form_.OverlayVisible || form_.CrossImage1.isNull()) return;
  const QRect overlay = exposed & form_.CrossImage1.rect();
  if (overlay.isEmpty()) return;
  // Only the exposed part is converted, so a paint costs what it shows.
  overlayPart_ = form_.CrossImage1.copy(overlay).convertToFormat(QImage::Format_ARGB32);
  MakeWhiteTransparent(overlayPart_);
  painter.drawImage(overlay.topLeft(), overlayPart_);
}

void LayerWidget::mousePressEvent(QMouseEvent* event) {
  const MouseButton button = ToMouseButton(event->button());
  const QPoint p = ImagePixel(event);
  form_.Guarded([&] { form_.Image1MouseDown(button, CtrlHeld(event), p.x(), p.y()); });
  update();
}

void LayerWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = ImagePixel(event);
  form_.Guarded([&] { form_.CrossImage1MouseMove(CtrlHeld(event), p.x(), p.y()); });
  update();
}

void LayerWidget::mouseReleaseEvent(QMouseEvent* event) {
  const MouseButton button = ToMouseButton(event->button());
  const QPoint p = ImagePixel(event);
  form_.Guarded([&] { form_.CrossImage1MouseUp(button, CtrlHeld(event), p.x(), p.y()); });
  update();
}

PreviewWidget::PreviewWidget(const QImage& picture, QWidget* parent)
    : QWidget(parent), picture_(picture) {
  setObjectName("PreviewImage");
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PreviewWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (picture_.isNull()) {
    painter.fillRect(rect(), palette().window());
    return;
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), picture_);
}

ImageView::ImageView(TVazeZududi_Form& form, QWidget* parent) : QScrollArea(parent) {
  setObjectName("ImageView");
  setWidgetResizable(false);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // The arrow keys nudge the selected corner; the view must not also scroll
  // with them, so it never takes the keyboard focus.
  setFocusPolicy(Qt::NoFocus);
  layers_ = new LayerWidget(form, this);
  setWidget(layers_);
  preview_ = new PreviewWidget(PreviewPicture(), viewport());
  preview_->setGeometry(viewport()->rect());
  viewport()->installEventFilter(this);
}

bool ImageView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == viewport() && event->type() == QEvent::Resize)
    preview_->setGeometry(viewport()->rect());
  return QScrollArea::eventFilter(watched, event);
}

void ImageView::RepaintNow() {
  layers_->SyncSize();
  layers_->repaint();
}

void ImageView::SetPreviewVisible(bool visible) {
  preview_->setVisible(visible);
  if (visible) preview_->raise();
}

}  // namespace qova
