#pragma once
// The ink profile across one rendered line, integrated over a pixel's
// footprint. The continuous profile Q(d) (d: signed distance from the line
// centre, plate pixels) is one of
//   - a box of width w blurred by a Gaussian of σ (σ = 0: the sharp box),
//   - a box of width w seen through a uniform defocus disk of radius ρ,
//   - a box of width w whose ink density falls linearly from 1 at its left
//     (or top) edge to 1 − skew at the other, moved so that its centroid lies
//     on the line centre;
//   - a box of width w with a wide halo on its right (or lower) side, ink
//     h·exp(−u/R) at u beyond the edge (a ghost of the line, a reflection,
//     flare): a profile no box-and-blur template describes. The halo is not
//     the line: the box's centre is the line centre (a centroid that takes
//     in the halo lies beside it).
// A pixel's footprint projected across the line is the convolution of two
// boxes, of widths a = |∂d/∂x| and b = |∂d/∂y| (a trapezoid, exact for a
// locally affine map), so the covered share is Δa Δb K2(d) / (a b), where K2
// is the second antiderivative of Q and Δh f(d) = f(d + h/2) − f(d − h/2).
// Every K is in closed form: the truth stays exact (the profile's centre, its
// centroid for the skewed one, its box's centre for the halo, is the line
// centre to rounding).

namespace qova {

class LineProfile {
 public:
  // Throws std::invalid_argument for a combination it cannot render
  // (more than one of a Gaussian blur, a defocus disk, a skew and a halo).
  // halo: the halo's ink at the edge, 0..<1; haloWidth: its R, pixels.
  LineProfile(double width, double blur, double defocus, double skew, double halo = 0,
              double haloWidth = 0);

  // Share of a pixel covered by ink, 0..1, for a pixel centre at distance d
  // from the line centre whose footprint spans a × b across the line.
  double Coverage(double d, double a, double b) const;

  // Farthest distance of any ink from the line centre, footprint excluded.
  double Reach() const { return reach_; }

  // The continuous profile and its first two antiderivatives (for tests).
  double Q(double d) const;
  double K1(double d) const;
  double K2(double d) const;

 private:
  enum class Kind { Box, BlurredBox, Disk, Skewed, Halo };
  Kind kind_;
  double halfWidth_, blur_, defocus_;
  double c0_ = 1, c1_ = 0, shift_ = 0;  // skewed density c0 + c1·s, moved by shift_
  double halo_ = 0, haloWidth_ = 0;     // the halo's ink at the edge and its R
  double reach_;
};

}  // namespace qova
