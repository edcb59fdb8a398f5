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
  for (int j = 0; j < n_; ++j) {
    double* diagonal = &a_[At(j, j)];
    if (!(diagonal[0] > 0) || !std::isfinite(diagonal[0])) return false;
    const double Ljj = std::sqrt(diagonal[0]);
    diagonal[0] = Ljj;
    const int m = std::min(b_, n_ - 1 - j);
    if (m == 0) continue;
    Eigen::Map<Eigen::VectorXd> column(diagonal + 1, m);
    column /= Ljj;
    Strided trailing(&a_[At(j + 1, j + 1)], m, m, Eigen::OuterStride<>(b_));
    trailing.selfadjointView<Eigen::Lower>().rankUpdate(column, -1.0);
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
  std::vector<double> Z(a_.size(), 0.0);
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
  return Z;
}

}  // namespace qova::calib
