#include "app/gui/image_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>

#include "app/form.h"
#include "app/gui/preview_picture.h"
#include "core/procedures.h"

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

constexpr QRgb kOpaque = 0xFF000000u;
constexpr QRgb kWhiteRgb = 0x00FFFFFFu;

bool IsWhite(QRgb p) { return (p & kWhiteRgb) == kWhiteRgb; }

int Clamp(int64_t v, int64_t lo, int64_t hi) { return static_cast<int>(std::clamp(v, lo, hi)); }

// The image pixels a screen pixel shows along one axis: [first, end), at
// least one pixel, within the image.
struct Block {
  int first;
  int end;
};

Block BlockAt(const Zoom& z, int64_t screen, int size) {
  const int first = Clamp(z.ImageAt(screen), 0, size - 1);
  const int end = Clamp(z.ImageAt(screen + 1), first + 1, size);
  return {first, end};
}

// The picture reduced by a zoom below 1:1, in one part of the screen: each
// screen pixel the mean of the block of image pixels it shows.
void ReduceByMean(const QImage& picture, const Zoom& z, const QRect& part, QImage& reduced) {
  const int w = part.width();
  std::vector<Block> columns(static_cast<size_t>(w));
  for (int i = 0; i < w; ++i)
    columns[static_cast<size_t>(i)] = BlockAt(z, part.left() + i, picture.width());
  std::vector<uint64_t> sums(static_cast<size_t>(w) * 3);
  for (int sy = part.top(); sy <= part.bottom(); ++sy) {
    const Block rows = BlockAt(z, sy, picture.height());
    std::fill(sums.begin(), sums.end(), 0);
    for (int y = rows.first; y < rows.end; ++y) {
      const auto* src = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
      uint64_t* sum = sums.data();
      for (const Block& c : columns) {
        for (int x = c.first; x < c.end; ++x) {
          sum[0] += qRed(src[x]);
          sum[1] += qGreen(src[x]);
          sum[2] += qBlue(src[x]);
        }
        sum += 3;
      }
    }
    auto* dst = reinterpret_cast<QRgb*>(reduced.scanLine(sy)) + part.left();
    for (int i = 0; i < w; ++i) {
      const Block& c = columns[static_cast<size_t>(i)];
      const uint64_t n = static_cast<uint64_t>(c.end - c.first) * (rows.end - rows.first);
      const uint64_t* sum = &sums[static_cast<size_t>(i) * 3];
      dst[i] = qRgb(static_cast<int>((sum[0] + n / 2) / n), static_cast<int>((sum[1] + n / 2) / n),
                    static_cast<int>((sum[2] + n / 2) / n));
    }
  }
}

// The found points' markers are one pixel wide in the picture; reduced by a
// mean they would fade away. Every pixel of their arms that still has the
// marker's colour keeps that colour in the reduced picture (in one part).
void KeepFoundMarkers(const TVazeZududi_Form& form, const QImage& picture, const Zoom& z,
                      const QRect& part, QImage& reduced) {
  if (!form.RunCompleted) return;
  const int64_t cross = form.CrossSize;
  // The image pixels the part shows, and a marker's reach around them.
  const int64_t left = z.ImageAt(part.left()) - cross, right = z.ImageAt(part.right() + 1) + cross;
  const int64_t top = z.ImageAt(part.top()) - cross, bottom = z.ImageAt(part.bottom() + 1) + cross;
  auto keep = [&](int64_t x, int64_t y, QRgb colour) {
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) return;
    if (picture.pixel(static_cast<int>(x), static_cast<int>(y)) != colour) return;
    const QPoint screen(Clamp(z.ScreenAt(x + 1) - 1, 0, reduced.width() - 1),
                        Clamp(z.ScreenAt(y + 1) - 1, 0, reduced.height() - 1));
    if (part.contains(screen)) reduced.setPixel(screen, colour);
  };
  for (int32_t i = 0; i < form.FoundPoints.Count(); ++i) {
    const VT_Point* p = form.FoundPoints.Get(i);
    // Only points on the picture have a marker; others need no rounding.
    if (!(p->x > -1 && p->y > -1 && p->x < picture.width() && p->y < picture.height())) continue;
    const int64_t x = RoundNearest(p->x), y = RoundNearest(p->y);
    if (x < left || x > right || y < top || y > bottom) continue;
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) continue;
    const QRgb colour = picture.pixel(static_cast<int>(x), static_cast<int>(y));
    for (int64_t d = -cross; d < cross; ++d) {
      keep(x + d, y, colour);
      keep(x, y + d, colour);
    }
  }
}

// A 32-bit picture, converted only when it is not one already.
QImage Picture32(const QImage& image) {
  if (image.isNull() || image.depth() == 32) return image;
  return image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

const std::vector<Zoom>& ZoomSteps() {
  static const std::vector<Zoom> steps = {{1, 16}, {1, 12}, {1, 8}, {1, 6},  {1, 4}, {1, 3},
                                          {1, 2},  {2, 3},  {1, 1}, {3, 2},  {2, 1}, {3, 1},
                                          {4, 1},  {6, 1},  {8, 1}, {12, 1}, {16, 1}};
  return steps;
}

Zoom StepIn(Zoom z) {
  for (const Zoom& step : ZoomSteps())
    if (z < step) return step;
  return ZoomSteps().back();
}

Zoom StepOut(Zoom z) {
  const auto& steps = ZoomSteps();
  for (auto it = steps.rbegin(); it != steps.rend(); ++it)
    if (*it < z) return *it;
  return steps.front();
}

Zoom FitZoom(int imageWidth, int imageHeight, int roomWidth, int roomHeight) {
  if (imageWidth <= 0 || imageHeight <= 0) return Zoom{};
  // min(roomWidth / imageWidth, roomHeight / imageHeight), exactly.
  Zoom fit = int64_t{roomWidth} * imageHeight <= int64_t{roomHeight} * imageWidth
                 ? Zoom{std::max(roomWidth, 1), imageWidth}
                 : Zoom{std::max(roomHeight, 1), imageHeight};
  fit = std::max(fit, ZoomSteps().front());
  return std::min(fit, ZoomSteps().back());
}

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
  const QSize size(Clamp(zoom_.ScreenAt(std::max(0, form_.ImageWidth)), 0, QWIDGETSIZE_MAX),
                   Clamp(zoom_.ScreenAt(std::max(0, form_.ImageHeight)), 0, QWIDGETSIZE_MAX));
  if (this->size() != size) setFixedSize(size);
}

void LayerWidget::SetZoom(Zoom zoom) {
  zoom_ = zoom;
  SyncSize();
  update();
}

QPoint LayerWidget::ImagePixelAt(QPointF at) const {
  const auto sx = static_cast<int64_t>(std::floor(at.x()));
  const auto sy = static_cast<int64_t>(std::floor(at.y()));
  return QPoint(Clamp(zoom_.ImageAt(sx), INT_MIN, INT_MAX),
                Clamp(zoom_.ImageAt(sy), INT_MIN, INT_MAX));
}

QRegion LayerWidget::ScreenRegion(const QRegion& imagePixels) const {
  if (zoom_ == Zoom{}) return imagePixels & rect();
  QRegion screen;
  for (const QRect& r : imagePixels) {
    // A pixel to spare on each side: at a reduction an image pixel shares
    // its screen pixel with its neighbours.
    const int64_t left = zoom_.ScreenAt(r.left()) - 1, top = zoom_.ScreenAt(r.top()) - 1;
    const int64_t right = zoom_.ScreenAt(int64_t{r.right()} + 1);
    const int64_t bottom = zoom_.ScreenAt(int64_t{r.bottom()} + 1);
    screen += QRect(QPoint(Clamp(left, 0, width()), Clamp(top, 0, height())),
                    QPoint(Clamp(right, -1, width() - 1), Clamp(bottom, -1, height() - 1)));
  }
  return screen;
}

void LayerWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  // Part by part: a drag repaints a few thin pieces of a large view.
  for (const QRect& part : event->region()) {
    const QRect exposed = part & rect();
    if (exposed.isEmpty()) continue;
    if (zoom_ == Zoom{})
      PaintOneToOne(painter, exposed);
    else
      PaintZoomed(painter, exposed);
  }
}

void LayerWidget::PaintOneToOne(QPainter& painter, const QRect& exposed) {
  painter.fillRect(exposed, Qt::white);
  const QImage& picture = form_.Image1;
  const QRect shown = exposed & picture.rect();
  if (!shown.isEmpty()) painter.drawImage(shown.topLeft(), picture, shown);
  const QImage& overlay = form_.CrossImage1;
  if (!form_.OverlayVisible || overlay.isNull()) return;
  const QRect part = exposed & overlay.rect();
  if (part.isEmpty()) return;
  // Only the exposed part is converted, so a paint costs what it shows.
  overlayPart_ = overlay.copy(part).convertToFormat(QImage::Format_ARGB32);
  MakeWhiteTransparent(overlayPart_);
  painter.drawImage(part.topLeft(), overlayPart_);
}

// Reducing reads every image pixel the screen shows; the result is kept in
// tiles of the screen, each made again only when it is shown and the
// picture changed since (a step of a run changes the picture often, a drag
// never).
const QImage& LayerWidget::ReducedPicture(const QRect& exposed) {
  constexpr int kTile = 128;
  const QImage& picture = form_.Image1;
  if (!(reducedZoom_ == zoom_) || reduced_.size() != size()) {
    reduced_ = QImage(size(), QImage::Format_RGB32);
    reduced_.fill(Qt::white);
    reducedZoom_ = zoom_;
    tilesAcross_ = (width() + kTile - 1) / kTile;
    tileKeys_.assign(static_cast<size_t>(tilesAcross_) * ((height() + kTile - 1) / kTile), 0);
  }
  if (reduced_.isNull() || picture.isNull()) return reduced_;
  const qint64 key = picture.cacheKey();
  QImage source;  // converted once, when a tile needs it
  for (int ty = exposed.top() / kTile; ty <= exposed.bottom() / kTile; ++ty) {
    for (int tx = exposed.left() / kTile; tx <= exposed.right() / kTile; ++tx) {
      qint64& made = tileKeys_[static_cast<size_t>(ty) * tilesAcross_ + tx];
      if (made == key) continue;
      if (source.isNull()) source = Picture32(picture);
      const QRect tile = QRect(tx * kTile, ty * kTile, kTile, kTile) & reduced_.rect();
      ReduceByMean(source, zoom_, tile, reduced_);
      KeepFoundMarkers(form_, source, zoom_, tile, reduced_);
      made = key;
    }
  }
  return reduced_;
}

// Enlarged, each screen pixel shows the image pixel under it. Reduced, it
// shows the mean of its block of the picture, but any colour of the overlay
// in the block: a one-pixel line or a label must not vanish at 25 %.
void LayerWidget::PaintZoomed(QPainter& painter, const QRect& exposed) {
  if (frame_.size() != exposed.size()) frame_ = QImage(exposed.size(), QImage::Format_RGB32);
  frame_.fill(Qt::white);
  const bool reducing = zoom_ < Zoom{};
  const QImage picture = reducing ? QImage() : Picture32(form_.Image1);
  const QImage& reduced = reducing ? ReducedPicture(exposed) : picture;
  const QImage& overlay = form_.CrossImage1;
  const bool withOverlay = form_.OverlayVisible && !overlay.isNull() && overlay.depth() == 32;
  std::vector<Block> columns(static_cast<size_t>(exposed.width()));
  for (int i = 0; i < exposed.width(); ++i)
    columns[static_cast<size_t>(i)] =
        BlockAt(zoom_, exposed.left() + i, std::max(1, withOverlay ? overlay.width() : 1));
  for (int j = 0; j < exposed.height(); ++j) {
    const int sy = exposed.top() + j;
    auto* dst = reinterpret_cast<QRgb*>(frame_.scanLine(j));
    if (reducing) {
      if (sy < reduced.height()) {
        const auto* src = reinterpret_cast<const QRgb*>(reduced.constScanLine(sy));
        for (int i = 0; i < exposed.width(); ++i) {
          const int sx = exposed.left() + i;
          if (sx < reduced.width()) dst[i] = src[sx] | kOpaque;
        }
      }
    } else {
      const int64_t y = zoom_.ImageAt(sy);
      if (y < picture.height()) {
        const auto* src = reinterpret_cast<const QRgb*>(picture.constScanLine(static_cast<int>(y)));
        for (int i = 0; i < exposed.width(); ++i) {
          const int64_t x = zoom_.ImageAt(exposed.left() + i);
          if (x < picture.width()) dst[i] = src[x] | kOpaque;
        }
      }
    }
    if (!withOverlay) continue;
    const Block rows = BlockAt(zoom_, sy, overlay.height());
    if (zoom_.ImageAt(sy) >= overlay.height()) continue;
    for (int i = 0; i < exposed.width(); ++i) {
      if (zoom_.ImageAt(exposed.left() + i) >= overlay.width()) break;
      const Block& c = columns[static_cast<size_t>(i)];
      // The first drawn pixel of the block, row by row.
      for (int y = rows.first; y < rows.end; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(overlay.constScanLine(y));
        const QRgb* hit =
            std::find_if(row + c.first, row + c.end, [](QRgb p) { return !IsWhite(p); });
        if (hit != row + c.end) {
          dst[i] = *hit | kOpaque;
          break;
        }
      }
    }
  }
  painter.drawImage(exposed.topLeft(), frame_);
}

void LayerWidget::mousePressEvent(QMouseEvent* event) {
  const MouseButton button = ToMouseButton(event->button());
  const QPoint p = ImagePixelAt(event->position());
  form_.Guarded([&] { form_.Image1MouseDown(button, CtrlHeld(event), p.x(), p.y()); });
}

void LayerWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = ImagePixelAt(event->position());
  form_.Guarded([&] { form_.CrossImage1MouseMove(CtrlHeld(event), p.x(), p.y()); });
}

void LayerWidget::mouseReleaseEvent(QMouseEvent* event) {
  const MouseButton button = ToMouseButton(event->button());
  const QPoint p = ImagePixelAt(event->position());
  form_.Guarded([&] { form_.CrossImage1MouseUp(button, CtrlHeld(event), p.x(), p.y()); });
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

ImageView::ImageView(TVazeZududi_Form& form, QWidget* parent) : QScrollArea(parent), form_(form) {
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

void ImageView::RepaintImageRegion(const QRegion& imagePixels) {
  layers_->SyncSize();
  layers_->repaint(layers_->ScreenRegion(imagePixels));
}

void ImageView::SetPreviewVisible(bool visible) {
  preview_->setVisible(visible);
  if (visible) preview_->raise();
}

void ImageView::SetZoom(Zoom zoom, QPoint anchor) {
  const Zoom old = layers_->CurrentZoom();
  if (!(zoom == old)) {
    // The image point under the anchor, in image pixels with their fraction.
    const QPoint onLayers = layers_->mapFrom(viewport(), anchor);
    const double x = onLayers.x() * static_cast<double>(old.den) / static_cast<double>(old.num);
    const double y = onLayers.y() * static_cast<double>(old.den) / static_cast<double>(old.num);
    layers_->SetZoom(zoom);
    const double scale = static_cast<double>(zoom.num) / static_cast<double>(zoom.den);
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(x * scale)) - anchor.x());
    verticalScrollBar()->setValue(static_cast<int>(std::lround(y * scale)) - anchor.y());
  }
  if (zoomListener_) zoomListener_(zoom);
}

void ImageView::ZoomToFit() {
  const QSize room = maximumViewportSize();
  SetZoom(FitZoom(form_.ImageWidth, form_.ImageHeight, room.width(), room.height()));
}

void ImageView::wheelEvent(QWheelEvent* event) {
  if ((event->modifiers() & Qt::ControlModifier) == 0) {
    QScrollArea::wheelEvent(event);
    return;
  }
  // A notch is 120; smooth wheels send less at a time.
  wheelSteps_ += event->angleDelta().y();
  const QPoint anchor = viewport()->mapFrom(this, event->position().toPoint());
  while (wheelSteps_ >= 120) {
    wheelSteps_ -= 120;
    SetZoom(StepIn(CurrentZoom()), anchor);
  }
  while (wheelSteps_ <= -120) {
    wheelSteps_ += 120;
    SetZoom(StepOut(CurrentZoom()), anchor);
  }
  event->accept();
}

}  // namespace qova
