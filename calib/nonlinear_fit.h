#pragma once
// The non-linear families (projective, radial): a start from the direct
// linear transform, then Levenberg–Marquardt on the weighted geometric
// residuals Σ w_i |F(ũ_i; θ) − x̃_i|², with analytic Jacobians.

#include <Eigen/Core>
#include <vector>

#include "calib/model.h"

namespace qova::calib {

struct NonlinearSolution {
  Eigen::VectorXd params;
  Eigen::MatrixXd covariance;  // s² (JᵀWJ)⁻¹; empty when JᵀWJ is singular
  double variance = 0;         // s² = Σ w |r|² / (2n − P)
  bool converged = false;
  int iterations = 0;
};

// The homography (h0..h7, h8 = 1) by the direct linear transform on the
// normalised points: the null vector of the stacked equations
// (ũ, ṽ, 1, 0, 0, 0, −x̃ũ, −x̃ṽ, −x̃) and (0, 0, 0, ũ, ṽ, 1, −ỹũ, −ỹṽ, −ỹ),
// taken as the eigenvector of AᵀA with the smallest eigenvalue.
Eigen::VectorXd ProjectiveByDlt(const std::vector<Vec2>& un, const std::vector<Vec2>& xn);

// How closely Levenberg–Marquardt converges: the relative fall of the cost
// below which an accepted step ends it. 1e-12 leaves the parameters to about
// a millionth of their standard errors; the fits whose results only feed the
// next reweighting or a cross-validation residual can stop sooner.
inline constexpr double kStrict = 1e-12, kLoose = 1e-7;

// The projective model from `start` (8 values; the DLT when empty).
NonlinearSolution FitProjective(const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                                const std::vector<double>& w, const Eigen::VectorXd& start,
                                double tolerance = kStrict);

// The radial model from `start` (13 values, or 15 with setup.centreFitted;
// when empty, the projective fit with k = p = 0 and the centre of setup).
NonlinearSolution FitRadial(const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                            const std::vector<double>& w, const RadialSetup& setup,
                            const Eigen::VectorXd& start, double tolerance = kStrict);

}  // namespace qova::calib
