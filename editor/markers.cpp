#include "editor/markers.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <string>

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
// after it. Pixels outside the bitmap are skipped.
void DrawCross(QImage& image, int32_t cross, QRgb rgb, int32_t x, int32_t y) {
  const int64_t w = image.width();
  const int64_t h = image.height();
  if (y >= 0 && y < h) {
    const int64_t first = std::max<int64_t>(int64_t{x} - cross, 0);
    const int64_t last = std::min<int64_t>(int64_t{x} + cross - 1, w - 1);
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int64_t i = first; i <= last; ++i) row[i] = rgb;
  }
  if (x >= 0 && x < w) {
    const int64_t first = std::max<int64_t>(int64_t{y} - cross, 0);
    const int64_t last = std::min<int64_t>(int64_t{y} + cross - 1, h - 1);
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
// Only the steps inside the bitmap are visited.
void DrawLine(QImage& image, QRgb rgb, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const int64_t dx = int64_t{x1} - x0;
  const int64_t dy = int64_t{y1} - y0;
  const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
  // a: the major coordinate, b: the minor one.
  const int64_t a0 = xMajor ? x0 : y0, b0 = xMajor ? y0 : x0;
  const int64_t a1 = xMajor ? x1 : y1, b1 = xMajor ? y1 : x1;
  if (a0 == a1) return;  // zero length: nothing but the end point, which is not drawn
  const int64_t aLow = std::min(a0, a1);
  const int64_t bLow = a0 < a1 ? b0 : b1;
  const int64_t bHigh = a0 < a1 ? b1 : b0;
  const int64_t major = std::max(a0, a1) - aLow;
  const int64_t minor = bHigh >= bLow ? bHigh - bLow : bLow - bHigh;
  const int64_t bStep = bHigh >= bLow ? 1 : -1;
  const int64_t aExtent = xMajor ? image.width() : image.height();
  const int64_t bExtent = xMajor ? image.height() : image.width();
  const int64_t first = std::max<int64_t>(aLow, 0);
  const int64_t last = std::min<int64_t>(aLow + major, aExtent - 1);
  for (int64_t a = first; a <= last; ++a) {
    if (a == a1) continue;  // the end point
    const Wide k = a - aLow;
    const int64_t m = static_cast<int64_t>((2 * k * minor + major) / (2 * Wide{major}));
    const int64_t b = bLow + bStep * m;
    if (b < 0 || b >= bExtent) continue;
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

void DrawLabel(QImage& image, const FontParams& params, int32_t cross, QRgb rgb, int32_t x,
               int32_t y, int32_t label) {
  if (!FontsAvailable()) return;
  const QFont font = LabelFont(params);
  const QFontMetrics metrics(font);
  const QString text = QString::number(label);
  const auto cell = CellAt(metrics, text, cross, x, y, image.width(), image.height());
  if (!cell) return;
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setFont(font);
  painter.fillRect(*cell, Qt::white);
  painter.setPen(QColor(rgb));
  painter.drawText(cell->left(), cell->top() + metrics.ascent(), text);
}

}  // namespace

std::optional<QRect> LabelCell(const StateRecord& s, int32_t x, int32_t y, int32_t label) {
  if (!FontsAvailable()) return std::nullopt;
  const QFontMetrics metrics(LabelFont(s.IndexFont));
  return CellAt(metrics, QString::number(label), s.CrossSize, x, y, s.ImageWidth, s.ImageHeight);
}

void DrawOverlayMarker(StateRecord& s, Color color, int32_t x, int32_t y, int32_t label) {
  if (label != -1) s.IndexFont.Color = color;  // the font keeps the last marker's colour
  // White on a blank overlay changes nothing; keep it blank (no pixels).
  if (color == kWhite && s.CrossImage1.isNull()) return;
  QImage& overlay = s.OverlayCanvas();
  if (!Prepare32(overlay)) return;
  const QRgb rgb = ToQRgb(color);
  DrawCross(overlay, s.CrossSize, rgb, x, y);
  if (label != -1) DrawLabel(overlay, s.IndexFont, s.CrossSize, rgb, x, y, label);
}

void DrawPictureMarker(StateRecord& s, Color color, int32_t x, int32_t y) {
  if (!Prepare32(s.Image1)) return;
  DrawCross(s.Image1, s.CrossSize, ToQRgb(color), x, y);
}

void OverlayLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  s.OverlayPenColor = color;
  if (color == kWhite && s.CrossImage1.isNull()) return;
  QImage& overlay = s.OverlayCanvas();
  if (!Prepare32(overlay)) return;
  DrawLine(overlay, ToQRgb(color), x0, y0, x1, y1);
}

void PictureLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!Prepare32(s.Image1)) return;
  DrawLine(s.Image1, ToQRgb(color), x0, y0, x1, y1);
}

void RedrawOverlay(StateRecord& s) {
  s.OverlayPenColor = s.PassiveColor;
  // Fill white. Reuse the bitmap while it has the image's size and something
  // will be drawn: this runs on every pointer move of a drag.
  if (s.Regions.Length() > 0 && s.CrossImage1.size() == QSize(s.ImageWidth, s.ImageHeight))
    s.CrossImage1.fill(ToQRgb(kWhite));
  else
    s.ClearOverlay();
  for (const auto& region : s.Regions) {
    const int32_t n = region->Count();
    for (int32_t j = 0; j < n; ++j) {
      const VT_Point* corner = region->Get(j);
      const VT_Point* next = region->Get((j + 1) % n);
      const int32_t x = Trunc(corner->x);
      const int32_t y = Trunc(corner->y);
      DrawOverlayMarker(s, s.PassiveColor, x, y, j + 1);
      // The outline is always closed, also while the region is being built.
      OverlayLine(s, s.PassiveColor, x, y, Trunc(next->x), Trunc(next->y));
    }
  }
}

}  // namespace qova
