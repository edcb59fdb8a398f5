#include "editor/markers.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "core/checked_math.h"

namespace qova {

namespace {

// Products of two coordinate differences need more than 64 bits when a line
// reaches across the whole int range.
__extension__ typedef __int128 Wide;

// The layers are 32-bit bitmaps; anything else is brought to that format
// first so that rows can be written as QRgb values.
bool Prepare32(QImage& image) {
  if (image.isNull()) return false;
  const auto f = image.format();
  if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 &&
      f != QImage::Format_ARGB32_Premultiplied)
    image = image.convertToFormat(QImage::Format_RGB32);
  return true;
}

// The cross: each arm reaches cross pixels before the centre and cross − 1
// after it. Only the pixels inside clip (a part of the bitmap) are set.
void DrawCross(QImage& image, int32_t cross, QRgb rgb, int32_t x, int32_t y, const QRect& clip) {
  if (y >= clip.top() && y <= clip.bottom()) {
    const int64_t first = std::max<int64_t>(int64_t{x} - cross, clip.left());
    const int64_t last = std::min<int64_t>(int64_t{x} + cross - 1, clip.right());
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int64_t i = first; i <= last; ++i) row[i] = rgb;
  }
  if (x >= clip.left() && x <= clip.right()) {
    const int64_t first = std::max<int64_t>(int64_t{y} - cross, clip.top());
    const int64_t last = std::min<int64_t>(int64_t{y} + cross - 1, clip.bottom());
    for (int64_t j = first; j <= last; ++j)
      reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(j)))[x] = rgb;
  }
}

// A line of one-pixel width from (x0, y0) toward (x1, y1), the end point not
// drawn. The pixels are those of the segment taken from its end with the
// smaller major coordinate: at step k along the major axis the minor axis has
// moved by k·minor/major rounded half up. Taking the segment the same way in
// both directions makes a line drawn from B to A in white erase exactly the
// pixels of the line drawn from A to B, which the region editor relies on.
class LineSteps {
 public:
  LineSteps(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t dx = int64_t{x1} - x0;
    const int64_t dy = int64_t{y1} - y0;
    xMajor_ = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    // a: the major coordinate, b: the minor one.
    const int64_t a0 = xMajor_ ? x0 : y0, b0 = xMajor_ ? y0 : x0;
    const int64_t a1 = xMajor_ ? x1 : y1, b1 = xMajor_ ? y1 : x1;
    aEnd_ = a1;
    aLow_ = std::min(a0, a1);
    bLow_ = a0 < a1 ? b0 : b1;
    const int64_t bHigh = a0 < a1 ? b1 : b0;
    major_ = std::max(a0, a1) - aLow_;
    minor_ = bHigh >= bLow_ ? bHigh - bLow_ : bLow_ - bHigh;
    bStep_ = bHigh >= bLow_ ? 1 : -1;
  }

  // Zero length: nothing but the end point, which is not drawn.
  bool Empty() const { return major_ == 0; }
  bool XMajor() const { return xMajor_; }
  int64_t First() const { return aLow_; }
  int64_t Last() const { return aLow_ + major_; }
  bool IsEnd(int64_t a) const { return a == aEnd_; }
  // The minor coordinate at the major coordinate a.
  int64_t MinorAt(int64_t a) const {
    const Wide k = a - aLow_;
    return bLow_ + bStep_ * static_cast<int64_t>((2 * k * minor_ + major_) / (2 * Wide{major_}));
  }

 private:
  bool xMajor_ = true;
  int64_t aEnd_ = 0, aLow_ = 0, bLow_ = 0, major_ = 0, minor_ = 0, bStep_ = 1;
};

// Draws the line's pixels that lie inside clip; only the steps inside it are
// visited.
void DrawLine(QImage& image, QRgb rgb, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
              const QRect& clip) {
  const LineSteps line(x0, y0, x1, y1);
  if (line.Empty()) return;
  const bool xMajor = line.XMajor();
  const int64_t aClipLow = xMajor ? clip.left() : clip.top();
  const int64_t aClipHigh = xMajor ? clip.right() : clip.bottom();
  const int64_t bClipLow = xMajor ? clip.top() : clip.left();
  const int64_t bClipHigh = xMajor ? clip.bottom() : clip.right();
  const int64_t first = std::max(line.First(), aClipLow);
  const int64_t last = std::min(line.Last(), aClipHigh);
  for (int64_t a = first; a <= last; ++a) {
    if (line.IsEnd(a)) continue;
    const int64_t b = line.MinorAt(a);
    if (b < bClipLow || b > bClipHigh) continue;
    if (xMajor)
      reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(b)))[a] = rgb;
    else
      reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(a)))[b] = rgb;
  }
}

// Font sizes are points of a 96-dpi desktop whatever the screen, so a label
// has the same pixels on every machine: height = MulDiv(size, 96, 72).
QFont LabelFont(const FontParams& params) {
  QFont font(QString::fromStdString(params.Name));
  const int64_t pixels = (int64_t{params.Size} * 96 + 36) / 72;
  font.setPixelSize(static_cast<int>(std::clamp<int64_t>(pixels, 1, 1000)));
  font.setBold(params.Bold);
  font.setItalic(params.Italic);
  font.setUnderline(params.Underline);
  font.setStrikeOut(params.Strikeout);
  // Only exact white is see-through on the overlay: smoothed glyph edges
  // would leave pale halos over the picture, and erasing a label in white
  // must clear every pixel it set. So glyphs are drawn without smoothing.
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

// Fonts need a GUI application; the batch command has none and never shows
// the overlay, so labels are left out there.
bool FontsAvailable() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// The label's cell in coordinates of the overlay; nullopt when it cannot
// touch the overlay at all (or lies beyond the int range).
std::optional<QRect> CellAt(const QFontMetrics& metrics, const QString& text, int32_t cross,
                            int32_t x, int32_t y, int64_t width, int64_t height) {
  const int64_t left = int64_t{x} + 10;
  const int64_t top = int64_t{y} + cross - 10;
  const int64_t w = metrics.horizontalAdvance(text);
  const int64_t h = metrics.height();
  if (left >= width || top >= height || left + w <= 0 || top + h <= 0) return std::nullopt;
  return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(w),
               static_cast<int>(h));
}

// The label font with its metrics, made once for all the labels of one
// drawing: making them is the dearest part of a small redraw.
struct LabelFace {
  explicit LabelFace(const FontParams& params) : font(LabelFont(params)), metrics(font) {}
  QFont font;
  QFontMetrics metrics;
};

// nullopt when no fonts are available.
std::optional<LabelFace> FaceOf(const FontParams& params) {
  if (!FontsAvailable()) return std::nullopt;
  return std::optional<LabelFace>(std::in_place, params);
}

// The label's text cell filled white and its glyphs, inside clip only.
void DrawLabel(QImage& image, const LabelFace& face, int32_t cross, QRgb rgb, int32_t x, int32_t y,
               int32_t label, const QRect& clip) {
  const QString text = QString::number(label);
  const auto cell = CellAt(face.metrics, text, cross, x, y, image.width(), image.height());
  if (!cell) return;
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  if (clip != image.rect()) painter.setClipRect(clip);
  painter.setFont(face.font);
  painter.fillRect(*cell, Qt::white);
  painter.setPen(QColor(rgb));
  painter.drawText(cell->left(), cell->top() + face.metrics.ascent(), text);
}

// Where a label's pixels can be: its cell and the ink of its glyphs, which
// may reach past the cell (an italic slant), with a pixel to spare.
std::optional<QRect> LabelBounds(const LabelFace& face, int32_t cross, int32_t x, int32_t y,
                                 int32_t label, int64_t width, int64_t height) {
  const QString text = QString::number(label);
  const auto cell = CellAt(face.metrics, text, cross, x, y, width, height);
  if (!cell) return std::nullopt;
  const QRect ink =
      face.metrics.boundingRect(text).translated(cell->left(), cell->top() + face.metrics.ascent());
  return cell->united(ink).adjusted(-2, -2, 2, 2);
}

// --- What a drawing touches ---------------------------------------------------

// Rectangles of image pixels, clipped to the image; empty ones are left out.
class Area {
 public:
  // Markers are measured with this cross size and label face (none: no
  // labels are drawn).
  Area(QSize image, int32_t cross, const LabelFace* face)
      : image_(0, 0, image.width(), image.height()), cross_(cross), face_(face) {}

  // The pixels from (left, top) to (right, bottom), inclusive.
  void Add(int64_t left, int64_t top, int64_t right, int64_t bottom) {
    left = std::max<int64_t>(left, image_.left());
    top = std::max<int64_t>(top, image_.top());
    right = std::min<int64_t>(right, image_.right());
    bottom = std::min<int64_t>(bottom, image_.bottom());
    if (left > right || top > bottom) return;
    rects_.emplace_back(QPoint(static_cast<int>(left), static_cast<int>(top)),
                        QPoint(static_cast<int>(right), static_cast<int>(bottom)));
  }
  void Add(const QRect& r) { Add(r.left(), r.top(), r.right(), r.bottom()); }

  // A marker: its two arms and its label.
  void AddMarker(int32_t x, int32_t y, int32_t label) {
    const int64_t c = cross_;
    Add(int64_t{x} - c, y, int64_t{x} + c - 1, y);
    Add(x, int64_t{y} - c, x, int64_t{y} + c - 1);
    if (label == -1 || face_ == nullptr) return;
    if (const auto bounds =
            LabelBounds(*face_, cross_, x, y, label, image_.width(), image_.height()))
      Add(*bounds);
  }

  // A line, in pieces along its major axis, so that a long slanted edge
  // adds a thin band of pixels and not its whole bounding box.
  void AddLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    constexpr int64_t kPiece = 16;
    const LineSteps line(x0, y0, x1, y1);
    if (line.Empty()) return;
    const int64_t aLimit = line.XMajor() ? image_.right() : image_.bottom();
    const int64_t first = std::max<int64_t>(line.First(), 0);
    const int64_t last = std::min(line.Last(), aLimit);
    for (int64_t a = first; a <= last; a += kPiece) {
      const int64_t end = std::min(a + kPiece - 1, last);
      const int64_t b0 = line.MinorAt(a), b1 = line.MinorAt(end);
      if (line.XMajor())
        Add(a, std::min(b0, b1), end, std::max(b0, b1));
      else
        Add(std::min(b0, b1), a, std::max(b0, b1), end);
    }
  }

  const std::vector<QRect>& Rects() const { return rects_; }

 private:
  QRect image_;
  int32_t cross_;
  const LabelFace* face_;
  std::vector<QRect> rects_;
};

}  // namespace

// What the overlay holds beyond its last full redraw: the corners and the
// drawing settings that redraw used, and everything drawn on top since. It
// holds while the overlay's bitmap is the one the editor last drew on (its
// cache key changes with any other change).
struct OverlayNote {
  qint64 imageKey = 0;
  QSize size;
  int32_t crossSize = 0;
  Color passiveColor = 0;
  FontParams font;
  std::vector<std::vector<QPoint>> corners;
  std::vector<QRect> drawnSince;
};

namespace {

// Beyond this many pieces drawn on top, a full redraw is as cheap.
constexpr size_t kMaxNotedPieces = 4096;

QPoint CornerPixel(const SearchRegion& region, int32_t j) {
  const VT_Point* p = region.Get(j);
  return {Trunc(p->x), Trunc(p->y)};
}

std::vector<std::vector<QPoint>> CornersOf(const StateRecord& s) {
  std::vector<std::vector<QPoint>> corners;
  corners.reserve(static_cast<size_t>(s.Regions.Length()));
  for (const auto& region : s.Regions) {
    std::vector<QPoint>& c = corners.emplace_back();
    for (int32_t j = 0; j < region->Count(); ++j) c.push_back(CornerPixel(*region, j));
  }
  return corners;
}

// The label font as far as it shapes the glyphs; its colour is the marker's.
bool SameShape(const FontParams& a, const FontParams& b) {
  return a.Name == b.Name && a.Size == b.Size && a.Bold == b.Bold && a.Italic == b.Italic &&
         a.Underline == b.Underline && a.Strikeout == b.Strikeout;
}

// The overlay as it is now is a full redraw of these corners, with the
// look the record has now.
void NoteRedraw(StateRecord& s, std::vector<std::vector<QPoint>> corners) {
  auto note = std::make_shared<OverlayNote>();
  note->imageKey = s.CrossImage1.cacheKey();
  note->size = s.CrossImage1.size();
  note->crossSize = s.CrossSize;
  note->passiveColor = s.PassiveColor;
  note->font = s.IndexFont;
  note->corners = std::move(corners);
  s.OverlayHistory = std::move(note);
}

void NoteFullRedraw(StateRecord& s) {
  if (s.CrossImage1.isNull())
    s.OverlayHistory.reset();
  else
    NoteRedraw(s, CornersOf(s));
}

// A fresh white overlay is what a full redraw of no regions leaves: a full
// redraw of any regions differs from it only where their markers and edges
// are, which the next partial redraw takes as changed.
void NoteFreshOverlay(StateRecord& s) { NoteRedraw(s, {}); }

// After a drawing on top of the overlay: the note takes its pixels, or is
// dropped when the overlay was changed by anything else since.
void NoteDrawing(StateRecord& s, qint64 keyBefore, const Area& drawn) {
  OverlayNote* note = s.OverlayHistory.get();
  if (note == nullptr) return;
  if (note->imageKey != keyBefore ||
      note->drawnSince.size() + drawn.Rects().size() > kMaxNotedPieces) {
    s.OverlayHistory.reset();
    return;
  }
  note->drawnSince.insert(note->drawnSince.end(), drawn.Rects().begin(), drawn.Rects().end());
  note->imageKey = s.CrossImage1.cacheKey();
}

// The note describes the overlay as it is, drawn with the look it noted.
bool NoteHolds(const StateRecord& s) {
  const OverlayNote* note = s.OverlayHistory.get();
  if (note == nullptr || s.CrossImage1.isNull() || s.CrossImage1.cacheKey() != note->imageKey)
    return false;
  if (note->size != QSize(s.ImageWidth, s.ImageHeight) || s.CrossImage1.size() != note->size)
    return false;
  return note->crossSize == s.CrossSize && note->passiveColor == s.PassiveColor &&
         SameShape(note->font, s.IndexFont);
}

// Corner j of a region's corners, if it has one.
const QPoint* CornerOf(const std::vector<QPoint>& corners, size_t j) {
  return j < corners.size() ? &corners[j] : nullptr;
}

bool SamePlace(const QPoint* a, const QPoint* b) {
  return (a == nullptr) == (b == nullptr) && (a == nullptr || *a == *b);
}

// The pixels whose colour a full redraw could change: what was drawn on top
// since the last one, and every marker and edge that moved, came or went,
// where it was and where it is now.
Area ChangedArea(const StateRecord& s, const LabelFace* face) {
  const OverlayNote& note = *s.OverlayHistory;
  Area area(note.size, s.CrossSize, face);
  for (const QRect& r : note.drawnSince) area.Add(r);
  const auto now = CornersOf(s);
  static const std::vector<QPoint> kNone;
  for (size_t i = 0; i < std::max(now.size(), note.corners.size()); ++i) {
    const std::vector<QPoint>& was = i < note.corners.size() ? note.corners[i] : kNone;
    const std::vector<QPoint>& is = i < now.size() ? now[i] : kNone;
    for (size_t j = 0; j < std::max(was.size(), is.size()); ++j) {
      const auto label = static_cast<int32_t>(j) + 1;
      const QPoint* cornerWas = CornerOf(was, j);
      const QPoint* cornerIs = CornerOf(is, j);
      // The edge from corner j to the next, closing the outline.
      const QPoint* nextWas = cornerWas ? &was[(j + 1) % was.size()] : nullptr;
      const QPoint* nextIs = cornerIs ? &is[(j + 1) % is.size()] : nullptr;
      if (!SamePlace(cornerWas, cornerIs)) {
        if (cornerWas) area.AddMarker(cornerWas->x(), cornerWas->y(), label);
        if (cornerIs) area.AddMarker(cornerIs->x(), cornerIs->y(), label);
      }
      if (!SamePlace(cornerWas, cornerIs) || !SamePlace(nextWas, nextIs)) {
        if (cornerWas) area.AddLine(cornerWas->x(), cornerWas->y(), nextWas->x(), nextWas->y());
        if (cornerIs) area.AddLine(cornerIs->x(), cornerIs->y(), nextIs->x(), nextIs->y());
      }
    }
  }
  return area;
}

// One thing the full redraw draws, in its order: a corner's marker or the
// edge from that corner to the next.
struct RedrawItem {
  QPoint at;
  QPoint to;          // the edge's far end
  int32_t label;      // the marker's number; 0 for an edge
  QRect bounds;       // where its pixels can be
  QRect labelBounds;  // where its label's can be; none for an edge
};

std::vector<RedrawItem> RedrawItems(const StateRecord& s, const LabelFace* face) {
  std::vector<RedrawItem> items;
  const int64_t cross = s.CrossSize;
  for (const auto& region : s.Regions) {
    const int32_t n = region->Count();
    for (int32_t j = 0; j < n; ++j) {
      const QPoint c = CornerPixel(*region, j);
      const QPoint next = CornerPixel(*region, (j + 1) % n);
      QRect label;
      if (face != nullptr)
        label = LabelBounds(*face, s.CrossSize, c.x(), c.y(), j + 1, s.CrossImage1.width(),
                            s.CrossImage1.height())
                    .value_or(QRect());
      // The arms, kept within the int range.
      const QRect arms(QPoint(static_cast<int>(std::max<int64_t>(c.x() - cross, INT_MIN)),
                              static_cast<int>(std::max<int64_t>(c.y() - cross, INT_MIN))),
                       QPoint(static_cast<int>(std::min<int64_t>(c.x() + cross - 1, INT_MAX)),
                              static_cast<int>(std::min<int64_t>(c.y() + cross - 1, INT_MAX))));
      items.push_back({c, c, j + 1, arms | label, label});
      const QRect edge(QPoint(std::min(c.x(), next.x()), std::min(c.y(), next.y())),
                       QPoint(std::max(c.x(), next.x()), std::max(c.y(), next.y())));
      items.push_back({c, next, 0, edge, QRect()});
    }
  }
  return items;
}

void FillWhite(QImage& image, const QRect& r) {
  const QRgb white = ToQRgb(kWhite);
  for (int y = r.top(); y <= r.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    std::fill(row + r.left(), row + r.right() + 1, white);
  }
}

// The overlay's cache key before a drawing. A blank overlay gets its white
// bitmap here, with a note that it is fresh.
qint64 TakeFreshCanvas(StateRecord& s) {
  if (s.CrossImage1.isNull() && s.ImageWidth > 0 && s.ImageHeight > 0) {
    s.OverlayCanvas();
    NoteFreshOverlay(s);
  }
  return s.CrossImage1.cacheKey();
}

}  // namespace

std::optional<QRect> LabelCell(const StateRecord& s, int32_t x, int32_t y, int32_t label) {
  if (!FontsAvailable()) return std::nullopt;
  const QFontMetrics metrics(LabelFont(s.IndexFont));
  return CellAt(metrics, QString::number(label), s.CrossSize, x, y, s.ImageWidth, s.ImageHeight);
}

std::optional<QRegion> OverlayDrawnSinceRedraw(const StateRecord& s) {
  if (!NoteHolds(s)) return std::nullopt;
  QRegion region;
  for (const QRect& r : s.OverlayHistory->drawnSince) region += r;
  return region;
}

QRegion MarkerArea(const StateRecord& s, int32_t x, int32_t y, int32_t label) {
  const auto face = label != -1 ? FaceOf(s.IndexFont) : std::nullopt;
  Area area(QSize(s.ImageWidth, s.ImageHeight), s.CrossSize, face ? &*face : nullptr);
  area.AddMarker(x, y, label);
  QRegion region;
  for (const QRect& r : area.Rects()) region += r;
  return region;
}

void DrawOverlayMarker(StateRecord& s, Color color, int32_t x, int32_t y, int32_t label) {
  if (label != -1) s.IndexFont.Color = color;  // the font keeps the last marker's colour
  // White on a blank overlay changes nothing; keep it blank (no pixels).
  if (color == kWhite && s.CrossImage1.isNull()) return;
  const qint64 keyBefore = TakeFreshCanvas(s);
  QImage& overlay = s.OverlayCanvas();
  if (!Prepare32(overlay)) return;
  const QRgb rgb = ToQRgb(color);
  const auto face = label != -1 ? FaceOf(s.IndexFont) : std::nullopt;
  DrawCross(overlay, s.CrossSize, rgb, x, y, overlay.rect());
  if (face) DrawLabel(overlay, *face, s.CrossSize, rgb, x, y, label, overlay.rect());
  if (s.OverlayHistory) {
    Area drawn(overlay.size(), s.CrossSize, face ? &*face : nullptr);
    drawn.AddMarker(x, y, label);
    NoteDrawing(s, keyBefore, drawn);
  }
}

void DrawPictureMarker(StateRecord& s, Color color, int32_t x, int32_t y) {
  if (!Prepare32(s.Image1)) return;
  DrawCross(s.Image1, s.CrossSize, ToQRgb(color), x, y, s.Image1.rect());
}

void OverlayLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (color == kWhite && s.CrossImage1.isNull()) return;
  const qint64 keyBefore = TakeFreshCanvas(s);
  QImage& overlay = s.OverlayCanvas();
  if (!Prepare32(overlay)) return;
  DrawLine(overlay, ToQRgb(color), x0, y0, x1, y1, overlay.rect());
  if (s.OverlayHistory) {
    Area drawn(overlay.size(), s.CrossSize, nullptr);
    drawn.AddLine(x0, y0, x1, y1);
    NoteDrawing(s, keyBefore, drawn);
  }
}

void PictureLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!Prepare32(s.Image1)) return;
  DrawLine(s.Image1, ToQRgb(color), x0, y0, x1, y1, s.Image1.rect());
}

void RedrawOverlay(StateRecord& s) {
  s.OverlayHistory.reset();  // what this draws is the note's new ground
  // Fill white. Reuse the bitmap while it has the image's size and something
  // will be drawn.
  if (s.Regions.Length() > 0 && s.CrossImage1.size() == QSize(s.ImageWidth, s.ImageHeight))
    s.CrossImage1.fill(ToQRgb(kWhite));
  else
    s.ClearOverlay();
  for (const auto& region : s.Regions) {
    const int32_t n = region->Count();
    for (int32_t j = 0; j < n; ++j) {
      const QPoint c = CornerPixel(*region, j);
      const QPoint next = CornerPixel(*region, (j + 1) % n);
      DrawOverlayMarker(s, s.PassiveColor, c.x(), c.y(), j + 1);
      // The outline is always closed, also while the region is being built.
      OverlayLine(s, s.PassiveColor, c.x(), c.y(), next.x(), next.y());
    }
  }
  NoteFullRedraw(s);
}

std::optional<QRegion> RedrawOverlayChanges(StateRecord& s) {
  if (!NoteHolds(s)) return std::nullopt;
  const auto face = FaceOf(s.IndexFont);
  const LabelFace* labels = face ? &*face : nullptr;
  const Area changed = ChangedArea(s, labels);
  QImage& overlay = s.CrossImage1;
  const QRgb passive = ToQRgb(s.PassiveColor);
  const std::vector<RedrawItem> items = RedrawItems(s, labels);
  // Each changed piece as the full redraw would leave it: white, then every
  // marker and edge that reaches into it, in the redraw's order.
  for (const QRect& piece : changed.Rects()) {
    FillWhite(overlay, piece);
    for (const RedrawItem& item : items) {
      if (!item.bounds.intersects(piece)) continue;
      if (item.label > 0) {
        DrawCross(overlay, s.CrossSize, passive, item.at.x(), item.at.y(), piece);
        if (labels != nullptr && item.labelBounds.intersects(piece))
          DrawLabel(overlay, *labels, s.CrossSize, passive, item.at.x(), item.at.y(), item.label,
                    piece);
      } else {
        DrawLine(overlay, passive, item.at.x(), item.at.y(), item.to.x(), item.to.y(), piece);
      }
    }
  }
  // The drawing state a full redraw leaves.
  if (!items.empty()) s.IndexFont.Color = s.PassiveColor;
  NoteFullRedraw(s);
  QRegion region;
  for (const QRect& r : changed.Rects()) region += r;
  return region;
}

}  // namespace qova
