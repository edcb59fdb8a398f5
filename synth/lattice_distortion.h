#pragma once
// Where the crossings of a plate land in an image that distorts it, with
// the truth of the whole mapping (not only at the crossings): the ideal
// lattice (pitch, rotation, shear), then a perspective, a radial distortion
// about any point, a polynomial warp and a scanner's periodic stepping, each
// zero by default. Plain C++: the point generator of the calibration tests
// uses it, and an image renderer can pull each pixel back through ToPlate.

#include <array>
#include <vector>

namespace qova {

struct SynthXY {
  double x = 0, y = 0;
};

// The steps, applied in this order to the plate crossing (c, r), c the column
// and r the row, with C the image centre and R its half-diagonal:
//   ideal  p0 = origin + c·pitchX·(cos θ, sin θ) + r·pitchY·(−sin(θ + s), cos(θ + s));
//   tilt   e = (p0 − C)/R, p1 = C + R·e/(1 − tiltX·ex − tiltY·ey);
//   radial q = (p1 − c_r)/R, p2 = c_r + R·q·(1 + k1|q|² + k2|q|⁴), c_r = C + radialOffset;
//   warp   e = (p2 − C)/R, p3 = p2 + Σ_t (warpX[t], warpY[t])·m_t(e), the monomials
//          m = (ex², ex·ey, ey², ex³, ex²·ey, ex·ey², ey³), coefficients in pixels;
//   step   y = p3y + stepAmplitude·sin(2π·p3y/stepPeriod), x = p3x.
struct LatticeDistortion {
  int width = 2000, height = 1500;      // the image, px
  double originX = 100, originY = 100;  // the ideal image of crossing (0, 0), px
  double pitchX = 50, pitchY = 50;      // ideal px from column to column, row to row
  double angleDeg = 0;                  // rotation θ of the lattice, clockwise on screen (y down)
  double shearDeg = 0;                  // s: the row axis turned further (non-orthogonality)
  double tiltX = 0, tiltY = 0;          // perspective, |tiltX| + |tiltY| well below 1
  double k1 = 0, k2 = 0;                // radial distortion, in units of R
  double radialOffsetX = 0, radialOffsetY = 0;  // its centre from the image centre, px
  std::array<double, 7> warpX{}, warpY{};       // the polynomial warp, px
  double stepAmplitude = 0, stepPeriod = 400;   // the scanner's stepping, px, px

  // (c, r) → image px; fractional c, r give points between crossings.
  SynthXY ToImage(double c, double r) const;
  // Image px → (c, r): Newton's method from the ideal lattice's inverse; NaN
  // when it does not converge (far outside the image for strong distortions).
  SynthXY ToPlate(double x, double y) const;
  // The same from a start near the answer (a neighbouring pixel's, say),
  // which saves most of the steps.
  SynthXY ToPlate(double x, double y, SynthXY start) const;
};

// ToImage for many points: what every point shares (the axes' directions,
// the image centre and half-diagonal) computed once. The same numbers as
// LatticeDistortion::ToImage, bit for bit.
class PreparedLattice {
 public:
  explicit PreparedLattice(const LatticeDistortion& d);
  SynthXY ToImage(double c, double r) const;
  const LatticeDistortion& distortion() const { return d_; }

 private:
  LatticeDistortion d_;
  double cosA_, sinA_, cosB_, sinB_, cx_, cy_, R_;
};

// A set of crossings as a detection might report them, with the truth.
struct LatticePlateParams {
  LatticeDistortion distortion;
  int firstColumn = 0, firstRow = 0;  // the crossings (c, r) generated:
  int columns = 40, rows = 30;        // firstColumn .. + columns − 1, likewise rows
  double noise = 0;                   // σ of the Gaussian noise added to x and y, px
  double missing = 0;                 // the fraction of crossings dropped at random
  int dust = 0;             // spurious points among them, each ≥ 0.35 cells from any crossing
  double duplicates = 0;    // the fraction of crossings reported twice, within 0.5 px
  bool insideImage = true;  // only crossings inside the image
  unsigned seed = 1;
};

struct LatticePoint {
  double x = 0, y = 0;          // as reported, px
  double trueX = 0, trueY = 0;  // without the noise, px
  bool dust = false;            // spurious: no crossing
  bool duplicate = false;       // the second report of a crossing
  int column = 0, row = 0;      // the truth (crossings only)
};

// Crossings column by column, each top to bottom, then the dust. The same
// settings give the same points on every machine (own generator and normals).
std::vector<LatticePoint> MakeLatticePoints(const LatticePlateParams& setup);

}  // namespace qova
