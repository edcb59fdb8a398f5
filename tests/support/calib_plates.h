#pragma once
// Point plates with known distortion for the calibration's tests and
// benchmark: the crossings of synth/lattice_distortion.h with noise as
// the precise stage leaves it (σ ≈ 0.004 px), and the truth of the mapping.

#include <functional>
#include <string>
#include <vector>

#include "calib/calibrate.h"
#include "calib/fit.h"
#include "synth/lattice_distortion.h"

namespace qova::calib::test {

constexpr double kNoise = 0.004;  // px

// The standard plates: 2000 × 1500 px, 40 × 30 crossings 45 px apart, each
// with one kind of distortion (or, `rotated`, none but a turn).
inline LatticePlateParams StandardPlate(const std::string& kind, unsigned seed = 1) {
  LatticePlateParams setup;
  LatticeDistortion& d = setup.distortion;
  d.width = 2000, d.height = 1500;
  d.originX = 122, d.originY = 97;
  d.pitchX = d.pitchY = 45;
  d.angleDeg = 0.7;
  setup.columns = 40, setup.rows = 30;
  setup.noise = kNoise;
  setup.seed = seed;
  if (kind == "perspective") {
    d.tiltX = 0.06, d.tiltY = -0.04;
  } else if (kind == "radial") {
    d.tiltX = 0.03, d.tiltY = 0.02;
    d.k1 = -0.012, d.k2 = 0.004;
  } else if (kind == "radial-off-centre") {
    d.k1 = -0.012, d.k2 = 0.004;
    d.radialOffsetX = 150, d.radialOffsetY = -90;
  } else if (kind == "warp") {
    // A scanner: no perspective, a smooth cubic warp of a few pixels.
    d.warpX = {1.2, -0.6, 0.5, 0.9, -0.4, 0.3, -0.2};
    d.warpY = {-0.5, 0.8, 0.4, -0.3, 0.6, -0.5, 0.7};
  } else if (kind == "stepping") {
    // A scanner's stepping: 0.4 px with a period of 8 cells.
    d.stepAmplitude = 0.4, d.stepPeriod = 8 * 45;
  } else if (kind == "rotated") {
    d.angleDeg = 30;
    d.originX = 700, d.originY = 40;
    setup.columns = 32, setup.rows = 26;
  }
  return setup;
}

// The fit's input from the truth's indices (the indexer is tested on its own).
inline FitData FitDataOf(const LatticePlateParams& setup, const std::vector<LatticePoint>& points,
                         const Pitch& pitch = {1, 1}) {
  FitData data;
  data.pitch = pitch;
  data.imageWidth = setup.distortion.width, data.imageHeight = setup.distortion.height;
  for (const LatticePoint& p : points) {
    if (p.dust || p.duplicate) continue;
    data.uv.emplace_back(p.column * pitch.UnitX(), p.row * pitch.UnitY());
    data.xy.emplace_back(p.x, p.y);
    data.weight.push_back(1 / (kNoise * kNoise));
    data.cell.push_back({p.column, p.row});
  }
  return data;
}

inline CalibrationInput InputOf(const LatticePlateParams& setup,
                                const std::vector<LatticePoint>& points) {
  CalibrationInput in;
  in.imageWidth = setup.distortion.width, in.imageHeight = setup.distortion.height;
  for (const LatticePoint& p : points) {
    in.points.emplace_back(p.x, p.y);
    in.sigma.emplace_back(kNoise, kNoise);
  }
  return in;
}

// The true map from the plate (u, v) to the image.
inline std::function<Vec2(const Vec2&)> TruthOf(const LatticeDistortion& d, const Pitch& pitch) {
  return [d, pitch](const Vec2& uv) {
    const SynthXY p = d.ToImage(uv.x() / pitch.UnitX(), uv.y() / pitch.UnitY());
    return Vec2(p.x, p.y);
  };
}

}  // namespace qova::calib::test
