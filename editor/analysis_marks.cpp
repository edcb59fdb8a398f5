#include "editor/analysis_marks.h"

#include <algorithm>
#include <cmath>

#include "core/procedures.h"
#include "editor/shape_pixels.h"

namespace qova {

namespace {

// Pixels between a label's glyphs and the marker's arms.
constexpr int kLabelGap = 3;
// An outlier's arrow keeps its direction but stops at this many cells.
constexpr double kLongestOutlierCells = 3;
// The arrow head: its strokes turned this far from the shaft, a share of
// the arrow's length within these bounds, px.
constexpr double kHeadAngle = 25 * 3.14159265358979323846 / 180;
constexpr double kHeadShare = 0.3, kHeadMin = 3, kHeadMax = 10;

QSize ImageSize(const StateRecord& s) {
  return {std::max(0, s.ImageWidth), std::max(0, s.ImageHeight)};
}

bool HasResidual(const PointMark& p) { return std::isfinite(p.dx) && std::isfinite(p.dy); }

// A point's marker: where the run drew it. Points far outside the image
// (which a run does not give) are left without marks.
std::optional<QPoint> MarkerAt(const PointMark& p) {
  if (!(std::fabs(p.x) < 1e9 && std::fabs(p.y) < 1e9)) return std::nullopt;
  return QPoint(RoundNearest(p.x), RoundNearest(p.y));
}

void AddMark(StateRecord& s, Shape shape, const LabelGlyphs* glyphs) {
  shape.bounds = ShapeBounds(shape, glyphs, ImageSize(s));
  s.CrossImage1.marks.Add(shape);
}

void AddLine(StateRecord& s, Color colour, QPoint from, QPoint to) {
  Shape line;
  line.kind = Shape::Kind::Line;
  line.colour = colour;
  line.x0 = from.x();
  line.y0 = from.y();
  line.x1 = to.x();
  line.y1 = to.y();
  AddMark(s, line, nullptr);
}

QPoint Rounded(double x, double y) { return {RoundNearest(x), RoundNearest(y)}; }

// The shaft from the tip back to the marker (the marker's own pixel is
// not drawn: a line leaves out its end), and two strokes from the tip.
void AddArrow(StateRecord& s, Color colour, QPoint from, double dx, double dy) {
  const double length = std::hypot(dx, dy);
  if (!(length >= 1)) return;
  const double tipX = from.x() + dx, tipY = from.y() + dy;
  const QPoint tip = Rounded(tipX, tipY);
  AddLine(s, colour, tip, from);
  const double head = std::clamp(kHeadShare * length, kHeadMin, kHeadMax);
  if (length < 2 * kHeadMin) return;
  const double back = std::atan2(-dy, -dx);
  for (const double turn : {kHeadAngle, -kHeadAngle})
    AddLine(s, colour, tip,
            Rounded(tipX + head * std::cos(back + turn), tipY + head * std::sin(back + turn)));
}

}  // namespace

double ArrowScale(const std::vector<PointMark>& points, double cellPixels) {
  double largest = 0;
  for (const PointMark& p : points)
    if (HasResidual(p) && !p.outlier) largest = std::max(largest, std::hypot(p.dx, p.dy));
  if (!(largest > 0) || !(cellPixels > 0) || !std::isfinite(cellPixels)) return 0;
  return 2 * cellPixels / largest;
}

namespace {

// Where the index text goes, with its glyphs.
std::optional<QPoint> CornerWith(const LabelGlyphs* glyphs, const PointMark& point) {
  const std::optional<QPoint> at = MarkerAt(point);
  if (!at || !point.indexed || glyphs == nullptr) return std::nullopt;
  // Away from the arrow: left of the marker when it points right, above
  // when it points down.
  const bool left = HasResidual(point) && point.dx > 0;
  const bool up = HasResidual(point) && point.dy > 0;
  const QRect& ink = glyphs->glyphs;
  const int x = left ? at->x() - kLabelGap - ink.right() : at->x() + kLabelGap - ink.left();
  const int y = up ? at->y() - kLabelGap - ink.bottom() : at->y() + kLabelGap - ink.top();
  return QPoint(x, y);
}

}  // namespace

std::optional<QPoint> IndexCellCorner(const StateRecord& s, const PointMark& point) {
  if (!point.indexed) return std::nullopt;
  return CornerWith(GlyphsOfText(s.IndexFont, CellIndexText(point.column, point.row)), point);
}

void DrawAnalysisMarks(StateRecord& s, const std::vector<PointMark>& points,
                       const MarkOptions& options) {
  s.CrossImage1.ClearMarks();
  if (options.residuals) {
    const double scale = ArrowScale(points, options.cellPixels);
    const double longest = kLongestOutlierCells * options.cellPixels;
    for (const PointMark& p : points) {
      const std::optional<QPoint> at = MarkerAt(p);
      if (!at || !HasResidual(p) || !(scale > 0)) continue;
      double dx = p.dx * scale, dy = p.dy * scale;
      const double length = std::hypot(dx, dy);
      if (length > longest) dx *= longest / length, dy *= longest / length;
      AddArrow(s, p.outlier ? s.ActiveColor : s.PassiveColor, *at, dx, dy);
    }
  }
  if (options.indices) {
    const uint32_t font = s.CrossImage1.MarkFontIndex(s.IndexFont);
    for (const PointMark& p : points) {
      if (!p.indexed) continue;
      const LabelGlyphs* glyphs = GlyphsOfText(s.IndexFont, CellIndexText(p.column, p.row));
      const std::optional<QPoint> corner = CornerWith(glyphs, p);
      if (!corner) continue;
      Shape label;
      label.kind = Shape::Kind::CellIndex;
      label.colour = p.outlier ? s.ActiveColor : s.PassiveColor;
      label.x0 = corner->x();
      label.y0 = corner->y();
      label.x1 = p.column;
      label.y1 = p.row;
      label.font = font;
      AddMark(s, label, glyphs);
    }
  }
}

}  // namespace qova
