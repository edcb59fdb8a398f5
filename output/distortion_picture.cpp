#include "output/distortion_picture.h"

#include <Eigen/Dense>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace qova {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The nonlinearity's lattice: cells along each plate axis.
constexpr int kFieldCells = 40;
// The best affine map is fitted to the model on this many points a side of
// the plate's extent, as the report's figures are.
constexpr int kAffineSamples = 21;
// An outlier's arrow keeps its direction but stops at this many cells.
constexpr double kLongestOutlierCells = 3;

const QColor kFrame(120, 120, 120);
const QColor kRegion(40, 90, 200);
const QColor kPoint(90, 90, 90);
const QColor kArrow(20, 20, 20);
const QColor kOutlier(220, 30, 30);
const QColor kContour(255, 255, 255, 200);

bool Finite(const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

// A perceptual map from dark blue through green to yellow, t in [0, 1].
QColor MapColour(double t) {
  static const int anchors[][3] = {
      {68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
  t = std::clamp(std::isfinite(t) ? t : 0.0, 0.0, 1.0) * 4;
  const int k = std::min(3, static_cast<int>(t));
  const double f = t - k;
  auto mix = [&](int c) {
    return static_cast<int>(std::lround(anchors[k][c] + f * (anchors[k + 1][c] - anchors[k][c])));
  };
  return QColor(mix(0), mix(1), mix(2));
}

// Where the image lies in the target: fitted with its aspect, the legend's
// strip on the right kept free.
struct Placement {
  QRectF image;  // the image's rectangle in the target
  double scale = 1;
  QRectF legend;
  QPointF Map(const QPointF& xy) const { return image.topLeft() + xy * scale; }
};

Placement Place(const QRectF& target, int width, int height, double legendWidth) {
  Placement p;
  const QRectF room = target.adjusted(8, 8, -8 - legendWidth, -8);
  const double w = std::max(1, width), h = std::max(1, height);
  p.scale = std::max(1e-9, std::min(room.width() / w, room.height() / h));
  p.image = QRectF(room.topLeft(), QSizeF(w * p.scale, h * p.scale));
  p.legend = QRectF(p.image.right() + 12, room.top(), legendWidth - 4, room.height());
  return p;
}

// The point of a field cell at (s, t) ∈ [0, 1]² between its four nodes.
QPointF Between(const QPointF& a, const QPointF& b, const QPointF& c, const QPointF& d, double s,
                double t) {
  // a = (i, j), b = (i + 1, j), c = (i + 1, j + 1), d = (i, j + 1).
  return (1 - s) * (1 - t) * a + s * (1 - t) * b + s * t * c + (1 - s) * t * d;
}

void PaintFrameAndRegions(QPainter& painter, const Placement& at, const DistortionPicture& p) {
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kFrame, 1));
  painter.drawRect(at.image);
  painter.setPen(QPen(kRegion, 1.2));
  for (const auto& region : p.regions) {
    QPolygonF outline;
    for (const QPointF& c : region) outline << at.Map(c);
    painter.drawPolygon(outline);
  }
}

void PaintOutliers(QPainter& painter, const Placement& at, const DistortionPicture& p) {
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kOutlier, 1.5));
  for (const DistortionPicture::Point& q : p.points)
    if (q.outlier && Finite(q.at)) painter.drawEllipse(at.Map(q.at), 5, 5);
}

void PaintArrow(QPainter& painter, const QPointF& from, const QPointF& to) {
  painter.drawLine(from, to);
  const QPointF d = to - from;
  const double length = std::hypot(d.x(), d.y());
  if (length < 4) return;
  const double head = std::clamp(0.3 * length, 3.0, 8.0);
  const double back = std::atan2(-d.y(), -d.x());
  for (const double turn : {0.45, -0.45})
    painter.drawLine(to, to + head * QPointF(std::cos(back + turn), std::sin(back + turn)));
}

void PaintResiduals(QPainter& painter, const Placement& at, const DistortionPicture& p, char sep) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(kPoint);
  for (const DistortionPicture::Point& q : p.points)
    if (Finite(q.at)) painter.drawEllipse(at.Map(q.at), 1.3, 1.3);
  const double longest = kLongestOutlierCells * p.cellPixels;
  for (const DistortionPicture::Point& q : p.points) {
    if (!Finite(q.at) || !Finite(q.residual) || !(p.arrowScale > 0)) continue;
    QPointF d = q.residual * p.arrowScale;  // image px
    const double length = std::hypot(d.x(), d.y());
    if (length > longest) d *= longest / length;
    painter.setPen(QPen(q.outlier ? kOutlier : kArrow, 1));
    PaintArrow(painter, at.Map(q.at), at.Map(q.at + d));
  }
  PaintOutliers(painter, at, p);
  // The scale bar: a round residual drawn about 60 px long (or as much as
  // the legend's strip holds), its value below it.
  if (!(p.arrowScale > 0)) return;
  const bool um = std::isfinite(p.micrometresPerPixel);
  const double perUnit =
      (um ? p.arrowScale / p.micrometresPerPixel : p.arrowScale) * at.scale;  // picture px
  const double room = std::min(60.0, at.legend.width() - 8);
  const double value = RoundStep(room / perUnit);
  const double length = value * perUnit;
  const QFontMetricsF metrics(painter.font());
  painter.setPen(Qt::black);
  painter.drawText(QPointF(at.legend.left(), at.legend.top() + metrics.ascent()), "Отклонения");
  const QPointF start(at.legend.left() + 2, at.legend.top() + metrics.height() * 2);
  painter.setPen(QPen(Qt::black, 1.5));
  painter.drawLine(start, start + QPointF(length, 0));
  painter.drawLine(start + QPointF(0, -4), start + QPointF(0, 4));
  painter.drawLine(start + QPointF(length, -4), start + QPointF(length, 4));
  const QString label = QString::fromStdString(LegendNumber(value, sep)) + (um ? " мкм" : " пикс.");
  painter.drawText(QPointF(at.legend.left(), start.y() + 6 + metrics.ascent()), label);
}

// The contour segments of one level in one field cell, by marching squares.
void ContourCell(QPainter& painter, const QPointF n[4], const double v[4], double level) {
  // Corners in order a (0,0), b (1,0), c (1,1), d (0,1); edges between them.
  static const double corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  QPointF crossings[4];
  int count = 0;
  for (int e = 0; e < 4; ++e) {
    const double v0 = v[e], v1 = v[(e + 1) % 4];
    if ((v0 < level) == (v1 < level)) continue;
    const double f = (level - v0) / (v1 - v0);
    const double s = corner[e][0] + f * (corner[(e + 1) % 4][0] - corner[e][0]);
    const double t = corner[e][1] + f * (corner[(e + 1) % 4][1] - corner[e][1]);
    crossings[count++] = Between(n[0], n[1], n[2], n[3], s, t);
  }
  if (count >= 2) painter.drawLine(crossings[0], crossings[1]);
  if (count == 4) painter.drawLine(crossings[2], crossings[3]);
}

void PaintNonlinearity(QPainter& painter, const Placement& at, const DistortionPicture& p,
                       char sep) {
  const double top = p.largestDeviation > 0 ? p.largestDeviation : 1;
  const int rows = p.gridV + 1;
  auto node = [&](int i, int j) { return static_cast<size_t>(i * rows + j); };
  const double step = RoundStep(top / 5);
  for (int i = 0; i < p.gridU; ++i)
    for (int j = 0; j < p.gridV; ++j) {
      const size_t k[4] = {node(i, j), node(i + 1, j), node(i + 1, j + 1), node(i, j + 1)};
      QPointF n[4];
      double v[4], mean = 0;
      bool finite = true;
      for (int c = 0; c < 4; ++c) {
        n[c] = at.Map(p.nodes[k[c]]);
        v[c] = p.deviation[k[c]];
        finite = finite && Finite(n[c]) && std::isfinite(v[c]);
        mean += v[c] / 4;
      }
      if (!finite) continue;
      QPolygonF cell;
      for (const QPointF& c : n) cell << c;
      const QColor colour = MapColour(mean / top);
      painter.setPen(QPen(colour, 0.8));  // no hairline gaps between cells
      painter.setBrush(colour);
      painter.drawPolygon(cell);
      painter.setPen(QPen(kContour, 1));
      for (double level = step; level < top; level += step) ContourCell(painter, n, v, level);
    }
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  for (const DistortionPicture::Point& q : p.points)
    if (Finite(q.at)) painter.drawEllipse(at.Map(q.at), 0.9, 0.9);
  PaintOutliers(painter, at, p);

  // The colour bar with the contour levels.
  const QFontMetricsF metrics(painter.font());
  const QString unit = p.micrometres ? "мкм" : "пикс.";
  painter.setPen(Qt::black);
  painter.drawText(QPointF(at.legend.left(), at.legend.top() + metrics.ascent()),
                   "Нелинейность, " + unit);
  const QRectF bar(at.legend.left(), at.legend.top() + metrics.height() * 1.5, 16,
                   std::max(20.0, at.legend.height() - metrics.height() * 2.5));
  for (int y = 0; y < static_cast<int>(bar.height()); ++y) {
    const double t = 1 - y / bar.height();
    painter.fillRect(QRectF(bar.left(), bar.top() + y, bar.width(), 1.0), MapColour(t));
  }
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(bar);
  for (double level = 0; level <= top * (1 + 1e-9); level += step) {
    const double y = bar.bottom() - level / top * bar.height();
    painter.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 4, y));
    painter.drawText(QPointF(bar.right() + 6, y + metrics.ascent() / 2 - 1),
                     QString::fromStdString(LegendNumber(level, sep)));
  }
}

// The best affine map of the model over the plate's extent, in px: the
// least squares of its values on a grid, as the report's nonlinearity takes
// it.
Eigen::Matrix<double, 3, 2> BestAffine(const calib::Model& model) {
  const calib::PlateNormalisation& plate = model.data().plate;
  Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
  Eigen::Matrix<double, 3, 2> right = Eigen::Matrix<double, 3, 2>::Zero();
  for (int i = 0; i < kAffineSamples; ++i)
    for (int j = 0; j < kAffineSamples; ++j) {
      const calib::Vec2 n(-1 + 2.0 * i / (kAffineSamples - 1), -1 + 2.0 * j / (kAffineSamples - 1));
      const Eigen::Vector3d a(1, n.x(), n.y());
      normal += a * a.transpose();
      right += a * model.ToImage(plate.Undo(n)).transpose();
    }
  return normal.inverse() * right;
}

}  // namespace

double RoundStep(double value) {
  if (!(value > 0) || !std::isfinite(value)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  const double m = value / power;
  return (m >= 5 ? 5 : m >= 2 ? 2 : 1) * power;
}

std::string LegendNumber(double value, char sep) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3g", value);
  std::string s(text);
  std::replace(s.begin(), s.end(), '.', sep);
  return s;
}

DistortionPicture MakeDistortionPicture(const calib::Calibration& c,
                                        const std::vector<calib::Vec2>& points) {
  DistortionPicture p;
  const calib::Model& model = c.model;
  const calib::ModelData& d = model.data();
  const calib::CalibReport& r = c.report;
  p.imageWidth = r.imageWidth;
  p.imageHeight = r.imageHeight;
  for (const auto& region : d.regions) {
    std::array<QPointF, 4> corners;
    for (size_t k = 0; k < 4; ++k) corners[k] = QPointF(region[k].x(), region[k].y());
    p.regions.push_back(corners);
  }
  double largest = 0;
  for (size_t i = 0; i < c.points.size() && i < points.size(); ++i) {
    const calib::PointCalibration& q = c.points[i];
    DistortionPicture::Point shown;
    shown.at = QPointF(points[i].x(), points[i].y());
    shown.residual = QPointF(q.residual.x(), q.residual.y());
    shown.outlier = q.outlier;
    if (Finite(shown.residual) && !q.outlier)
      largest = std::max(largest, std::hypot(q.residual.x(), q.residual.y()));
    p.points.push_back(shown);
  }
  p.cellPixels =
      (r.scale.scaleU.value * d.pitch.UnitX() + r.scale.scaleV.value * d.pitch.UnitY()) / 2;
  if (!std::isfinite(p.cellPixels)) p.cellPixels = 0;
  p.arrowScale = largest > 0 && p.cellPixels > 0 ? 2 * p.cellPixels / largest : 0;
  p.micrometresPerPixel =
      d.pitch.Known() ? (r.scale.pixelSizeU.value + r.scale.pixelSizeV.value) / 2 : kNaN;

  // The nonlinearity field over the crossings' extent on the plate.
  p.gridU = p.gridV = kFieldCells;
  p.micrometres = d.pitch.Known();
  const Eigen::Matrix<double, 3, 2> affine = BestAffine(model);
  for (int i = 0; i <= p.gridU; ++i)
    for (int j = 0; j <= p.gridV; ++j) {
      const calib::Vec2 n(-1 + 2.0 * i / p.gridU, -1 + 2.0 * j / p.gridV);
      const calib::Vec2 uv = d.plate.Undo(n);
      const calib::Vec2 xy = model.ToImage(uv);
      // (F − A)(u, v), px; on the plate through the inverse Jacobian, µm.
      const calib::Vec2 dev = xy - affine.transpose() * Eigen::Vector3d(1, n.x(), n.y());
      double value = dev.norm();
      if (p.micrometres) value = 1000 * (model.Jacobian(uv).inverse() * dev).norm();
      p.nodes.emplace_back(xy.x(), xy.y());
      p.deviation.push_back(std::isfinite(value) ? value : kNaN);
      if (std::isfinite(value)) p.largestDeviation = std::max(p.largestDeviation, value);
    }
  return p;
}

void PaintDistortionPicture(QPainter& painter, const QRectF& target, const DistortionPicture& p,
                            PictureKind kind, char sep) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.fillRect(target, Qt::white);
  const QFontMetricsF metrics(painter.font());
  const double legendWidth = std::max(90.0, metrics.horizontalAdvance("Нелинейность, пикс.") + 8);
  const Placement at = Place(target, p.imageWidth, p.imageHeight, legendWidth);
  painter.setClipRect(target);
  if (kind == PictureKind::Nonlinearity) {
    PaintNonlinearity(painter, at, p, sep);
    PaintFrameAndRegions(painter, at, p);
  } else {
    PaintFrameAndRegions(painter, at, p);
    PaintResiduals(painter, at, p, sep);
  }
  painter.restore();
}

}  // namespace qova
