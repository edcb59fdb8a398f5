#include "synth/line_profile.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace qova {
namespace {

constexpr double kPi = std::numbers::pi;

// The standard normal distribution Φ, its density φ, and the antiderivatives
// Ψ1 = zΦ + φ (Ψ1' = Φ) and Ψ2 = ((z² + 1)Φ + zφ)/2 (Ψ2' = Ψ1).
double Phi(double z) { return 0.5 * std::erfc(-z / std::numbers::sqrt2); }
double PhiDensity(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2 * kPi); }
double Psi1(double z) { return z * Phi(z) + PhiDensity(z); }
double Psi2(double z) { return 0.5 * ((z * z + 1) * Phi(z) + z * PhiDensity(z)); }

// The semicircle distribution on [-1, 1] (a uniform disk seen edge on): its
// distribution function C0 and the antiderivatives C1, C2 from -1.
double SemicircleC0(double z) {
  if (z <= -1) return 0;
  if (z >= 1) return 1;
  return 0.5 + (z * std::sqrt(1 - z * z) + std::asin(z)) / kPi;
}
double SemicircleC1(double z) {
  if (z <= -1) return 0;
  if (z >= 1) return z;
  const double r = std::sqrt(1 - z * z);
  return (z + 1) / 2 + (-r * r * r / 3 + z * std::asin(z) + r - kPi / 2) / kPi;
}
// ∫ C1 in closed form, from the antiderivatives of (1 − t²)^{3/2}, t·asin t,
// √(1 − t²) and the constants of C1.
double SemicircleG(double t) {
  const double r = std::sqrt(std::max(0.0, 1 - t * t));
  const double as = std::asin(std::clamp(t, -1.0, 1.0));
  const double powerThreeHalves = t * r * r * r / 4 + 3.0 / 8 * (t * r + as);
  const double tAsin = (2 * t * t - 1) / 4 * as + t * r / 4;
  const double root = (t * r + as) / 2;
  return (t + 1) * (t + 1) / 4 + (-powerThreeHalves / 3 + tAsin + root - kPi * t / 2) / kPi;
}
double SemicircleC2(double z) {
  if (z <= -1) return 0;
  static const double atOne = SemicircleG(1) - SemicircleG(-1);
  if (z >= 1) return atOne + (z * z - 1) / 2;
  return SemicircleG(z) - SemicircleG(-1);
}

}  // namespace

LineProfile::LineProfile(double width, double blur, double defocus, double skew, double halo,
                         double haloWidth)
    : halfWidth_(width / 2), blur_(blur), defocus_(defocus) {
  if (!(width >= 0) || !(blur >= 0) || !(defocus >= 0) || !(skew >= 0 && skew < 1))
    throw std::invalid_argument("LineProfile: width, blur, defocus >= 0 and skew in 0..<1");
  if (!(halo >= 0 && halo < 1) || !(haloWidth >= 0 && haloWidth <= 100) ||
      (halo > 0 && !(haloWidth > 0)))
    throw std::invalid_argument("LineProfile: halo in 0..<1 with a width in 0..100");
  const int shapes = (blur > 0) + (defocus > 0) + (skew > 0) + (halo > 0);
  if (shapes > 1)
    throw std::invalid_argument("blur, defocus, skew and halo cannot be combined: choose one");
  if (halo > 0) {
    // The halo ends where it falls below 1e-5 of the ink, far under a grey
    // level.
    kind_ = Kind::Halo;
    halo_ = halo, haloWidth_ = haloWidth;
    reach_ = halfWidth_ + haloWidth * std::log(halo * 1e5);
  } else if (blur > 0) {
    kind_ = Kind::BlurredBox;
    reach_ = halfWidth_ + 8 * blur;  // Φ(−8) is below 1e-15
  } else if (defocus > 0) {
    kind_ = Kind::Disk;
    reach_ = halfWidth_ + defocus;
  } else {
    // Density c0 + c1·s on [−w/2, w/2], 1 at the left edge and 1 − skew at
    // the right; its centroid −skew·w/(12 − 6·skew) is moved onto the centre.
    kind_ = skew > 0 ? Kind::Skewed : Kind::Box;
    c1_ = width > 0 ? -skew / width : 0.0;
    c0_ = 1 - skew / 2;
    shift_ = -skew * width / (12 - 6 * skew);
    reach_ = halfWidth_ + std::fabs(shift_);
  }
}

double LineProfile::Q(double d) const {
  switch (kind_) {
    case Kind::BlurredBox:
      return Phi((d + halfWidth_) / blur_) - Phi((d - halfWidth_) / blur_);
    case Kind::Disk:
      return SemicircleC0((d + halfWidth_) / defocus_) - SemicircleC0((d - halfWidth_) / defocus_);
    case Kind::Box:
    case Kind::Skewed: {
      const double s = d + shift_;
      return s < -halfWidth_ || s > halfWidth_ ? 0.0 : c0_ + c1_ * s;
    }
    case Kind::Halo: {
      const double s = d + shift_;
      if (s < -halfWidth_) return 0;
      if (s <= halfWidth_) return 1;
      return halo_ * std::exp(-(s - halfWidth_) / haloWidth_);
    }
  }
  return 0;
}

double LineProfile::K1(double d) const {
  switch (kind_) {
    case Kind::BlurredBox:
      return blur_ * (Psi1((d + halfWidth_) / blur_) - Psi1((d - halfWidth_) / blur_));
    case Kind::Disk:
      return defocus_ * (SemicircleC1((d + halfWidth_) / defocus_) -
                         SemicircleC1((d - halfWidth_) / defocus_));
    case Kind::Box:
    case Kind::Skewed: {
      const double l = -halfWidth_;
      const double s = std::clamp(d + shift_, l, halfWidth_);
      return c0_ * (s - l) + c1_ * (s * s - l * l) / 2;
    }
    case Kind::Halo: {
      // ∫Q: the core's s + w/2, then w + h·R·(1 − e^(−u/R)), u = s − w/2.
      const double s = d + shift_, w = 2 * halfWidth_;
      if (s <= -halfWidth_) return 0;
      if (s <= halfWidth_) return s + halfWidth_;
      return w - halo_ * haloWidth_ * std::expm1(-(s - halfWidth_) / haloWidth_);
    }
  }
  return 0;
}

double LineProfile::K2(double d) const {
  switch (kind_) {
    case Kind::BlurredBox:
      return blur_ * blur_ * (Psi2((d + halfWidth_) / blur_) - Psi2((d - halfWidth_) / blur_));
    case Kind::Disk:
      return defocus_ * defocus_ *
             (SemicircleC2((d + halfWidth_) / defocus_) -
              SemicircleC2((d - halfWidth_) / defocus_));
    case Kind::Box:
    case Kind::Skewed: {
      const double l = -halfWidth_, r = halfWidth_;
      const double s = d + shift_;
      if (s <= l) return 0;
      auto inside = [&](double t) {
        return c0_ * (t - l) * (t - l) / 2 +
               c1_ * ((t * t * t - l * l * l) / 6 - l * l * (t - l) / 2);
      };
      if (s <= r) return inside(s);
      return inside(r) + K1(r - shift_) * (s - r);
    }
    case Kind::Halo: {
      // ∫K1: (s + w/2)²/2 in the core, then w²/2 + w·u + h·R·(u − R·(1 − e^(−u/R))).
      const double s = d + shift_, w = 2 * halfWidth_;
      if (s <= -halfWidth_) return 0;
      if (s <= halfWidth_) return (s + halfWidth_) * (s + halfWidth_) / 2;
      const double u = s - halfWidth_;
      return w * w / 2 + w * u +
             halo_ * haloWidth_ * (u + haloWidth_ * std::expm1(-u / haloWidth_));
    }
  }
  return 0;
}

double LineProfile::Coverage(double d, double a, double b) const {
  if (a < b) std::swap(a, b);
  if (std::fabs(d) >= reach_ + (a + b) / 2) return 0;
  double share;
  if (a < 1e-9) {
    share = Q(d);
  } else if (b < 1e-4) {
    // A footprint this thin differs from the box of width a by O(b²).
    share = (K1(d + a / 2) - K1(d - a / 2)) / a;
  } else {
    const double h = a / 2, k = b / 2;
    share = (K2(d + h + k) - K2(d + h - k) - K2(d - h + k) + K2(d - h - k)) / (a * b);
  }
  return std::clamp(share, 0.0, 1.0);
}

}  // namespace qova
