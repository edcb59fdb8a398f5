#pragma once
// The Gram matrix AᵀA of a tall matrix: the bulk of the calibration's
// least-squares fits' normal equations. Each entry's products are summed in
// eight partial sums (rows r ≡ 0 … 7 mod 8) joined by a fixed tree, so it
// gives the same bits on every machine and vector width (a blocked matrix
// product does not: its blocks follow the cache sizes it finds).

#include <Eigen/Core>

namespace qova::calib {

// AᵀA of A's m rows and p columns (column-major, its columns `stride` apart),
// the lower triangle summed and mirrored into the upper. G is resized to p × p.
void Gram(const double* A, Eigen::Index m, Eigen::Index stride, int p, Eigen::MatrixXd& G);

template <class Derived>
void Gram(const Eigen::DenseBase<Derived>& A, Eigen::MatrixXd& G) {
  static_assert(!Derived::IsRowMajor, "the columns of A must be contiguous");
  Gram(A.derived().data(), A.rows(), A.derived().outerStride(), static_cast<int>(A.cols()), G);
}

}  // namespace qova::calib
