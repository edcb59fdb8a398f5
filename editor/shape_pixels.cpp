#include "editor/shape_pixels.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <map>
#include <string>
#include <tuple>

namespace qova {

namespace {

// Products of two coordinate differences need more than 64 bits when a line
// reaches across the whole int range.
__extension__ typedef __int128 Wide;

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

bool FontsAvailable() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// The label as drawing it into the overlay's bitmap leaves it: the cell
// filled white, then the text in the pen's colour at the cell's baseline,
// with a margin around the cell wide enough for any slant or underline.
LabelGlyphs MakeGlyphs(const FontParams& params, const QString& text) {
  const QFont font = LabelFont(params);
  const QFontMetrics metrics(font);
  LabelGlyphs g;
  g.cell = QSize(metrics.horizontalAdvance(text), metrics.height());
  const QRect cell(QPoint(0, 0), g.cell);
  const QRect ink = metrics.boundingRect(text).translated(0, metrics.ascent());
  const int margin = std::max(8, metrics.height());
  const QRect canvas = cell.united(ink).adjusted(-margin, -margin, margin, margin);
  g.origin = canvas.topLeft();
  g.mask = QImage(canvas.size(), QImage::Format_ARGB32_Premultiplied);
  g.mask.fill(0);
  {
    QPainter painter(&g.mask);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(font);
    painter.fillRect(cell.translated(-g.origin), Qt::white);
    painter.setPen(QColor(Qt::black));
    painter.drawText(-g.origin.x(), -g.origin.y() + metrics.ascent(), text);
  }
  // The pixels it sets, exactly.
  QRect drawn, glyphs;
  for (int y = 0; y < g.mask.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(g.mask.constScanLine(y));
    for (int x = 0; x < g.mask.width(); ++x) {
      if (qAlpha(row[x]) == 0) continue;
      drawn |= QRect(x, y, 1, 1);
      if ((row[x] & 0xFFFFFFu) != 0xFFFFFFu) glyphs |= QRect(x, y, 1, 1);
    }
  }
  g.ink = drawn.translated(g.origin);
  g.glyphs = glyphs.translated(g.origin);
  // Only the drawn pixels are kept: the margin was room for any slant, and
  // thousands of labels (a calibration's indices) are cached at once.
  if (drawn.isEmpty()) {
    g.mask = QImage();
  } else {
    g.mask = g.mask.copy(drawn);
    g.origin += drawn.topLeft();
  }
  return g;
}

using GlyphKey = std::tuple<std::string, int, bool, bool, bool, bool, std::string>;

}  // namespace

LineSteps::LineSteps(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
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

int64_t LineSteps::MinorAt(int64_t a) const {
  const Wide k = a - aLow_;
  return bLow_ + bStep_ * static_cast<int64_t>((2 * k * minor_ + major_) / (2 * Wide{major_}));
}

// Labels are drawn again at every repaint that shows them; their glyphs are
// made once for each font and number. The cache is emptied when it grows
// large (a very large font, or many fonts tried).
const LabelGlyphs* GlyphsOf(const FontParams& font, int32_t label) {
  return GlyphsOfText(font, std::to_string(label));
}

std::string CellIndexText(int32_t column, int32_t row) {
  return std::to_string(column) + "," + std::to_string(row);
}

const LabelGlyphs* GlyphsOfShape(const Shape& shape, const std::vector<FontParams>* fonts) {
  if (fonts == nullptr || shape.font >= fonts->size()) return nullptr;
  const FontParams& font = (*fonts)[shape.font];
  if (shape.kind == Shape::Kind::CellIndex)
    return GlyphsOfText(font, CellIndexText(shape.x1, shape.y1));
  if (shape.kind == Shape::Kind::Cross && shape.label != -1) return GlyphsOf(font, shape.label);
  return nullptr;
}

const LabelGlyphs* GlyphsOfText(const FontParams& font, const std::string& text) {
  if (!FontsAvailable()) return nullptr;
  static std::map<GlyphKey, LabelGlyphs> cache;
  static size_t cachedBytes = 0;
  constexpr size_t kMaxCachedBytes = size_t{64} << 20;
  const GlyphKey key{font.Name,      font.Size,      font.Bold, font.Italic,
                     font.Underline, font.Strikeout, text};
  if (const auto hit = cache.find(key); hit != cache.end()) return &hit->second;
  LabelGlyphs glyphs = MakeGlyphs(font, QString::fromStdString(text));
  const auto bytes = static_cast<size_t>(glyphs.mask.sizeInBytes());
  if (cachedBytes + bytes > kMaxCachedBytes) {
    cache.clear();
    cachedBytes = 0;
  }
  cachedBytes += bytes;
  return &cache.emplace(key, std::move(glyphs)).first->second;
}

std::optional<QRect> LabelCellAt(const LabelGlyphs& glyphs, int32_t cross, int32_t x, int32_t y,
                                 int64_t width, int64_t height) {
  const int64_t left = int64_t{x} + 10;
  const int64_t top = int64_t{y} + cross - 10;
  const int64_t w = glyphs.cell.width();
  const int64_t h = glyphs.cell.height();
  if (left >= width || top >= height || left + w <= 0 || top + h <= 0) return std::nullopt;
  return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(w),
               static_cast<int>(h));
}

QRect ShapeBounds(const Shape& shape, const LabelGlyphs* glyphs, QSize image) {
  const QRect inside(QPoint(0, 0), image);
  auto box = [&](int64_t left, int64_t top, int64_t right, int64_t bottom) {
    left = std::max<int64_t>(left, 0);
    top = std::max<int64_t>(top, 0);
    right = std::min<int64_t>(right, image.width() - 1);
    bottom = std::min<int64_t>(bottom, image.height() - 1);
    if (left > right || top > bottom) return QRect();
    return QRect(QPoint(static_cast<int>(left), static_cast<int>(top)),
                 QPoint(static_cast<int>(right), static_cast<int>(bottom)));
  };
  switch (shape.kind) {
    case Shape::Kind::Cross: {
      const int64_t c = shape.size;
      QRect r = box(int64_t{shape.x0} - c, shape.y0, int64_t{shape.x0} + c - 1, shape.y0) |
                box(shape.x0, int64_t{shape.y0} - c, shape.x0, int64_t{shape.y0} + c - 1);
      if (shape.label != -1 && glyphs != nullptr)
        if (const auto cell =
                LabelCellAt(*glyphs, shape.size, shape.x0, shape.y0, image.width(), image.height()))
          r |= glyphs->ink.translated(cell->topLeft()) & inside;
      return r;
    }
    case Shape::Kind::Line:
      return box(std::min(shape.x0, shape.x1), std::min(shape.y0, shape.y1),
                 std::max(shape.x0, shape.x1), std::max(shape.y0, shape.y1));
    case Shape::Kind::CellIndex:
      if (glyphs == nullptr) return QRect();
      return glyphs->glyphs.translated(shape.x0, shape.y0) & inside;
    case Shape::Kind::GridRow:
    case Shape::Kind::GridColumn:
      return inside;
  }
  return QRect();
}

void PaintDrawings(const ShapeList& drawings, const std::vector<FontParams>* fonts, QSize image,
                   const QRect& part, QImage& out) {
  const int left = part.left(), top = part.top();
  ForEachDrawnPixel(drawings, fonts, image, part, [&](int32_t x, int32_t y, QRgb rgb) {
    reinterpret_cast<QRgb*>(out.scanLine(y - top))[x - left] = rgb;
  });
}

}  // namespace qova
