#include "calib/linear_fit.h"

#include <Eigen/Eigenvalues>
#include <cmath>

#include "calib/calib_error.h"
#include "calib/model_eval.h"

namespace qova::calib {

bool InvertSymmetric(const Eigen::MatrixXd& M, double ratio, Eigen::MatrixXd& inverse) {
  const Eigen::Index p = M.rows();
  Eigen::VectorXd scale(p);
  for (Eigen::Index k = 0; k < p; ++k) {
    if (!(M(k, k) > 0)) return false;
    scale[k] = 1 / std::sqrt(M(k, k));
  }
  const Eigen::MatrixXd S = scale.asDiagonal() * M * scale.asDiagonal();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(S);
  if (eig.info() != Eigen::Success) return false;
  const Eigen::VectorXd& lambda = eig.eigenvalues();  // ascending
  if (!(lambda[0] > ratio * lambda[p - 1])) return false;
  const Eigen::MatrixXd& V = eig.eigenvectors();
  inverse = scale.asDiagonal() * (V * lambda.cwiseInverse().asDiagonal() * V.transpose()) *
            scale.asDiagonal();
  return inverse.allFinite();
}

LegendreDesign LegendreDesignOf(int degree, const std::vector<Vec2>& un) {
  LegendreDesign A(static_cast<Eigen::Index>(un.size()), detail::PolyTerms(degree));
  for (size_t i = 0; i < un.size(); ++i)
    detail::LegendreTerms(degree, un[i].x(), un[i].y(), A.row(static_cast<Eigen::Index>(i)).data(),
                          nullptr, nullptr);
  return A;
}

LinearSolution FitLegendre(int degree, const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                           const std::vector<double>& w, bool complete) {
  LinearWorkspace work;
  return FitLegendre(degree, LegendreDesignOf(degree, un), xn, w, nullptr, work, complete);
}

LinearSolution FitLegendre(int degree, const LegendreDesign& terms, const std::vector<Vec2>& xn,
                           const std::vector<double>& w, const std::vector<bool>* keep,
                           LinearWorkspace& work, bool complete) {
  const int p = detail::PolyTerms(degree);
  const bool again = work.terms == &terms && work.Aw.cols() == p && work.w == w && work.xn == xn &&
                     (keep ? work.keep == *keep : work.keep.empty());
  if (!again) {
    // The rows kept, scaled by √w, packed at the top of the buffers: Aw = W^½ A,
    // and W^½ x̃ (the products of a fit on those rows alone, in the same order).
    work.terms = nullptr;
    if (work.Aw.rows() != terms.rows() || work.Aw.cols() != p) work.Aw.resize(terms.rows(), p);
    if (work.Yw.rows() != terms.rows()) work.Yw.resize(terms.rows(), 2);
    Eigen::Index n = 0;
    for (Eigen::Index i = 0; i < terms.rows(); ++i) {
      const size_t s = static_cast<size_t>(i);
      if (keep && !(*keep)[s]) continue;
      const double root = std::sqrt(w[s]);
      for (int t = 0; t < p; ++t) work.Aw(n, t) = root * terms(i, t);
      work.Yw(n, 0) = root * xn[s].x();
      work.Yw(n, 1) = root * xn[s].y();
      ++n;
    }
    const auto Aw = work.Aw.topRows(n);
    const auto Yw = work.Yw.topRows(n);
    Eigen::MatrixXd M = Eigen::MatrixXd::Zero(p, p);
    M.selfadjointView<Eigen::Lower>().rankUpdate(Aw.transpose());
    M = M.selfadjointView<Eigen::Lower>();
    if (!InvertSymmetric(M, 1e-13, work.Minv))
      throw CalibError(CalibCause::NotDetermined,
                       "the crossings do not determine " +
                           ModelName({degree == 1 ? ModelType::Affine : ModelType::Poly, degree}) +
                           ": it needs at least " + std::to_string(degree + 1) +
                           " distinct columns and rows");
    // a = M⁻¹ AᵀW x̃ for both coordinates at once.
    work.coef = work.Minv * (Aw.transpose() * Yw);
    work.rows = n;
    work.terms = &terms;
    work.xn = xn;
    work.w = w;
    if (keep)
      work.keep = *keep;
    else
      work.keep.clear();
  }
  const Eigen::Index n = work.rows;
  const auto Aw = work.Aw.topRows(n);
  const auto Yw = work.Yw.topRows(n);
  const Eigen::MatrixXd& Minv = work.Minv;
  const Eigen::MatrixXd& coef = work.coef;
  LinearSolution s;
  s.params.resize(2 * p);
  s.params.head(p) = coef.col(0);
  s.params.tail(p) = coef.col(1);
  if (!complete) return s;
  const Eigen::MatrixXd residual = Yw - Aw * coef;
  s.hat = ((Aw * Minv).array() * Aw.array()).rowwise().sum();
  const double variance =
      residual.squaredNorm() / std::max(1.0, 2 * static_cast<double>(n) - 2.0 * p);
  s.covariance = Eigen::MatrixXd::Zero(2 * p, 2 * p);
  s.covariance.topLeftCorner(p, p) = variance * Minv;
  s.covariance.bottomRightCorner(p, p) = variance * Minv;
  return s;
}

}  // namespace qova::calib
