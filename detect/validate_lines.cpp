// Pairing the border points of opposite sides into grid lines.

#include "detect/validate_lines.h"

#include <cmath>
#include <exception>
#include <vector>

#include "core/checked_math.h"
#include "core/procedures.h"
#include "detect/band.h"
#include "state/qrgb.h"

namespace qova {

namespace {

// One family of lines: every point of `near` is joined to the first free
// point of `far` whose line keeps within the angle limit of the family's last
// accepted line. lineThrough gives (slope, offset) of the line through two
// points. Returns false when going on without a partner is declined.
template <class LineThrough>
bool PairFamily(double maxAngleDeg, const std::function<bool()>& goOn, const VT_Points& nearSide,
                const VT_Points& farSide, VT_Points& lines, bool& warned, LineThrough lineThrough) {
  std::vector<bool> free(static_cast<size_t>(farSide.Count()), true);
  const double maxAngle = (maxAngleDeg * kPi) / 180;
  double previousSlope = 0;
  for (int32_t j = 0; j < nearSide.Count(); ++j) {
    const VT_Point* from = nearSide.Get(j);
    bool accepted = false;
    for (int32_t n = 0; n < farSide.Count() && !accepted; ++n) {
      const auto [slope, offset] = lineThrough(*from, *farSide.Get(n));
      // The first line of a family has nothing to be compared with.
      accepted = j == 0 || (free[static_cast<size_t>(n)] &&
                            std::fabs(std::atan(slope) - std::atan(previousSlope)) < maxAngle);
      if (accepted) {
        lines.AddNew(slope, offset);
        free[static_cast<size_t>(n)] = false;
        previousSlope = slope;
      }
    }
    if (!accepted && !warned) {
      if (!goOn()) return false;
      warned = true;
    }
  }
  return true;
}

}  // namespace

LinesOutcome ValidateLines(const BorderPoints& points, double maxAngle,
                           const std::function<bool()>& goOn, GridLines& lines) {
  try {
    lines.HorizontalLines.Clear();
    lines.VerticalLines.Clear();
    bool warned = false;
    // y = slope·x + offset through a left and a right point.
    const bool horizontalOk =
        PairFamily(maxAngle, goOn, points.SidePoints03, points.SidePoints12, lines.HorizontalLines,
                   warned, [](const VT_Point& l, const VT_Point& r) {
                     const double slope = Div(l.y - r.y, l.x - r.x);
                     return std::pair<double, double>(slope, l.y - l.x * slope);
                   });
    if (!horizontalOk) return LinesOutcome::Declined;
    // x = slope·y + offset through a bottom and a top point.
    const bool verticalOk =
        PairFamily(maxAngle, goOn, points.SidePoints23, points.SidePoints01, lines.VerticalLines,
                   warned, [](const VT_Point& b, const VT_Point& t) {
                     const double slope = Div(t.x - b.x, t.y - b.y);
                     return std::pair<double, double>(slope, t.x - t.y * slope);
                   });
    return verticalOk ? LinesOutcome::Paired : LinesOutcome::Declined;
  } catch (const std::exception&) {
    return LinesOutcome::Failed;
  }
}

namespace {

// Sets pixel (x, y) of a 32-bit picture when it lies inside; a value too far
// off to be a pixel at all is outside too.
void SetPicturePixel(QImage& picture, double x, double y, QRgb color) {
  if (!(std::fabs(x) < 2e9 && std::fabs(y) < 2e9)) return;
  const int32_t px = RoundNearest(x), py = RoundNearest(y);
  if (px < 0 || py < 0 || px >= picture.width() || py >= picture.height()) return;
  reinterpret_cast<QRgb*>(picture.scanLine(py))[px] = color;
}

}  // namespace

void DrawGridLines(QImage& picture, const GridLines& lines, Color color,
                   const std::function<void()>& repaint) {
  if (picture.isNull()) return;
  if (picture.format() != QImage::Format_RGB32 && picture.format() != QImage::Format_ARGB32)
    picture = picture.convertToFormat(QImage::Format_RGB32);
  const QRgb rgb = ToQRgb(color);
  for (int32_t k = 0; k < lines.HorizontalLines.Count(); ++k) {
    const VT_Point* line = lines.HorizontalLines.Get(k);
    for (int32_t x = 0; x < picture.width(); ++x)
      SetPicturePixel(picture, x, line->x * x + line->y, rgb);
    repaint();
  }
  for (int32_t k = 0; k < lines.VerticalLines.Count(); ++k) {
    const VT_Point* line = lines.VerticalLines.Get(k);
    for (int32_t y = 0; y < picture.height(); ++y)
      SetPicturePixel(picture, line->x * y + line->y, y, rgb);
    repaint();
  }
}

}  // namespace qova
