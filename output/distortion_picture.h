#pragma once
// The distortion window's picture, in image coordinates: the image's frame,
// the regions, the crossings with their residuals as arrows (with a scale
// bar in µm) or the model's nonlinearity as a colour map with contour lines
// (and a colour bar in µm), the outliers marked. What it shows is made once
// from a calibration (MakeDistortionPicture, off the interface thread); the
// painting takes any painter and size, so the window, PNG, SVG and PDF all
// draw the same picture.

#include <QPainter>
#include <QPointF>
#include <QRectF>
#include <array>
#include <string>
#include <vector>

#include "calib/calibrate.h"

namespace qova {

enum class PictureKind { Residuals, Nonlinearity };  // "Отклонения", "Нелинейность"

struct DistortionPicture {
  int imageWidth = 0, imageHeight = 0;          // px
  std::vector<std::array<QPointF, 4>> regions;  // their corners on the image
  struct Point {
    QPointF at;        // on the image, px
    QPointF residual;  // observed − model, px; NaN when the model gives none
    bool outlier = false;
  };
  std::vector<Point> points;
  double cellPixels = 0;       // a lattice cell on the image, px
  double arrowScale = 0;       // arrow px per residual px: the largest fitted one is two cells
  double micrometresPerPixel;  // on the plate at the centre; NaN when the pitch is unknown
  // The nonlinearity (the model minus the best affine map of it) on a
  // (gridU + 1) × (gridV + 1) lattice of plate points over the crossings'
  // extent, node (i, j) at i·(gridV + 1) + j: its image and its magnitude,
  // in µm on the plate (px when the pitch is unknown).
  int gridU = 0, gridV = 0;
  std::vector<QPointF> nodes;
  std::vector<double> deviation;
  bool micrometres = false;  // deviation in µm (else px)
  double largestDeviation = 0;
};

// The picture of a calibration; points are the calibrated points on the
// image, in the calibration's order.
DistortionPicture MakeDistortionPicture(const calib::Calibration& calibration,
                                        const std::vector<calib::Vec2>& points);

// A round step for scale bars and contour levels: 1, 2 or 5 times a power
// of ten, the largest not above value (value > 0).
double RoundStep(double value);

// A short number for legends: at most three significant digits, no
// trailing zeros, sep as the decimal separator.
std::string LegendNumber(double value, char sep);

// Paints the picture into target: the image fitted inside with its aspect,
// the legend beside it.
void PaintDistortionPicture(QPainter& painter, const QRectF& target, const DistortionPicture& p,
                            PictureKind kind, char decimalSeparator);

}  // namespace qova
