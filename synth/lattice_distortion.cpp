#include "synth/lattice_distortion.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

namespace qova {
namespace {

constexpr double kDegree = std::numbers::pi / 180;

// A small generator of its own (SplitMix64), so that the points do not depend
// on the standard library's distributions.
class Random {
 public:
  // The seed is mixed first: seeds one apart must not start one step apart
  // on the same sequence (their points would share their noise, shifted).
  explicit Random(unsigned seed) : state_(Mix(0xD1B54A32D192ED03ull ^ seed)) {}
  uint64_t Next() { return Mix(state_ += 0x9E3779B97F4A7C15ull); }
  static uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Standard normal (Box–Muller).
  double Normal() {
    const double u = 1 - Uniform(), v = Uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * std::numbers::pi * v);
  }

 private:
  uint64_t state_;
};

}  // namespace

PreparedLattice::PreparedLattice(const LatticeDistortion& d) : d_(d) {
  const double a = d.angleDeg * kDegree, b = (d.angleDeg + d.shearDeg) * kDegree;
  cosA_ = std::cos(a), sinA_ = std::sin(a), cosB_ = std::cos(b), sinB_ = std::sin(b);
  cx_ = d.width / 2.0, cy_ = d.height / 2.0;
  R_ =
      std::sqrt(static_cast<double>(d.width) * d.width + static_cast<double>(d.height) * d.height) /
      2;
}

SynthXY PreparedLattice::ToImage(double c, double r) const {
  const LatticeDistortion& d = d_;
  double x = d.originX + c * d.pitchX * cosA_ - r * d.pitchY * sinB_;
  double y = d.originY + c * d.pitchX * sinA_ + r * d.pitchY * cosB_;
  const double cx = cx_, cy = cy_, R = R_;
  if (d.tiltX != 0 || d.tiltY != 0) {
    const double ex = (x - cx) / R, ey = (y - cy) / R;
    const double t = 1 - d.tiltX * ex - d.tiltY * ey;
    x = cx + R * ex / t, y = cy + R * ey / t;
  }
  if (d.k1 != 0 || d.k2 != 0) {
    const double rx = cx + d.radialOffsetX, ry = cy + d.radialOffsetY;
    const double qx = (x - rx) / R, qy = (y - ry) / R;
    const double q2 = qx * qx + qy * qy;
    const double s = 1 + d.k1 * q2 + d.k2 * q2 * q2;
    x = rx + R * qx * s, y = ry + R * qy * s;
  }
  const double ex = (x - cx) / R, ey = (y - cy) / R;
  const double m[7] = {ex * ex,      ex * ey,      ey * ey,     ex * ex * ex,
                       ex * ex * ey, ex * ey * ey, ey * ey * ey};
  double dx = 0, dy = 0;
  for (int t = 0; t < 7; ++t)
    dx += d.warpX[static_cast<size_t>(t)] * m[t], dy += d.warpY[static_cast<size_t>(t)] * m[t];
  x += dx, y += dy;
  if (d.stepAmplitude != 0)
    y += d.stepAmplitude * std::sin(2 * std::numbers::pi * y / d.stepPeriod);
  return {x, y};
}

SynthXY LatticeDistortion::ToImage(double c, double r) const {
  return PreparedLattice(*this).ToImage(c, r);
}

SynthXY LatticeDistortion::ToPlate(double x, double y) const {
  // The ideal lattice's inverse: solve the 2 × 2 system of its axes.
  const double a = angleDeg * kDegree, b = (angleDeg + shearDeg) * kDegree;
  const double m00 = pitchX * std::cos(a), m01 = -pitchY * std::sin(b);
  const double m10 = pitchX * std::sin(a), m11 = pitchY * std::cos(b);
  const double det = m00 * m11 - m01 * m10;
  const double c = (m11 * (x - originX) - m01 * (y - originY)) / det;
  const double r = (-m10 * (x - originX) + m00 * (y - originY)) / det;
  return ToPlate(x, y, {c, r});
}

SynthXY LatticeDistortion::ToPlate(double x, double y, SynthXY start) const {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const PreparedLattice prepared(*this);
  auto ToImage = [&](double c, double r) { return prepared.ToImage(c, r); };
  double c = start.x, r = start.y;
  // Newton's method on ToImage(c, r) = (x, y), the Jacobian by central
  // differences of a thousandth of a cell.
  for (int step = 0; step < 50; ++step) {
    const SynthXY p = ToImage(c, r);
    const double fx = p.x - x, fy = p.y - y;
    const double h = 1e-3;
    const SynthXY cu = ToImage(c + h, r), cd = ToImage(c - h, r);
    const SynthXY ru = ToImage(c, r + h), rd = ToImage(c, r - h);
    const double j00 = (cu.x - cd.x) / (2 * h), j10 = (cu.y - cd.y) / (2 * h);
    const double j01 = (ru.x - rd.x) / (2 * h), j11 = (ru.y - rd.y) / (2 * h);
    const double d = j00 * j11 - j01 * j10;
    if (!(std::fabs(d) > 0)) return {nan, nan};
    const double dc = (j11 * fx - j01 * fy) / d, dr = (-j10 * fx + j00 * fy) / d;
    c -= dc, r -= dr;
    if (!std::isfinite(c) || !std::isfinite(r)) return {nan, nan};
    if (std::fabs(dc) < 1e-13 && std::fabs(dr) < 1e-13) return {c, r};
  }
  return {nan, nan};
}

std::vector<LatticePoint> MakeLatticePoints(const LatticePlateParams& setup) {
  Random random(setup.seed);
  const LatticeDistortion& d = setup.distortion;
  auto inside = [&](const SynthXY& p) {
    return !setup.insideImage ||
           (p.x >= 0 && p.y >= 0 && p.x <= d.width - 1 && p.y <= d.height - 1);
  };
  std::vector<LatticePoint> points;
  for (int c = setup.firstColumn; c < setup.firstColumn + setup.columns; ++c)
    for (int r = setup.firstRow; r < setup.firstRow + setup.rows; ++r) {
      const SynthXY p = d.ToImage(c, r);
      // Every draw is made for every crossing, so that one setting does not
      // change the noise of the others.
      const double drop = random.Uniform(), twice = random.Uniform();
      const double nx = random.Normal(), ny = random.Normal();
      const double jx = random.Normal(), jy = random.Normal();
      if (!inside(p) || drop < setup.missing) continue;
      LatticePoint q;
      q.trueX = p.x, q.trueY = p.y;
      q.x = p.x + setup.noise * nx, q.y = p.y + setup.noise * ny;
      q.column = c, q.row = r;
      points.push_back(q);
      if (twice < setup.duplicates) {
        q.x = p.x + 0.2 * jx, q.y = p.y + 0.2 * jy;
        q.duplicate = true;
        points.push_back(q);
      }
    }
  for (int k = 0, tries = 0; k < setup.dust && tries < 1000 * (setup.dust + 1); ++tries) {
    const double c = setup.firstColumn - 0.5 + setup.columns * random.Uniform();
    const double r = setup.firstRow - 0.5 + setup.rows * random.Uniform();
    const double dc = c - std::round(c), dr = r - std::round(r);
    if (dc * dc + dr * dr < 0.35 * 0.35) continue;
    const SynthXY p = d.ToImage(c, r);
    if (!inside(p)) continue;
    LatticePoint q;
    q.x = q.trueX = p.x, q.y = q.trueY = p.y;
    q.dust = true;
    points.push_back(q);
    ++k;
  }
  return points;
}

}  // namespace qova
