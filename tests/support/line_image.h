#pragma once
// Small rendered images for the model tests of the precise stage: straight
// dark lines on bright paper, each a box of width w blurred by a Gaussian σ
// and integrated over the pixel across the line in closed form, optionally
// with seeded Gaussian noise, rounded to whole grey levels. Near-vertical
// lines x = x0 + slopeV·y and near-horizontal lines y = y0 + slopeH·x; where
// two cross, the inks combine as 1 − (1 − a)(1 − b). Exact for lines along
// the pixel axes; for tilted ones the footprint across the line is taken as
// one pixel (error of the order of the slope's square).

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace qova::testing {

// The share of a pixel at distance d from the line's centre covered by a
// box of width w blurred by σ (σ = 0: the sharp box).
inline double LineCoverage(double d, double w, double sigma) {
  auto ramp = [&](double x) {  // ∫ of the blurred step's edge: Ψ scaled by σ
    if (sigma <= 0) return x > 0 ? x : 0.0;
    const double z = x / sigma;
    const double phi = 0.5 * std::erfc(-z / std::numbers::sqrt2);
    return sigma * (z * phi + std::exp(-0.5 * z * z) / std::sqrt(2 * std::numbers::pi));
  };
  return ramp(d + 0.5 + w / 2) - ramp(d + 0.5 - w / 2) - ramp(d - 0.5 + w / 2) +
         ramp(d - 0.5 - w / 2);
}

struct LineImageSpec {
  int width = 200, height = 200;
  std::vector<double> columns;  // x0 of each near-vertical line (at y = 0)
  std::vector<double> rows;     // y0 of each near-horizontal line (at x = 0)
  double slopeV = 0;            // dx/dy of the near-vertical lines
  double slopeH = 0;            // dy/dx of the near-horizontal lines
  double lineWidth = 2, blur = 0.8;
  double paper = 225, ink = 35;  // grey levels
  double noise = 0;              // σ of the Gaussian noise, grey levels
  uint32_t seed = 1;
};

inline QImage RenderLineImage(const LineImageSpec& spec) {
  QImage image(spec.width, spec.height, QImage::Format_RGB32);
  std::mt19937 random(spec.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double reach = spec.lineWidth / 2 + 6 * spec.blur + 1;
  for (int y = 0; y < spec.height; ++y) {
    for (int x = 0; x < spec.width; ++x) {
      double clear = 1;  // the share of paper left
      for (double x0 : spec.columns) {
        const double d = (x - (x0 + spec.slopeV * y)) / std::sqrt(1 + spec.slopeV * spec.slopeV);
        if (std::fabs(d) < reach) clear *= 1 - LineCoverage(d, spec.lineWidth, spec.blur);
      }
      for (double y0 : spec.rows) {
        const double d = (y - (y0 + spec.slopeH * x)) / std::sqrt(1 + spec.slopeH * spec.slopeH);
        if (std::fabs(d) < reach) clear *= 1 - LineCoverage(d, spec.lineWidth, spec.blur);
      }
      double v = spec.ink + (spec.paper - spec.ink) * clear;
      if (spec.noise > 0) v += spec.noise * gauss(random);
      const int g = static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0)));
      image.setPixel(x, y, qRgb(g, g, g));
    }
  }
  return image;
}

}  // namespace qova::testing
