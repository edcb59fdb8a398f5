#pragma once
// The plain twin of the layers drawn part by part: every drawing of a layer
// painted in order into a bitmap of the whole image, as the window drew its
// layers before they were kept as drawings (the cross and the line pixel by
// pixel, the label with a painter on the whole bitmap, a grid line by the
// run's own DrawGridLines).

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "core/procedures.h"
#include "detect/validate_lines.h"
#include "editor/shape_pixels.h"
#include "state/compact_picture.h"
#include "state/state_record.h"

namespace qova {

namespace bitmap_twin {

inline void Set(QImage& image, int64_t x, int64_t y, QRgb rgb) {
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
  reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)))[x] = rgb;
}

// Each arm reaches cross pixels before the centre and cross − 1 after it.
inline void Cross(QImage& image, int32_t cross, QRgb rgb, int32_t x, int32_t y) {
  const int64_t w = image.width(), h = image.height();
  for (int64_t i = std::max<int64_t>(int64_t{x} - cross, -1);
       i <= std::min<int64_t>(int64_t{x} + cross - 1, w); ++i)
    Set(image, i, y, rgb);
  for (int64_t j = std::max<int64_t>(int64_t{y} - cross, -1);
       j <= std::min<int64_t>(int64_t{y} + cross - 1, h); ++j)
    Set(image, x, j, rgb);
}

inline void Line(QImage& image, QRgb rgb, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const LineSteps line(x0, y0, x1, y1);
  if (line.Empty()) return;
  const int64_t limit = line.XMajor() ? image.width() : image.height();
  for (int64_t a = std::max<int64_t>(line.First(), -1); a <= std::min(line.Last(), limit); ++a) {
    if (line.IsEnd(a)) continue;
    if (line.XMajor())
      Set(image, a, line.MinorAt(a), rgb);
    else
      Set(image, line.MinorAt(a), a, rgb);
  }
}

inline QFont Font(const FontParams& params) {
  QFont font(QString::fromStdString(params.Name));
  const int64_t pixels = (int64_t{params.Size} * 96 + 36) / 72;
  font.setPixelSize(static_cast<int>(std::clamp<int64_t>(pixels, 1, 1000)));
  font.setBold(params.Bold);
  font.setItalic(params.Italic);
  font.setUnderline(params.Underline);
  font.setStrikeOut(params.Strikeout);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

// The text cell filled white and the glyphs, with a painter on the whole
// bitmap; nothing when the cell lies wholly outside it.
inline void Label(QImage& image, const FontParams& params, int32_t cross, QRgb rgb, int32_t x,
                  int32_t y, int32_t label) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
  const QFont font = Font(params);
  const QFontMetrics metrics(font);
  const QString text = QString::number(label);
  const int64_t left = int64_t{x} + 10, top = int64_t{y} + cross - 10;
  const int64_t w = metrics.horizontalAdvance(text), h = metrics.height();
  if (left >= image.width() || top >= image.height() || left + w <= 0 || top + h <= 0) return;
  const QRect cell(static_cast<int>(left), static_cast<int>(top), static_cast<int>(w),
                   static_cast<int>(h));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setFont(font);
  painter.fillRect(cell, Qt::white);
  painter.setPen(QColor(rgb));
  painter.drawText(cell.left(), cell.top() + metrics.ascent(), text);
}

// A crossing's index: the glyphs alone, with a painter on the whole bitmap.
inline void CellIndex(QImage& image, const FontParams& params, QRgb rgb, int32_t left, int32_t top,
                      int32_t column, int32_t row) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
  const QFont font = Font(params);
  const QFontMetrics metrics(font);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setFont(font);
  painter.setPen(QColor(rgb));
  painter.drawText(left, top + metrics.ascent(), QString("%1,%2").arg(column).arg(row));
}

// The run's grid line as the window drew it into its 32-bit picture.
inline void GridLine(QImage& image, Color colour, bool rows, double slope, double offset) {
  GridLines lines;
  (rows ? lines.HorizontalLines : lines.VerticalLines).AddNew(slope, offset);
  DrawGridLines(image, lines, colour, [] {});
}

// Every drawing painted in order over base; grid lines by grid (the
// overlay has none).
using GridPainter = void (*)(QImage&, Color, bool, double, double);
inline QImage Paint(QImage base, const ShapeList& drawings, const std::vector<FontParams>* fonts,
                    GridPainter grid = nullptr) {
  for (const Shape& shape : drawings.Shapes()) {
    const QRgb rgb = ToQRgb(shape.colour);
    switch (shape.kind) {
      case Shape::Kind::Cross:
        Cross(base, shape.size, rgb, shape.x0, shape.y0);
        if (shape.label != -1 && fonts != nullptr)
          Label(base, (*fonts)[shape.font], shape.size, rgb, shape.x0, shape.y0, shape.label);
        break;
      case Shape::Kind::Line:
        Line(base, rgb, shape.x0, shape.y0, shape.x1, shape.y1);
        break;
      case Shape::Kind::CellIndex:
        if (fonts != nullptr)
          CellIndex(base, (*fonts)[shape.font], rgb, shape.x0, shape.y0, shape.x1, shape.y1);
        break;
      case Shape::Kind::GridRow:
      case Shape::Kind::GridColumn:
        if (grid != nullptr)
          grid(base, shape.colour, shape.kind == Shape::Kind::GridRow, shape.slope, shape.offset);
        break;
    }
  }
  return base;
}

}  // namespace bitmap_twin

// The overlay of the record as a whole bitmap (Format_RGB32, white where
// nothing is drawn), painted by the twin: the regions, then the marks.
inline QImage WholeOverlay(const StateRecord& s) {
  QImage white(std::max(1, s.ImageWidth), std::max(1, s.ImageHeight), QImage::Format_RGB32);
  white.fill(ToQRgb(kWhite));
  const QImage regions = bitmap_twin::Paint(white, s.CrossImage1.drawings, &s.CrossImage1.fonts);
  return bitmap_twin::Paint(regions, s.CrossImage1.marks, &s.CrossImage1.markFonts);
}

// The picture layer as a whole bitmap, painted by the twin over the whole
// picture read at 32 bits.
inline QImage WholePictureLayer(const StateRecord& s) {
  const PictureSource& picture = *s.Image1.picture;
  QImage base(picture.Width(), picture.Height(), QImage::Format_RGB32);
  for (int y = 0; y < base.height(); ++y)
    picture.ReadRow(y, 0, base.width(), reinterpret_cast<QRgb*>(base.scanLine(y)));
  return bitmap_twin::Paint(base, s.Image1.drawings, nullptr, &bitmap_twin::GridLine);
}

// Where two bitmaps differ first, with both colours, or "" when they do not.
inline std::string FirstDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return "sizes differ";
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) {
        std::ostringstream where;
        where << "(" << x << ", " << y << "): " << std::hex << a.pixel(x, y) << " instead of "
              << b.pixel(x, y);
        return where.str();
      }
  return {};
}

}  // namespace qova
