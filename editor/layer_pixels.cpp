#include "editor/layer_pixels.h"

#include <algorithm>
#include <initializer_list>

#include "editor/shape_pixels.h"

namespace qova {

namespace {

QSize PictureSize(const StateRecord& s) {
  const PictureSource* p = s.Image1.picture.get();
  return p != nullptr ? QSize(p->Width(), p->Height()) : QSize(0, 0);
}

QSize OverlaySize(const StateRecord& s) {
  return {std::max(0, s.ImageWidth), std::max(0, s.ImageHeight)};
}

QImage WhitePart(const QRect& part) {
  QImage out(part.size(), QImage::Format_RGB32);
  out.fill(ToQRgb(kWhite));
  return out;
}

// A list of drawings with its label fonts (null: no labels).
struct DrawingList {
  const ShapeList* shapes;
  const std::vector<FontParams>* fonts;
};

// The drawn pixels of a layer's lists inside area, in the order given, the
// last colour of each.
std::vector<DrawnPixel> DrawnPixels(std::initializer_list<DrawingList> lists, QSize image,
                                    const QRect& area) {
  struct Hit {
    uint64_t where;  // row, then column: the order of the result
    QRgb rgb;
  };
  std::vector<Hit> hits;
  for (const DrawingList& list : lists)
    ForEachDrawnPixel(*list.shapes, list.fonts, image, area, [&](int32_t x, int32_t y, QRgb rgb) {
      hits.push_back({(uint64_t{static_cast<uint32_t>(y)} << 32) | static_cast<uint32_t>(x), rgb});
    });
  // Equal places keep the order drawn: the last one wins.
  std::stable_sort(hits.begin(), hits.end(),
                   [](const Hit& a, const Hit& b) { return a.where < b.where; });
  std::vector<DrawnPixel> pixels;
  for (size_t i = 0; i < hits.size(); ++i) {
    if (i + 1 < hits.size() && hits[i + 1].where == hits[i].where) continue;
    pixels.push_back({static_cast<int32_t>(hits[i].where & 0xFFFFFFFFu),
                      static_cast<int32_t>(hits[i].where >> 32), hits[i].rgb});
  }
  return pixels;
}

}  // namespace

QImage PicturePart(const StateRecord& s, const QRect& part) {
  QImage out = WhitePart(part);
  const PictureSource* picture = s.Image1.picture.get();
  if (picture == nullptr || out.isNull()) return out;
  const QRect shown = part & QRect(QPoint(0, 0), PictureSize(s));
  for (int y = shown.top(); y <= shown.bottom(); ++y)
    picture->ReadRow(
        y, shown.left(), shown.width(),
        reinterpret_cast<QRgb*>(out.scanLine(y - part.top())) + (shown.left() - part.left()));
  PaintDrawings(s.Image1.drawings, nullptr, PictureSize(s), part, out);
  return out;
}

QImage OverlayPart(const StateRecord& s, const QRect& part) {
  QImage out = WhitePart(part);
  if (out.isNull()) return out;
  PaintDrawings(s.CrossImage1.drawings, &s.CrossImage1.fonts, OverlaySize(s), part, out);
  PaintDrawings(s.CrossImage1.marks, &s.CrossImage1.markFonts, OverlaySize(s), part, out);
  return out;
}

Color PicturePixel(const StateRecord& s, int32_t x, int32_t y) {
  return FromQRgb(PicturePart(s, QRect(x, y, 1, 1)).pixel(0, 0));
}

Color OverlayPixel(const StateRecord& s, int32_t x, int32_t y) {
  return FromQRgb(OverlayPart(s, QRect(x, y, 1, 1)).pixel(0, 0));
}

std::vector<DrawnPixel> PictureDrawnPixels(const StateRecord& s, const QRect& area) {
  return DrawnPixels({{&s.Image1.drawings, nullptr}}, PictureSize(s), area);
}

std::vector<DrawnPixel> OverlayDrawnPixels(const StateRecord& s, const QRect& area) {
  return DrawnPixels({{&s.CrossImage1.drawings, &s.CrossImage1.fonts},
                      {&s.CrossImage1.marks, &s.CrossImage1.markFonts}},
                     OverlaySize(s), area);
}

}  // namespace qova
