#pragma once
// The linear families (affine, polyN): weighted least squares of x̃ and ỹ on
// the Legendre terms of the normalised plate point, with the covariance of
// the coefficients and the hat matrix's diagonal (for leave-one-out).

#include <Eigen/Core>
#include <vector>

#include "calib/model.h"

namespace qova::calib {

struct LinearSolution {
  Eigen::VectorXd params;      // the x coefficients, then the y coefficients
  Eigen::MatrixXd covariance;  // s² blockdiag(M⁻¹, M⁻¹), M = AᵀWA
  Eigen::VectorXd hat;         // h_ii = w_i a_iᵀ M⁻¹ a_i
};

// Normal equations M = AᵀWA, inverted through the eigenvalues of M scaled to
// a unit diagonal; a ratio of the smallest to the largest below 1e-13 means
// the points do not determine the terms (CalibError NotDetermined).
// Coefficient covariance s² M⁻¹ for each coordinate, s² = Σ w |r|² / (2n − 2p).
// complete = false: the coefficients alone (the robust loop's reweighted
// fits), without the covariance and the hat matrix.
LinearSolution FitLegendre(int degree, const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                           const std::vector<double>& w, bool complete = true);

// The Legendre terms of total degree ≤ N of each point, a row a point: the
// design of the fit before its weights.
using LegendreDesign = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
LegendreDesign LegendreDesignOf(int degree, const std::vector<Vec2>& un);

// The buffers of a fit on a design's rows, kept by a caller that fits the
// same points again (the robust loop), so that its reweighted fits allocate
// nothing.
struct LinearWorkspace {
  Eigen::MatrixXd Aw, Yw;
  // The last fit: its design (which must not change while a workspace fits
  // on it), points, weights and rows kept, the number of rows, M, AᵀW x̃, M⁻¹
  // and the coefficients. A fit whose weights differ from the last one's at a
  // few rows (the robust loop's next, where Huber's weights change only
  // beyond k robust σ) updates M and AᵀW x̃ by those rows alone; the robust
  // loop's final fit takes the rows and weights of its last reweighted fit
  // again, and sums M afresh (or reuses the last solution when it was).
  const LegendreDesign* terms = nullptr;
  std::vector<Vec2> xn;
  std::vector<double> w;
  std::vector<bool> keep;
  Eigen::Index rows = 0;
  bool filled = false;  // Aw and Yw hold the rows fitted, M was summed from them
  Eigen::MatrixXd M, AtWx, Minv, coef;
  int updates = 0;  // fits made by updating the last one's normal equations
};

// FitLegendre on the rows of a design computed once (the robust loop's fits
// take the same points, reweighted): the same numbers, without evaluating
// the terms again. keep: the rows fitted (null: all), so that a left-out
// crossing costs no copy of the design; xn and w hold every row. The same
// design, rows and weights as the workspace's last fit give its solution
// again without solving; a fit for the coefficients alone whose weights
// differ at fewer than a quarter of the rows updates the last fit's normal
// equations (the same solution to rounding).
LinearSolution FitLegendre(int degree, const LegendreDesign& terms, const std::vector<Vec2>& xn,
                           const std::vector<double>& w, const std::vector<bool>* keep,
                           LinearWorkspace& work, bool complete = true);

// The inverse of a symmetric positive semi-definite matrix through the
// eigenvalues of its unit-diagonal scaling; false when the ratio of the
// smallest eigenvalue to the largest is below `ratio`.
bool InvertSymmetric(const Eigen::MatrixXd& M, double ratio, Eigen::MatrixXd& inverse);

}  // namespace qova::calib
