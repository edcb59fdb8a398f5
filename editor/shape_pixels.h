#pragma once
// The pixels of each kind of drawing on a layer, visited only inside a part
// of the image: a cross's arms, a one-pixel line, a grid line across the
// picture, and a label's text cell and glyphs. Drawing them in order into a
// bitmap of the part gives what drawing them into a bitmap of the whole
// image gives there.

#include <QImage>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/procedures.h"
#include "platform/platform.h"
#include "state/layers.h"
#include "state/qrgb.h"

namespace qova {

// A line of one-pixel width from (x0, y0) toward (x1, y1), the end point not
// drawn. The pixels are those of the segment taken from its end with the
// smaller major coordinate: at step k along the major axis the minor axis has
// moved by k·minor/major rounded half up. Taking the segment the same way in
// both directions makes a line drawn from B to A in white erase exactly the
// pixels of the line drawn from A to B, which the region editor relies on.
class LineSteps {
 public:
  LineSteps(int32_t x0, int32_t y0, int32_t x1, int32_t y1);

  // Zero length: nothing but the end point, which is not drawn.
  bool Empty() const { return major_ == 0; }
  bool XMajor() const { return xMajor_; }
  int64_t First() const { return aLow_; }
  int64_t Last() const { return aLow_ + major_; }
  bool IsEnd(int64_t a) const { return a == aEnd_; }
  // The minor coordinate at the major coordinate a.
  int64_t MinorAt(int64_t a) const;

 private:
  bool xMajor_ = true;
  int64_t aEnd_ = 0, aLow_ = 0, bLow_ = 0, major_ = 0, minor_ = 0, bStep_ = 1;
};

// What a label puts on the overlay, made once for each font and number: its
// text cell, filled white, and its glyphs in the marker's colour, which may
// reach past the cell (an italic slant). mask holds, from origin relative to
// the cell's top-left corner, 0 where the label leaves the pixel, white in
// the cell and black on the glyphs.
struct LabelGlyphs {
  QImage mask;  // Format_ARGB32_Premultiplied
  QPoint origin;
  QSize cell;
  QRect ink;     // the mask's drawn pixels, relative to the cell's corner
  QRect glyphs;  // the glyphs' pixels alone (without the cell), relative to its corner
};

// nullopt when no fonts are available (no GUI application: the batch
// command, which never shows the overlay, draws no labels).
const LabelGlyphs* GlyphsOf(const FontParams& font, int32_t label);
// The same for any short text.
const LabelGlyphs* GlyphsOfText(const FontParams& font, const std::string& text);

// The text of a crossing's index: "column,row".
std::string CellIndexText(int32_t column, int32_t row);

// The glyphs a drawing puts on a layer with these fonts (null: none).
const LabelGlyphs* GlyphsOfShape(const Shape& shape, const std::vector<FontParams>* fonts);

// The label's text cell of a marker at (x, y): its top-left corner at
// (x + 10, y + cross − 10); nullopt when it lies wholly outside an image of
// width × height (the label is not drawn then).
std::optional<QRect> LabelCellAt(const LabelGlyphs& glyphs, int32_t cross, int32_t x, int32_t y,
                                 int64_t width, int64_t height);

// The image pixels a drawing can touch, within an image of this size; the
// label's glyphs given (null: no label).
QRect ShapeBounds(const Shape& shape, const LabelGlyphs* glyphs, QSize image);

// Calls put(x, y, rgb) for every pixel the drawing sets inside clip, which
// lies inside the image, in the order drawing sets them.
template <class Emit>
void ForEachShapePixel(const Shape& shape, const LabelGlyphs* glyphs, QSize image,
                       const QRect& clip, Emit&& put) {
  const QRgb rgb = ToQRgb(shape.colour);
  switch (shape.kind) {
    case Shape::Kind::Cross: {
      // Each arm reaches size pixels before the centre and size − 1 after it.
      const int64_t x = shape.x0, y = shape.y0, cross = shape.size;
      if (y >= clip.top() && y <= clip.bottom()) {
        const int64_t first = std::max<int64_t>(x - cross, clip.left());
        const int64_t last = std::min<int64_t>(x + cross - 1, clip.right());
        for (int64_t i = first; i <= last; ++i)
          put(static_cast<int32_t>(i), static_cast<int32_t>(y), rgb);
      }
      if (x >= clip.left() && x <= clip.right()) {
        const int64_t first = std::max<int64_t>(y - cross, clip.top());
        const int64_t last = std::min<int64_t>(y + cross - 1, clip.bottom());
        for (int64_t j = first; j <= last; ++j)
          put(static_cast<int32_t>(x), static_cast<int32_t>(j), rgb);
      }
      if (shape.label == -1 || glyphs == nullptr) return;
      const auto cell =
          LabelCellAt(*glyphs, shape.size, shape.x0, shape.y0, image.width(), image.height());
      if (!cell) return;
      const QPoint at = cell->topLeft() + glyphs->origin;
      const QRect painted = QRect(at, glyphs->mask.size()) & clip;
      for (int j = painted.top(); j <= painted.bottom(); ++j) {
        const auto* row = reinterpret_cast<const QRgb*>(glyphs->mask.constScanLine(j - at.y()));
        for (int i = painted.left(); i <= painted.right(); ++i) {
          const QRgb m = row[i - at.x()];
          if (qAlpha(m) == 0) continue;
          put(i, j, (m & 0xFFFFFFu) == 0xFFFFFFu ? ToQRgb(kWhite) : rgb);
        }
      }
      return;
    }
    case Shape::Kind::Line: {
      const LineSteps line(shape.x0, shape.y0, shape.x1, shape.y1);
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
          put(static_cast<int32_t>(a), static_cast<int32_t>(b), rgb);
        else
          put(static_cast<int32_t>(b), static_cast<int32_t>(a), rgb);
      }
      return;
    }
    case Shape::Kind::CellIndex: {
      // The glyphs alone: the text cell is not filled.
      if (glyphs == nullptr) return;
      const QPoint at = QPoint(shape.x0, shape.y0) + glyphs->origin;
      const QRect painted = QRect(at, glyphs->mask.size()) & clip;
      for (int j = painted.top(); j <= painted.bottom(); ++j) {
        const auto* row = reinterpret_cast<const QRgb*>(glyphs->mask.constScanLine(j - at.y()));
        for (int i = painted.left(); i <= painted.right(); ++i) {
          const QRgb m = row[i - at.x()];
          if (qAlpha(m) != 0 && (m & 0xFFFFFFu) != 0xFFFFFFu) put(i, j, rgb);
        }
      }
      return;
    }
    case Shape::Kind::GridRow:
    case Shape::Kind::GridColumn: {
      // The pixel at the rounded position of every step along the picture; a
      // value too far off to be a pixel at all is outside.
      const bool row = shape.kind == Shape::Kind::GridRow;
      const int first = row ? clip.left() : clip.top();
      const int last = row ? clip.right() : clip.bottom();
      for (int32_t t = first; t <= last; ++t) {
        const double u = shape.slope * t + shape.offset;
        if (!(std::fabs(static_cast<double>(t)) < 2e9 && std::fabs(u) < 2e9)) continue;
        const int32_t v = RoundNearest(u);
        if (row ? (v < clip.top() || v > clip.bottom()) : (v < clip.left() || v > clip.right()))
          continue;
        if (row)
          put(t, v, rgb);
        else
          put(v, t, rgb);
      }
      return;
    }
  }
}

// Calls put(x, y, rgb) for every pixel inside area that the layer's
// drawings set, drawing by drawing in the order drawn. fonts: the overlay's
// label fonts (null: no labels).
template <class Put>
void ForEachDrawnPixel(const ShapeList& drawings, const std::vector<FontParams>* fonts, QSize image,
                       const QRect& area, Put&& put) {
  const QRect clip = area & QRect(QPoint(0, 0), image);
  if (clip.isEmpty()) return;
  for (const uint32_t id : drawings.Meeting(clip)) {
    const Shape& shape = drawings.Shapes()[id];
    ForEachShapePixel(shape, GlyphsOfShape(shape, fonts), image, clip, put);
  }
}

// Draws the layer's drawings that meet part into out (part-sized,
// Format_RGB32, its pixel (0, 0) the image pixel part.topLeft()), in order.
// fonts: the overlay's label fonts (null: no labels).
void PaintDrawings(const ShapeList& drawings, const std::vector<FontParams>* fonts, QSize image,
                   const QRect& part, QImage& out);

}  // namespace qova
