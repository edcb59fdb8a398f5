#include "calib/band_cholesky.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

namespace qova::calib {
namespace {

using Strided = Eigen::Map<Eigen::MatrixXd, 0, Eigen::OuterStride<>>;
using ConstStrided = Eigen::Map<const Eigen::MatrixXd, 0, Eigen::OuterStride<>>;

}  // namespace

BandCholesky::BandCholesky(int size, int bandwidth)
    : n_(size),
      b_(std::max(1, bandwidth)),
      // One column more than the matrix, so that the last columns' rows
      // beyond it stay inside the storage.
      a_(static_cast<size_t>(size + 1) * static_cast<size_t>(b_ + 1), 0.0) {}

bool BandCholesky::Factorise() {
  // By panels of kPanel columns: each panel factorised column by column with
  // its rank-one updates kept to the panel, then the trailing band updated at
  // once by the panel's rows below it (a symmetric rank-k update, the bulk of
  // the work, done as a matrix product).
  constexpr int kPanel = 32;
  Eigen::MatrixXd below;
  for (int j0 = 0; j0 < n_; j0 += kPanel) {
    const int j1 = std::min(n_, j0 + kPanel);
    for (int k = j0; k < j1; ++k) {
      double* diagonal = &a_[At(k, k)];
      if (!(diagonal[0] > 0) || !std::isfinite(diagonal[0])) return false;
      const double Lkk = std::sqrt(diagonal[0]);
      diagonal[0] = Lkk;
      const int m = std::min(b_, n_ - 1 - k);
      Eigen::Map<Eigen::VectorXd> column(diagonal + 1, m);
      column /= Lkk;
      // a_rc −= L_rk L_ck for the panel's later columns c.
      for (int c = k + 1; c < j1 && c - k <= m; ++c) {
        const double Lck = diagonal[c - k];
        const int rows = m - (c - k) + 1;  // r from c to k + m
        Eigen::Map<Eigen::VectorXd>(&a_[At(c, c)], rows) -=
            Lck * Eigen::Map<const Eigen::VectorXd>(diagonal + (c - k), rows);
      }
    }
    // The panel's rows below it, j1 .. j1 + m − 1, zero beyond each column's band.
    const int m = std::min(b_, n_ - j1);
    if (m <= 0) continue;
    below.setZero(m, j1 - j0);
    for (int k = j0; k < j1; ++k)
      for (int r = j1; r < j1 + m && r - k <= b_; ++r) below(r - j1, k - j0) = a_[At(r, k)];
    Strided trailing(&a_[At(j1, j1)], m, m, Eigen::OuterStride<>(b_));
    trailing.selfadjointView<Eigen::Lower>().rankUpdate(below, -1.0);
  }
  return true;
}

void BandCholesky::SolveLower(Eigen::Ref<Eigen::VectorXd> y) const {
  for (int j = 0; j < n_; ++j) {
    const double* diagonal = &a_[At(j, j)];
    y[j] /= diagonal[0];
    const int m = std::min(b_, n_ - 1 - j);
    y.segment(j + 1, m) -= y[j] * Eigen::Map<const Eigen::VectorXd>(diagonal + 1, m);
  }
}

void BandCholesky::SolveUpper(Eigen::Ref<Eigen::VectorXd> y) const {
  for (int j = n_ - 1; j >= 0; --j) {
    const double* diagonal = &a_[At(j, j)];
    const int m = std::min(b_, n_ - 1 - j);
    y[j] = (y[j] - Eigen::Map<const Eigen::VectorXd>(diagonal + 1, m).dot(y.segment(j + 1, m))) /
           diagonal[0];
  }
}

void BandCholesky::Solve(Eigen::Ref<Eigen::MatrixXd> Y) const {
  for (Eigen::Index c = 0; c < Y.cols(); ++c) {
    Eigen::VectorXd y = Y.col(c);
    SolveLower(y);
    SolveUpper(y);
    Y.col(c) = y;
  }
}

std::vector<double> BandCholesky::SelectedInverse() const {
  std::vector<double> Z;
  SelectedInverse(Z);
  return Z;
}

void BandCholesky::SelectedInverse(std::vector<double>& Z) const {
  Z.assign(a_.size(), 0.0);
  Eigen::VectorXd sum;
  for (int j = n_ - 1; j >= 0; --j) {
    const double* L = &a_[At(j, j)];
    double* z = &Z[At(j, j)];
    const double Ljj = L[0];
    const int m = std::min(b_, n_ - 1 - j);
    const Eigen::Map<const Eigen::VectorXd> Lj(L + 1, m);
    if (m > 0) {
      const ConstStrided block(&Z[At(j + 1, j + 1)], m, m, Eigen::OuterStride<>(b_));
      sum.noalias() = block.selfadjointView<Eigen::Lower>() * Lj;
    }
    double zjj = 1 / (Ljj * Ljj);
    for (int t = 0; t < m; ++t) {
      z[1 + t] = -sum[t] / Ljj;
      zjj -= Lj[t] * z[1 + t] / Ljj;
    }
    z[0] = zjj;
  }
}

}  // namespace qova::calib
