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
#include "editor/layer_pixels.h"

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

int Clamp(int64_t v, int64_t lo, int64_t hi) { return static_cast<int>(std::clamp(v, lo, hi)); }

// The image pixels a screen pixel shows along one axis: [first, end), at
// least one pixel, within the image.
PixelSpan BlockAt(const Zoom& z, int64_t screen, int size) {
  const int first = Clamp(z.ImageAt(screen), 0, size - 1);
  const int end = Clamp(z.ImageAt(screen + 1), first + 1, size);
  return {first, end};
}

// The screen pixel whose block holds image pixel i.
int64_t ScreenOf(const Zoom& z, int64_t i) { return z.ScreenAt(i + 1) - 1; }

// The image pixels the screen pixels of part show, within an image of size:
// from the first pixel of its first block to the last of its last one (one
// pixel when enlarged).
QRect ImageArea(const Zoom& z, const QRect& part, QSize size) {
  auto last = [&](int64_t s) { return std::max(z.ImageAt(s), z.ImageAt(s + 1) - 1); };
  const QRect area(
      QPoint(Clamp(z.ImageAt(part.left()), 0, INT_MAX), Clamp(z.ImageAt(part.top()), 0, INT_MAX)),
      QPoint(Clamp(last(part.right()), -1, INT_MAX), Clamp(last(part.bottom()), -1, INT_MAX)));
  return area & QRect(QPoint(0, 0), size);
}

// The picture layer's colours at single pixels: a drawn pixel's last colour
// (drawn: sorted row by row), else the picture's.
class PictureLookup {
 public:
  PictureLookup(const PictureSource& picture, const std::vector<DrawnPixel>& drawn)
      : picture_(picture), drawn_(drawn) {}
  QRgb At(int32_t x, int32_t y) const {
    const auto hit =
        std::lower_bound(drawn_.begin(), drawn_.end(), std::make_pair(y, x),
                         [](const DrawnPixel& p, const std::pair<int32_t, int32_t>& q) {
                           return std::make_pair(p.y, p.x) < q;
                         });
    if (hit != drawn_.end() && hit->x == x && hit->y == y) return hit->rgb;
    QRgb p;
    picture_.ReadRow(y, x, 1, &p);
    return p;
  }

 private:
  const PictureSource& picture_;
  const std::vector<DrawnPixel>& drawn_;
};

// The picture layer reduced by a zoom below 1:1 over one tile of the screen:
// each screen pixel the mean of its block, rounded half up, of the picture
// with the run's drawings over it. The picture gives the sums of its blocks;
// the blocks a drawing reaches into are corrected by what it changed.
void ReduceByMean(const TVazeZududi_Form& form, const Zoom& z, const QRect& tile, QImage& reduced) {
  const PictureSource& picture = *form.Image1.picture;
  const int w = tile.width(), h = tile.height();
  const int pw = picture.Width(), ph = picture.Height();
  std::vector<PixelSpan> columns(static_cast<size_t>(w));
  for (int i = 0; i < w; ++i) columns[static_cast<size_t>(i)] = BlockAt(z, tile.left() + i, pw);
  std::vector<int64_t> sums(static_cast<size_t>(w) * h * 3);
  std::vector<uint64_t> row(static_cast<size_t>(w) * 3);
  for (int j = 0; j < h; ++j) {
    picture.SumBlocks(columns, BlockAt(z, tile.top() + j, ph), row.data());
    std::copy(row.begin(), row.end(), sums.begin() + static_cast<ptrdiff_t>(j) * w * 3);
  }
  const std::vector<DrawnPixel> drawn = PictureDrawnPixels(form, ImageArea(z, tile, QSize(pw, ph)));
  for (const DrawnPixel& d : drawn) {
    const int64_t i = ScreenOf(z, d.x) - tile.left(), j = ScreenOf(z, d.y) - tile.top();
    if (i < 0 || j < 0 || i >= w || j >= h) continue;
    QRgb under;
    picture.ReadRow(d.y, d.x, 1, &under);
    int64_t* sum = &sums[static_cast<size_t>((j * w + i) * 3)];
    sum[0] += qRed(d.rgb) - qRed(under);
    sum[1] += qGreen(d.rgb) - qGreen(under);
    sum[2] += qBlue(d.rgb) - qBlue(under);
  }
  for (int j = 0; j < h; ++j) {
    const PixelSpan rows = BlockAt(z, tile.top() + j, ph);
    auto* dst = reinterpret_cast<QRgb*>(reduced.scanLine(j));
    for (int i = 0; i < w; ++i) {
      const PixelSpan& c = columns[static_cast<size_t>(i)];
      const int64_t n = int64_t{c.end - c.first} * (rows.end - rows.first);
      const int64_t* sum = &sums[static_cast<size_t>((j * w + i) * 3)];
      dst[i] = qRgb(static_cast<int>((sum[0] + n / 2) / n), static_cast<int>((sum[1] + n / 2) / n),
                    static_cast<int>((sum[2] + n / 2) / n));
    }
  }
}

// The found points' markers are one pixel wide in the picture; reduced by a
// mean they would fade away. Every pixel of their arms that still has the
// marker's colour keeps that colour in the reduced picture (in one tile).
void KeepFoundMarkers(const TVazeZududi_Form& form, const Zoom& z, const QRect& tile,
                      QImage& reduced) {
  if (!form.RunCompleted) return;
  const PictureSource& picture = *form.Image1.picture;
  const int64_t pw = picture.Width(), ph = picture.Height();
  const int64_t cross = form.CrossSize;
  // The image pixels the tile shows, and a marker's reach around them.
  const int64_t left = z.ImageAt(tile.left()) - cross, right = z.ImageAt(tile.right() + 1) + cross;
  const int64_t top = z.ImageAt(tile.top()) - cross, bottom = z.ImageAt(tile.bottom() + 1) + cross;
  // The colours of the markers' centres and of the tile's pixels.
  const QRect reach = QRect(QPoint(Clamp(left, 0, pw), Clamp(top, 0, ph)),
                            QPoint(Clamp(right, -1, pw - 1), Clamp(bottom, -1, ph - 1)));
  const std::vector<DrawnPixel> drawn = PictureDrawnPixels(form, reach);
  const PictureLookup at(picture, drawn);
  auto keep = [&](int64_t x, int64_t y, QRgb colour) {
    if (x < 0 || y < 0 || x >= pw || y >= ph) return;
    const int64_t i = ScreenOf(z, x) - tile.left(), j = ScreenOf(z, y) - tile.top();
    if (i < 0 || j < 0 || i >= tile.width() || j >= tile.height()) return;
    if (at.At(static_cast<int32_t>(x), static_cast<int32_t>(y)) == colour)
      reinterpret_cast<QRgb*>(reduced.scanLine(static_cast<int>(j)))[i] = colour;
  };
  for (int32_t k = 0; k < form.FoundPoints.Count(); ++k) {
    const VT_Point* p = form.FoundPoints.Get(k);
    // Only points on the picture have a marker; others need no rounding.
    if (!(p->x > -1 && p->y > -1 && p->x < pw && p->y < ph)) continue;
    const int64_t x = RoundNearest(p->x), y = RoundNearest(p->y);
    if (x < left || x > right || y < top || y > bottom) continue;
    if (x < 0 || y < 0 || x >= pw || y >= ph) continue;
    const QRgb colour = at.At(static_cast<int32_t>(x), static_cast<int32_t>(y));
    for (int64_t d = -cross; d < cross; ++d) {
      keep(x + d, y, colour);
      keep(x, y + d, colour);
    }
  }
}

// What the reduced picture depends on beyond the zoom.
uint64_t ReducedKey(const TVazeZududi_Form& form, const Zoom& z) {
  uint64_t key = 1469598103934665603ull;
  auto mix = [&](uint64_t v) { key = (key ^ v) * 1099511628211ull; };
  mix(form.Image1.pictureVersion);
  mix(form.Image1.drawings.Version());
  mix(form.RunCompleted);
  mix(static_cast<uint64_t>(form.FoundPoints.Count()));
  mix(static_cast<uint64_t>(form.CrossSize));
  mix(static_cast<uint64_t>(z.num));
  mix(static_cast<uint64_t>(z.den));
  return key;
}

// The first drawn pixel of the overlay in each block, row by row: the
// drawn pixels come row by row, so the first one that lands in a block is it.
void OverlayOverReduced(const TVazeZududi_Form& form, const Zoom& z, const QRect& screen,
                        QImage& frame) {
  const QSize size(std::max(0, form.ImageWidth), std::max(0, form.ImageHeight));
  std::vector<bool> taken(static_cast<size_t>(screen.width()) * screen.height(), false);
  for (const DrawnPixel& d : OverlayDrawnPixels(form, ImageArea(z, screen, size))) {
    if ((d.rgb & 0xFFFFFFu) == 0xFFFFFFu) continue;  // white is see-through
    const int64_t i = ScreenOf(z, d.x) - screen.left(), j = ScreenOf(z, d.y) - screen.top();
    if (i < 0 || j < 0 || i >= screen.width() || j >= screen.height()) continue;
    const size_t k = static_cast<size_t>(j * screen.width() + i);
    if (taken[k]) continue;
    taken[k] = true;
    reinterpret_cast<QRgb*>(frame.scanLine(static_cast<int>(j)))[i] = d.rgb | kOpaque;
  }
}

void PaintReduced(const TVazeZududi_Form& form, const Zoom& z, const QRect& screen,
                  ReducedTiles& tiles, QImage& frame) {
  constexpr int kTile = ReducedTiles::kTile;
  const PictureSource* picture = form.Image1.picture.get();
  if (picture != nullptr && picture->Width() > 0 && picture->Height() > 0) {
    const int64_t pw = z.ScreenAt(picture->Width()), ph = z.ScreenAt(picture->Height());
    const uint64_t key = ReducedKey(form, z);
    const QRect shown = screen & QRect(0, 0, Clamp(pw, 0, INT_MAX), Clamp(ph, 0, INT_MAX));
    for (int ty = shown.top() / kTile; !shown.isEmpty() && ty <= shown.bottom() / kTile; ++ty)
      for (int tx = shown.left() / kTile; tx <= shown.right() / kTile; ++tx) {
        const QRect tile = QRect(tx * kTile, ty * kTile, kTile, kTile) &
                           QRect(0, 0, static_cast<int>(pw), static_cast<int>(ph));
        const QImage& pixels = tiles.Tile(tx, ty, key, [&](QImage& out) {
          out = QImage(tile.size(), QImage::Format_RGB32);
          ReduceByMean(form, z, tile, out);
          KeepFoundMarkers(form, z, tile, out);
        });
        const QRect part = tile & shown;
        for (int sy = part.top(); sy <= part.bottom(); ++sy) {
          const auto* src = reinterpret_cast<const QRgb*>(pixels.constScanLine(sy - tile.top()));
          auto* dst = reinterpret_cast<QRgb*>(frame.scanLine(sy - screen.top()));
          for (int sx = part.left(); sx <= part.right(); ++sx)
            dst[sx - screen.left()] = src[sx - tile.left()] | kOpaque;
        }
      }
  }
  if (form.OverlayVisible) OverlayOverReduced(form, z, screen, frame);
}

// Enlarged or at 1:1: the image pixel under each screen pixel.
void PaintEnlarged(const TVazeZududi_Form& form, const Zoom& z, const QRect& screen,
                   QImage& frame) {
  const QSize size(std::max(0, form.ImageWidth), std::max(0, form.ImageHeight));
  const QRect area = ImageArea(z, screen, size);
  if (area.isEmpty()) return;
  const QImage picture = PicturePart(form, area);
  const QImage overlay = form.OverlayVisible ? OverlayPart(form, area) : QImage();
  const PictureSource* source = form.Image1.picture.get();
  const QRect inPicture =
      source != nullptr ? area & QRect(0, 0, source->Width(), source->Height()) : QRect();
  for (int j = 0; j < screen.height(); ++j) {
    const int64_t y = z.ImageAt(screen.top() + j);
    if (y < area.top() || y > area.bottom()) continue;
    auto* dst = reinterpret_cast<QRgb*>(frame.scanLine(j));
    const auto* p =
        reinterpret_cast<const QRgb*>(picture.constScanLine(static_cast<int>(y) - area.top()));
    const auto* o = overlay.isNull() ? nullptr
                                     : reinterpret_cast<const QRgb*>(
                                           overlay.constScanLine(static_cast<int>(y) - area.top()));
    for (int i = 0; i < screen.width(); ++i) {
      const int64_t x = z.ImageAt(screen.left() + i);
      if (x < area.left() || x > area.right()) continue;
      const size_t k = static_cast<size_t>(x - area.left());
      if (inPicture.contains(static_cast<int>(x), static_cast<int>(y))) dst[i] = p[k] | kOpaque;
      if (o != nullptr && (o[k] & 0xFFFFFFu) != 0xFFFFFFu) dst[i] = o[k] | kOpaque;
    }
  }
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

const QImage& ReducedTiles::Tile(int tx, int ty, uint64_t key,
                                 const std::function<void(QImage&)>& make) {
  const uint64_t where =
      (static_cast<uint64_t>(static_cast<uint32_t>(ty)) << 32) | static_cast<uint32_t>(tx);
  Entry& entry = tiles_[where];
  if (entry.pixels.isNull() || entry.key != key) {
    make(entry.pixels);
    entry.key = key;
  }
  entry.used = ++clock_;
  if (tiles_.size() > kMaxTiles) {
    // The least recently shown goes; never the one just made.
    auto oldest = tiles_.end();
    for (auto it = tiles_.begin(); it != tiles_.end(); ++it)
      if (it->first != where && (oldest == tiles_.end() || it->second.used < oldest->second.used))
        oldest = it;
    tiles_.erase(oldest);
  }
  return tiles_[where].pixels;
}

size_t ReducedTiles::HeldBytes() const {
  size_t bytes = 0;
  for (const auto& [where, entry] : tiles_)
    bytes += static_cast<size_t>(entry.pixels.sizeInBytes());
  return bytes;
}

QImage ViewPixels(const TVazeZududi_Form& form, Zoom zoom, const QRect& screen,
                  ReducedTiles& tiles) {
  QImage frame(screen.size(), QImage::Format_RGB32);
  frame.fill(Qt::white);
  if (zoom < Zoom{})
    PaintReduced(form, zoom, screen, tiles, frame);
  else
    PaintEnlarged(form, zoom, screen, frame);
  return frame;
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
    if (!exposed.isEmpty())
      painter.drawImage(exposed.topLeft(), ViewPixels(form_, zoom_, exposed, tiles_));
  }
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
