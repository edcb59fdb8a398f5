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
  const Eigen::Index rows = terms.rows();
  auto kept = [&](size_t i) { return !keep || (*keep)[i]; };
  // The same design and points as the last fit: its normal equations are a
  // start, and the same rows and weights are its solution. A complete fit
  // (the last of a robust loop, whose figures are reported) solves normal
  // equations summed afresh, free of the updates' rounding.
  const bool same = work.terms == &terms && work.Aw.cols() == p && work.xn == xn;
  const bool again = same && work.w == w && (keep ? work.keep == *keep : work.keep.empty()) &&
                     (!complete || work.filled);
  if (!again) {
    // Each row's weight in the fit, 0 when left out, less the last fit's.
    std::vector<Eigen::Index> changed;
    if (same && !complete) {
      for (Eigen::Index i = 0; i < rows; ++i) {
        const size_t s = static_cast<size_t>(i);
        const bool before = work.keep.empty() || work.keep[s];
        if ((kept(s) ? w[s] : 0.0) != (before ? work.w[s] : 0.0)) changed.push_back(i);
      }
    }
    const bool update = !complete && same && 4 * static_cast<Eigen::Index>(changed.size()) < rows;
    work.terms = nullptr;
    if (work.Aw.rows() != rows || work.Aw.cols() != p) work.Aw.resize(rows, p);
    if (work.Yw.rows() != rows) work.Yw.resize(rows, 2);
    Eigen::Index n = 0;
    if (update) {
      // M += Σ Δw_i a_i a_iᵀ and AᵀW x̃ += Σ Δw_i a_i x̃_iᵀ over the rows
      // changed: those gaining weight at the top of Aw, scaled by √Δw, those
      // losing it at the bottom, scaled by √−Δw.
      Eigen::Index up = 0, down = rows;
      for (const Eigen::Index i : changed) {
        const size_t s = static_cast<size_t>(i);
        const bool before = work.keep.empty() || work.keep[s];
        const double delta = (kept(s) ? w[s] : 0.0) - (before ? work.w[s] : 0.0);
        const Eigen::Index r = delta > 0 ? up++ : --down;
        const double root = std::sqrt(std::fabs(delta));
        for (int t = 0; t < p; ++t) {
          work.Aw(r, t) = root * terms(i, t);
          work.AtWx(t, 0) += delta * terms(i, t) * xn[s].x();
          work.AtWx(t, 1) += delta * terms(i, t) * xn[s].y();
        }
      }
      auto lower = work.M.selfadjointView<Eigen::Lower>();
      if (up > 0) lower.rankUpdate(work.Aw.topRows(up).transpose(), 1.0);
      if (down < rows) lower.rankUpdate(work.Aw.bottomRows(rows - down).transpose(), -1.0);
      work.M = lower;
      for (Eigen::Index i = 0; i < rows; ++i) n += kept(static_cast<size_t>(i));
      work.filled = false;
      ++work.updates;
    } else {
      // The rows kept, scaled by √w, packed at the top of the buffers: Aw =
      // W^½ A, and W^½ x̃ (the products of a fit on those rows alone, in the
      // same order).
      for (Eigen::Index i = 0; i < rows; ++i) {
        const size_t s = static_cast<size_t>(i);
        if (!kept(s)) continue;
        const double root = std::sqrt(w[s]);
        for (int t = 0; t < p; ++t) work.Aw(n, t) = root * terms(i, t);
        work.Yw(n, 0) = root * xn[s].x();
        work.Yw(n, 1) = root * xn[s].y();
        ++n;
      }
      const auto Aw = work.Aw.topRows(n);
      work.M = Eigen::MatrixXd::Zero(p, p);
      work.M.selfadjointView<Eigen::Lower>().rankUpdate(Aw.transpose());
      work.M = work.M.selfadjointView<Eigen::Lower>();
      work.AtWx = Aw.transpose() * work.Yw.topRows(n);
      work.filled = true;
    }
    if (!InvertSymmetric(work.M, 1e-13, work.Minv))
      throw CalibError(CalibCause::NotDetermined,
                       "the crossings do not determine " +
                           ModelName({degree == 1 ? ModelType::Affine : ModelType::Poly, degree}) +
                           ": it needs at least " + std::to_string(degree + 1) +
                           " distinct columns and rows");
    // a = M⁻¹ AᵀW x̃ for both coordinates at once.
    work.coef = work.Minv * work.AtWx;
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
