#pragma once
// The smoothing spline (penalised B-splines, after Eilers and Marx): cubic
// B-splines on uniform knots over the plate's normalised extent, a second-
// order difference penalty along each axis, λ chosen by generalised cross-
// validation, the normal equations solved by a band Cholesky (the basis is
// local, so the system is sparse, and banded in the coefficients' natural
// order), the hat matrix from the band of the inverse.
//
//   minimise Σ w_i |x̃_i − Σ a_kl B_k(ũ_i) B_l(ṽ_i)|² + λ w̄ (‖D_u a‖² + ‖D_v a‖²)
//   GCV(λ) = n · RSS / (n − tr S)²,   S the hat matrix of one coordinate
//
// λ is relative to the mean weight w̄, so the choice does not depend on the
// units of σ.

#include <Eigen/Core>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "calib/band_cholesky.h"
#include "calib/model.h"

namespace qova::calib {

// The precision matrix M = BᵀWB + λ w̄ P of a fitted spline, factorised, with
// the residual variance s²: quadratic forms of its covariance s² M⁻¹.
class SplineFactor {
 public:
  // order[a]: where coefficient a sits in the factorised matrix.
  SplineFactor(BandCholesky factor, std::vector<int> order, double variance);
  // s² gᵀ M⁻¹ g for a gradient over one coordinate's coefficients.
  double Quadratic(const Eigen::VectorXd& g) const;

 private:
  BandCholesky factor_;
  std::vector<int> order_;
  double variance_;
};

// The knots for a lattice of cellsU × cellsV cells and n points: every h
// cells, h the finest whole number that leaves no more coefficients than
// points, (Ku + 3)(Kv + 3) ≤ n with K = max(1, round(cells / h)).
SplineGrid ChooseSplineGrid(int cellsU, int cellsV, int points);

struct SplineSolution {
  Eigen::VectorXd params;  // the x coefficients, then the y coefficients
  ParamCovariance covariance;
  SplineGrid grid;            // with λ and tr S filled in
  double lambdaExponent = 0;  // λ = 10^exponent
  Eigen::VectorXd hat;        // the hat matrix's diagonal, per point
};

// How λ is found.
enum class LambdaSearch {
  Whole,    // a golden-section search over the exponents of the whole range, in fine steps
  Bracket,  // the same over every other step: the minimum to within one fine step either
            // way, in fewer trials (a start for Walk)
  Walk,     // from a given exponent downhill in fine steps to the nearest minimum of GCV
  Fixed,    // the given λ, and only the coefficients (no hat, no covariance): the robust
            // loop's reweighted fits, which move λ little
};

// Settings of the λ search.
struct SplineSearch {
  double lowest = -8, highest = 3;  // exponents of λ searched, 10^lowest .. 10^highest
  double step = 0.5;                // the grid of exponents
  int threads = 1;  // trials computed side by side on up to this many threads (the result is
                    // the same on any number)
};

// Each point's place on a grid's basis: the first of its 16 coefficients,
// c = k·(Kv + 3) + l, and the products B_k(ũ) B_l(ṽ) of the 4 × 4 from it
// (entry 4·k + l). They depend on the points and the knots alone, so a
// robust loop computes them once for all its fits and residuals.
struct SplineBasis {
  int knotsU = 0, knotsV = 0;
  std::vector<int> first;
  std::vector<std::array<double, 16>> value;
  size_t Points() const { return first.size(); }
};
SplineBasis SplineBasisOf(const SplineGrid& grid, const std::vector<Vec2>& un);

// The spline of coefficients `params` (the x's, then the y's) at every point
// of `basis`, summed in the order the model's evaluation sums them: the same
// bits as evaluating the model at each point.
std::vector<Vec2> SplineValues(const Eigen::VectorXd& params, const SplineBasis& basis);

// Storage that a robust loop's spline fits hand on to each other: a trial
// holds megabytes, and fresh pages cost more to fault in than the
// arithmetic done on them. Not to be shared by fits running side by side.
class SplineWorkspace {
 public:
  SplineWorkspace();
  ~SplineWorkspace();
  SplineWorkspace(const SplineWorkspace&) = delete;
  SplineWorkspace& operator=(const SplineWorkspace&) = delete;
  struct Storage;
  Storage& Store() { return *store_; }

 private:
  std::unique_ptr<Storage> store_;
};

// The spline of `grid`'s knots fitted to normalised points with weights w:
// the points of `basis` (on `grid`'s knots) that `keep` marks (null: all),
// xn and w given for all of them.
// Only λ with tr S ≤ n/2 are taken (GCV falls towards 0 as the fit comes to
// interpolate, so without this guard it would pick the smallest λ). GCV is
// taken to have one minimum over the range: tr S falls as λ grows, so a λ
// that fails the guard means the minimum lies above it. Throws CalibError
// (NotDetermined) when no λ qualifies.
SplineSolution FitSpline(SplineGrid grid, const SplineBasis& basis, const std::vector<bool>* keep,
                         const std::vector<Vec2>& xn, const std::vector<double>& w,
                         LambdaSearch mode, double exponent, const SplineSearch& search,
                         SplineWorkspace& work);

}  // namespace qova::calib
