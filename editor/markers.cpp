#include "editor/markers.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/checked_math.h"
#include "editor/shape_pixels.h"

namespace qova {

namespace {

QSize ImageSize(const StateRecord& s) {
  return {std::max(0, s.ImageWidth), std::max(0, s.ImageHeight)};
}

// --- What a drawing touches ---------------------------------------------------

// Rectangles of image pixels, clipped to the image; empty ones are left out.
class Area {
 public:
  // Markers are measured with this cross size and label font (none: no
  // labels are drawn).
  Area(QSize image, int32_t cross, const FontParams* font)
      : image_(0, 0, image.width(), image.height()), cross_(cross), font_(font) {}

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
  void Add(const QRect& r) {
    if (!r.isEmpty()) Add(r.left(), r.top(), r.right(), r.bottom());
  }

  // A marker: its two arms and its label.
  void AddMarker(int32_t x, int32_t y, int32_t label) {
    const int64_t c = cross_;
    Add(int64_t{x} - c, y, int64_t{x} + c - 1, y);
    Add(x, int64_t{y} - c, x, int64_t{y} + c - 1);
    if (label == -1 || font_ == nullptr) return;
    const LabelGlyphs* glyphs = GlyphsOf(*font_, label);
    if (glyphs == nullptr) return;
    if (const auto cell = LabelCellAt(*glyphs, cross_, x, y, image_.width(), image_.height()))
      Add(glyphs->ink.translated(cell->topLeft()));
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
    // Pieces that stay on the same minor coordinates are joined: a nearly
    // straight edge across a large scan is a few rectangles, not thousands.
    int64_t pieceStart = first, pieceLow = 0, pieceHigh = -1;
    auto flush = [&](int64_t end) {
      if (pieceHigh < pieceLow) return;
      if (line.XMajor())
        Add(pieceStart, pieceLow, end, pieceHigh);
      else
        Add(pieceLow, pieceStart, pieceHigh, end);
    };
    for (int64_t a = first; a <= last; a += kPiece) {
      const int64_t end = std::min(a + kPiece - 1, last);
      const int64_t b0 = line.MinorAt(a), b1 = line.MinorAt(end);
      const int64_t low = std::min(b0, b1), high = std::max(b0, b1);
      if (low == pieceLow && high == pieceHigh) continue;
      flush(a - 1);
      pieceStart = a;
      pieceLow = low;
      pieceHigh = high;
    }
    flush(last);
  }

  const std::vector<QRect>& Rects() const { return rects_; }

 private:
  QRect image_;
  int32_t cross_;
  const FontParams* font_;
  std::vector<QRect> rects_;
};

}  // namespace

// What the overlay holds beyond its last full redraw: the corners and the
// drawing settings that redraw used, and everything drawn on top since. It
// holds while the overlay's drawings are those the editor last noted (their
// version changes with any other change).
struct OverlayNote {
  uint64_t version = 0;
  QSize size;
  int32_t crossSize = 0;
  Color passiveColor = 0;
  FontParams font;
  std::vector<std::vector<QPoint>> corners;
  std::vector<QRect> drawnSince;
};

namespace {

// Beyond this many pieces drawn on top, a full repaint is as cheap.
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
  note->version = s.CrossImage1.drawings.Version();
  note->size = ImageSize(s);
  note->crossSize = s.CrossSize;
  note->passiveColor = s.PassiveColor;
  note->font = s.IndexFont;
  note->corners = std::move(corners);
  s.OverlayHistory = std::move(note);
}

void NoteFullRedraw(StateRecord& s) {
  if (s.CrossImage1.drawings.Empty())
    s.OverlayHistory.reset();
  else
    NoteRedraw(s, CornersOf(s));
}

// After a drawing on top of the overlay: the note takes its pixels, or is
// dropped when the overlay was changed by anything else since.
void NoteDrawing(StateRecord& s, uint64_t versionBefore, const Area& drawn) {
  OverlayNote* note = s.OverlayHistory.get();
  if (note == nullptr) return;
  if (note->version != versionBefore ||
      note->drawnSince.size() + drawn.Rects().size() > kMaxNotedPieces) {
    s.OverlayHistory.reset();
    return;
  }
  note->drawnSince.insert(note->drawnSince.end(), drawn.Rects().begin(), drawn.Rects().end());
  note->version = s.CrossImage1.drawings.Version();
}

// The note describes the overlay as it is, drawn with the look it noted.
bool NoteHolds(const StateRecord& s) {
  const OverlayNote* note = s.OverlayHistory.get();
  if (note == nullptr || s.CrossImage1.drawings.Empty() ||
      s.CrossImage1.drawings.Version() != note->version)
    return false;
  if (note->size != ImageSize(s)) return false;
  return note->crossSize == s.CrossSize && note->passiveColor == s.PassiveColor &&
         SameShape(note->font, s.IndexFont);
}

// The union of many rectangles. Adding them one by one costs the size of
// the region each time; joining halves keeps a long edge's thousands of
// pieces cheap.
QRegion RegionOf(const std::vector<QRect>& rects) {
  std::vector<QRegion> parts(rects.begin(), rects.end());
  if (parts.empty()) return {};
  for (size_t step = 1; step < parts.size(); step *= 2)
    for (size_t i = 0; i + step < parts.size(); i += 2 * step)
      parts[i] = parts[i].united(parts[i + step]);
  return parts.front();
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
Area ChangedArea(const StateRecord& s) {
  const OverlayNote& note = *s.OverlayHistory;
  Area area(note.size, s.CrossSize, &s.IndexFont);
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

// Keeps a drawing on the overlay. White on a blank overlay changes nothing:
// it stays blank (no drawings). Returns whether the drawing was kept.
bool AppendToOverlay(StateRecord& s, Shape shape, const LabelGlyphs* glyphs) {
  ShapeList& drawings = s.CrossImage1.drawings;
  if (shape.colour == kWhite && drawings.Empty()) return false;
  shape.bounds = ShapeBounds(shape, glyphs, ImageSize(s));
  if (shape.bounds.isEmpty()) return false;
  drawings.Add(shape);
  return true;
}

// The same, noting the pixels it touched (area(Area&) adds them). A blank
// overlay is what a full redraw of no regions leaves: a full redraw of any
// regions differs from it only where their markers and edges are, which the
// next partial redraw takes as changed.
template <class AddArea>
void AddToOverlay(StateRecord& s, const Shape& shape, const FontParams* font, AddArea&& area) {
  const bool blank = s.CrossImage1.drawings.Empty();
  const uint64_t before = s.CrossImage1.drawings.Version();
  const LabelGlyphs* glyphs = font != nullptr ? GlyphsOf(*font, shape.label) : nullptr;
  if (!AppendToOverlay(s, shape, glyphs)) return;
  if (blank) NoteRedraw(s, {});
  if (s.OverlayHistory == nullptr) return;
  Area drawn(ImageSize(s), s.CrossSize, font);
  area(drawn);
  NoteDrawing(s, blank ? s.OverlayHistory->version : before, drawn);
}

Shape CrossShape(Color color, int32_t x, int32_t y, int32_t cross) {
  Shape shape;
  shape.kind = Shape::Kind::Cross;
  shape.colour = color;
  shape.x0 = x;
  shape.y0 = y;
  shape.size = cross;
  return shape;
}

Shape LineShape(Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  Shape shape;
  shape.kind = Shape::Kind::Line;
  shape.colour = color;
  shape.x0 = x0;
  shape.y0 = y0;
  shape.x1 = x1;
  shape.y1 = y1;
  return shape;
}

// Keeps a drawing on the picture layer; nothing is drawn before an image is
// open.
void AddToPicture(StateRecord& s, Shape shape) {
  const PictureSource* picture = s.Image1.picture.get();
  if (picture == nullptr) return;
  shape.bounds = ShapeBounds(shape, nullptr, QSize(picture->Width(), picture->Height()));
  s.Image1.drawings.Add(shape);
}

// The marker as a shape: its cross and, unless label is -1, its label in
// IndexFont, whose colour becomes the marker's.
Shape OverlayMarker(StateRecord& s, Color color, int32_t x, int32_t y, int32_t label) {
  Shape shape = CrossShape(color, x, y, s.CrossSize);
  if (label != -1) {
    s.IndexFont.Color = color;  // the font keeps the last marker's colour
    shape.label = label;
    shape.font = s.CrossImage1.FontIndex(s.IndexFont);
  }
  return shape;
}

}  // namespace

std::optional<QRect> LabelCell(const StateRecord& s, int32_t x, int32_t y, int32_t label) {
  const LabelGlyphs* glyphs = GlyphsOf(s.IndexFont, label);
  if (glyphs == nullptr) return std::nullopt;
  return LabelCellAt(*glyphs, s.CrossSize, x, y, s.ImageWidth, s.ImageHeight);
}

std::optional<QRegion> OverlayDrawnSinceRedraw(const StateRecord& s) {
  if (!NoteHolds(s)) return std::nullopt;
  return RegionOf(s.OverlayHistory->drawnSince);
}

QRegion MarkerArea(const StateRecord& s, int32_t x, int32_t y, int32_t label) {
  Area area(ImageSize(s), s.CrossSize, label != -1 ? &s.IndexFont : nullptr);
  area.AddMarker(x, y, label);
  return RegionOf(area.Rects());
}

void DrawOverlayMarker(StateRecord& s, Color color, int32_t x, int32_t y, int32_t label) {
  const Shape shape = OverlayMarker(s, color, x, y, label);
  AddToOverlay(s, shape, label != -1 ? &s.IndexFont : nullptr,
               [&](Area& drawn) { drawn.AddMarker(x, y, label); });
}

void DrawPictureMarker(StateRecord& s, Color color, int32_t x, int32_t y) {
  AddToPicture(s, CrossShape(color, x, y, s.CrossSize));
}

void OverlayLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  AddToOverlay(s, LineShape(color, x0, y0, x1, y1), nullptr,
               [&](Area& drawn) { drawn.AddLine(x0, y0, x1, y1); });
}

void PictureLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  AddToPicture(s, LineShape(color, x0, y0, x1, y1));
}

void PictureGridLine(StateRecord& s, Color color, bool rows, double slope, double offset) {
  Shape shape;
  shape.kind = rows ? Shape::Kind::GridRow : Shape::Kind::GridColumn;
  shape.colour = color;
  shape.slope = slope;
  shape.offset = offset;
  AddToPicture(s, shape);
}

void RedrawOverlay(StateRecord& s) {
  s.ClearOverlay();
  for (const auto& region : s.Regions) {
    const int32_t n = region->Count();
    for (int32_t j = 0; j < n; ++j) {
      const QPoint c = CornerPixel(*region, j);
      const QPoint next = CornerPixel(*region, (j + 1) % n);
      const Shape marker = OverlayMarker(s, s.PassiveColor, c.x(), c.y(), j + 1);
      AppendToOverlay(s, marker, GlyphsOf(s.IndexFont, j + 1));
      // The outline is always closed, also while the region is being built.
      AppendToOverlay(s, LineShape(s.PassiveColor, c.x(), c.y(), next.x(), next.y()), nullptr);
    }
  }
  NoteFullRedraw(s);
}

// Redrawing is cheap (a shape a marker and an edge); what the note saves is
// the repaint of the whole view.
std::optional<QRegion> RedrawOverlayChanges(StateRecord& s) {
  if (!NoteHolds(s)) return std::nullopt;
  const Area changed = ChangedArea(s);
  RedrawOverlay(s);
  return RegionOf(changed.Rects());
}

}  // namespace qova
