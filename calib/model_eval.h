#pragma once
// The families of model.h evaluated at one point in normalised coordinates,
// with their derivatives: by the plate point (for the inverse and the local
// scale) and by the parameters (for the fits and the standard errors).

#include <Eigen/Core>

#include "calib/model.h"

namespace qova::calib::detail {

// ---- Legendre terms ------------------------------------------------------

// Terms of total degree ≤ N: (N + 1)(N + 2)/2.
constexpr int PolyTerms(int degree) { return (degree + 1) * (degree + 2) / 2; }

// P_i(u) P_j(v) for every term of total degree ≤ N in the order of model.h
// (by total degree d, then i from d down to 0), and the derivatives by u and
// by v (du, dv may be null). Each array holds PolyTerms(degree) values.
void LegendreTerms(int degree, double u, double v, double* value, double* du, double* dv);

// ---- Cubic B-splines -----------------------------------------------------

// The four cubic B-splines non-zero at t on [-1, 1] cut into K equal
// intervals: functions first .. first + 3 of the K + 3. Outside [-1, 1] the
// end interval's cubics go on (no clamping), so the model extrapolates smoothly.
struct SplineSpan {
  int first = 0;
  double b[4] = {0, 0, 0, 0};
  double db[4] = {0, 0, 0, 0};  // d/dt
};
SplineSpan BSplineSpan(int intervals, double t);

// ---- Projective and radial -----------------------------------------------

struct ProjectivePoint {
  Vec2 x;
  Eigen::Matrix<double, 2, 8> dh;  // ∂x̃/∂h0..h7
  Eigen::Matrix2d dn;              // ∂x̃/∂(ũ, ṽ)
};
// x̃ = (h0 ũ + h1 ṽ + h2, h3 ũ + h4 ṽ + h5) / (h6 ũ + h7 ṽ + 1).
ProjectivePoint EvalProjective(const double* h, const Vec2& n);
// The value alone.
Vec2 ProjectiveValue(const double* h, const Vec2& n);

struct RadialPoint {
  Vec2 x;
  Eigen::Matrix<double, 2, 15> dp;  // ∂x̃/∂(h0..h7, k1, k2, k3, p1, p2, c̃x, c̃y)
  Eigen::Matrix2d dn;               // ∂x̃/∂(ũ, ṽ)
};
// The radial model with the parameters h0..h7, k1..k3, p1, p2 and the centre
// c̃ (params[13], params[14] when fitted, else setup.centre).
RadialPoint EvalRadial(const double* params, const RadialSetup& setup, const Vec2& n);
// The value alone.
Vec2 RadialValue(const double* params, const RadialSetup& setup, const Vec2& n);

// The value and ∂x̃/∂θ alone, as the fits ask for them at every crossing:
// EvalProjective's and EvalRadial's numbers, bit for bit, without ∂x̃/∂ñ and
// the products with the Jacobian's zeros. jacobian: 2 × 8 (projective), 2 × P
// (radial, P = 13 or 15: the centre's columns when it is fitted), stored by
// column as Eigen stores a fixed 2 × P matrix.
void ProjectiveGradient(const double* h, const Vec2& n, Vec2& value, double* jacobian);
void RadialGradient(const double* params, const RadialSetup& setup, const Vec2& n, int P,
                    Vec2& value, double* jacobian);
// RadialGradient at `count` points, eight side by side in vector registers
// (its divisions are most of its time), to the same bits: point k's
// jacobian at jacobian + 2·P·k.
void RadialGradients(const double* params, const RadialSetup& setup, const Vec2* n, int count,
                     int P, Vec2* value, double* jacobian);

// ---- Any family ----------------------------------------------------------

// x̃ at ñ.
Vec2 Evaluate(const ModelData& m, const Vec2& n);
// ∂x̃/∂ñ.
Eigen::Matrix2d JacobianN(const ModelData& m, const Vec2& n);
// ∂x̃/∂θ as a dense 2 × P matrix.
Eigen::MatrixXd ParamGradientN(const ModelData& m, const Vec2& n);

}  // namespace qova::calib::detail
