#pragma once
// Cholesky's factorisation of a symmetric positive definite band matrix,
// A = L Lᵀ with L lower triangular and of A's bandwidth, and the entries of
// A⁻¹ inside the band (Takahashi's selected inverse). The spline's normal
// equations are such a matrix: its coefficients in natural order couple only
// within 3·(K + 3) + 3 of each other. (A general sparse Cholesky factorises
// it too, but spends most of its time on the index bookkeeping a band does
// not need, and the selected inverse is not offered by one.)
//
// Storage: entry (r, k), 0 ≤ r − k ≤ b, at k·b + r — column k holds rows
// k .. k + b contiguously (a symmetric matrix gives its lower triangle).

#include <Eigen/Core>
#include <vector>

namespace qova::calib {

class BandCholesky {
 public:
  BandCholesky() = default;
  BandCholesky(int size, int bandwidth);

  int Size() const { return n_; }
  int Bandwidth() const { return b_; }
  // The storage position of entry (r, k), r ≥ k, r − k ≤ bandwidth.
  size_t At(int r, int k) const { return Position(r, k, b_); }
  static size_t Position(int r, int k, int bandwidth) {
    return static_cast<size_t>(k) * static_cast<size_t>(bandwidth) + static_cast<size_t>(r);
  }
  // The matrix to factorise, in band storage (zero beyond the matrix).
  std::vector<double>& Matrix() { return a_; }

  // Factorises the matrix in place (right-looking: L_jj = √a_jj,
  // L_ij = a_ij / L_jj, then a_rk −= L_rj L_kj for the trailing band, the
  // last by panels of columns at once). False when a pivot is not positive
  // (not positive definite).
  [[nodiscard]] bool Factorise();

  // y ← L⁻¹ y, and y ← L⁻ᵀ y.
  void SolveLower(Eigen::Ref<Eigen::VectorXd> y) const;
  void SolveUpper(Eigen::Ref<Eigen::VectorXd> y) const;
  // Each column of Y ← A⁻¹ Y.
  void Solve(Eigen::Ref<Eigen::MatrixXd> Y) const;

  // A⁻¹ inside the band, in band storage:
  //   Z_ij = −(1/L_jj) Σ_{k>j} L_kj Z_ik,  Z_jj = 1/L_jj² − (1/L_jj) Σ_{k>j} L_kj Z_kj,
  // from the last column back; the sum for column j is the product of the
  // symmetric block Z over the rows below j with L's column j.
  std::vector<double> SelectedInverse() const;
  // The same into Z, whose storage is reused when it is large enough.
  void SelectedInverse(std::vector<double>& Z) const;

 private:
  int n_ = 0, b_ = 0;
  std::vector<double> a_;
};

}  // namespace qova::calib
