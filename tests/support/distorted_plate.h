#pragma once
// A plate image seen through a known distortion (synth/lattice_distortion.h),
// for the tests of the undistortion: every pixel is pulled back to the plate
// by Newton's method on the exact forward map, and each line's ink is laid
// across its mapped centre line in image pixels with the renderer's own line
// profile, so the truth of every crossing is the forward map of (c, r).
// (synth/ will render distorted plates itself; this stays test scaffolding.)

#include <QImage>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "synth/lattice_distortion.h"
#include "synth/line_profile.h"

namespace qova::testing {

struct DistortedPlateLook {
  double lineWidth = 2.5;  // px
  double blur = 0.7;       // σ of the optics, px
  int background = 220, ink = 40;
};

// Plate (c, r) of an image point, from a start near it; the Jacobian
// ∂(x, y)/∂(c, r) there in j. False when Newton's method does not converge.
inline bool PullBack(const LatticeDistortion& d, double x, double y, double& c, double& r,
                     double j[4]) {
  for (int step = 0; step < 30; ++step) {
    const SynthXY p = d.ToImage(c, r);
    const double h = 1e-4;
    const SynthXY cu = d.ToImage(c + h, r), cd = d.ToImage(c - h, r);
    const SynthXY ru = d.ToImage(c, r + h), rd = d.ToImage(c, r - h);
    j[0] = (cu.x - cd.x) / (2 * h), j[2] = (cu.y - cd.y) / (2 * h);
    j[1] = (ru.x - rd.x) / (2 * h), j[3] = (ru.y - rd.y) / (2 * h);
    const double det = j[0] * j[3] - j[1] * j[2];
    const double fx = p.x - x, fy = p.y - y;
    const double dc = (j[3] * fx - j[1] * fy) / det, dr = (-j[2] * fx + j[0] * fy) / det;
    c -= dc, r -= dr;
    if (!std::isfinite(c) || !std::isfinite(r)) return false;
    if (std::fabs(dc) < 1e-11 && std::fabs(dr) < 1e-11) return true;
  }
  return false;
}

// The share of a pixel covered by the nearest line of one family: g the
// family's coordinate (c or r) at the pixel, (gx, gy) its gradient in the image.
inline double LineCoverage(const LineProfile& profile, double g, double gx, double gy) {
  const double norm = std::sqrt(gx * gx + gy * gy);
  const double d = (g - std::floor(g + 0.5)) / norm;  // px from the line's centre
  if (std::fabs(d) >= profile.Reach() + 2) return 0;
  return profile.Coverage(d, std::fabs(gx) / norm, std::fabs(gy) / norm);
}

// The plate through d, grey, as the window holds images (RGB32).
inline QImage RenderDistortedPlate(const LatticeDistortion& d,
                                   const DistortedPlateLook& look = {}) {
  const LineProfile profile(look.lineWidth, look.blur, 0, 0);
  QImage image(d.width, d.height, QImage::Format_RGB32);
  const double depth = look.background - look.ink;
  for (int y = 0; y < d.height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    const SynthXY start = d.ToPlate(0, y);
    double c = start.x, r = start.y, j[4];
    for (int x = 0; x < d.width; ++x) {
      if (!PullBack(d, x, y, c, r, j)) throw std::runtime_error("the distortion does not invert");
      // ∇c and ∇r: the rows of J⁻¹.
      const double det = j[0] * j[3] - j[1] * j[2];
      const double cx = j[3] / det, cy = -j[1] / det, rx = -j[2] / det, ry = j[0] / det;
      const double share =
          1 - (1 - LineCoverage(profile, c, cx, cy)) * (1 - LineCoverage(profile, r, rx, ry));
      const int level = static_cast<int>(
          std::clamp(std::floor(look.background - depth * share + 0.5), 0.0, 255.0));
      row[x] = qRgb(level, level, level);
    }
  }
  return image;
}

}  // namespace qova::testing
