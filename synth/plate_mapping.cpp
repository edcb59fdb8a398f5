#include "synth/plate_mapping.h"

#include <cmath>

namespace qova {

PlateMapping::PlateMapping(int width, int height, double tiltX, double tiltY, double barrel)
    : centre_(width / 2.0, height / 2.0),
      radius_(std::sqrt(static_cast<double>(width) * width + static_cast<double>(height) * height) /
              2),
      tiltX_(tiltX),
      tiltY_(tiltY),
      barrel_(barrel) {}

QPointF PlateMapping::Ideal(QPointF p) const {
  if (IsIdentity()) return p;
  // Undo the barrel: p -> p1.
  QPointF d = (p - centre_) / radius_;
  d *= 1 + barrel_ * (d.x() * d.x() + d.y() * d.y());
  // Undo the tilt: e = d / (1 + t·d).
  const double w = 1 + tiltX_ * d.x() + tiltY_ * d.y();
  return centre_ + d / w * radius_;
}

QPointF PlateMapping::Image(QPointF q) const {
  if (IsIdentity()) return q;
  const QPointF e = (q - centre_) / radius_;
  const QPointF d1 = e / (1 - tiltX_ * e.x() - tiltY_ * e.y());
  // ρ(1 + k1ρ²) = ρ1 along the same direction; Newton from ρ = ρ1 converges
  // in a few steps for the distortions the renderer accepts.
  const double rho1 = std::sqrt(d1.x() * d1.x() + d1.y() * d1.y());
  if (rho1 == 0 || barrel_ == 0) return centre_ + d1 * radius_;
  double rho = rho1;
  for (int i = 0; i < 60; ++i) {
    const double f = rho + barrel_ * rho * rho * rho - rho1;
    const double step = f / (1 + 3 * barrel_ * rho * rho);
    rho -= step;
    if (std::fabs(step) <= 1e-17) break;
  }
  return centre_ + d1 * (rho / rho1 * radius_);
}

}  // namespace qova
