#include "calib/band_cholesky.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "calib/lanes.h"

namespace qova::calib {
BandCholesky::BandCholesky(int size, int bandwidth)
    : n_(size),
      b_(std::max(1, bandwidth)),
      // One column more than the matrix, so that the last columns' rows
      // beyond it stay inside the storage.
      a_(static_cast<size_t>(size + 1) * static_cast<size_t>(b_ + 1), 0.0) {}

// The kernels are plain loops along contiguous columns over eight-double
// lanes, one form for each vector width (lanes.h): every form does the same
// operations in the same order, sums split into the same eight partial sums,
// so each gives the same bits.

namespace {

using lanes::kLanes;
using lanes::Lanes;
using lanes::Load;
using lanes::Store;

constexpr int kPanel = 16;  // columns factorised before the trailing band is updated
constexpr int kBlock = 4;   // columns done together, sharing each row's loads

// T −= P Pᵀ on the lower triangle: T is m × m with column stride `stride`,
// P is m × K column-major with column stride `rows` ≥ m + 2·kLanes, its rows
// past m zero. Each entry's K products are summed first, in order, then
// taken off. Columns go kBlock at a time, their rows from the top one
// 2·kLanes at a time; the lanes above the diagonal or past m are summed (from
// P's own rows or its zero rows) and not stored.
QOVA_LANE_CLONES
void LowerRankUpdate(double* __restrict T, int stride, const double* __restrict P, int rows, int m,
                     int K) {
  int j = 0;
  for (; j + kBlock <= m; j += kBlock) {
    for (int i0 = j; i0 < m; i0 += 2 * kLanes) {
      // Set one by one: an initialiser of the array becomes a memset of the
      // stack, which costs a tenth of the factorisation.
      Lanes s[2][kBlock];
      for (int q = 0; q < kBlock; ++q) s[0][q] = s[1][q] = Lanes{};
      for (int k = 0; k < K; ++k) {
        const double* column = P + static_cast<size_t>(k) * rows;
        const Lanes upper = Load(column + i0), lower = Load(column + i0 + kLanes);
        for (int q = 0; q < kBlock; ++q) {
          const double pj = column[j + q];
          s[0][q] += upper * pj;
          s[1][q] += lower * pj;
        }
      }
      for (int q = 0; q < kBlock; ++q) {
        double* column = T + static_cast<size_t>(j + q) * stride + i0;
        if (i0 > j && i0 + 2 * kLanes <= m) {
          Store(column, Load(column) - s[0][q]);
          Store(column + kLanes, Load(column + kLanes) - s[1][q]);
        } else {
          for (int t = i0 == j ? q : 0; t < std::min(2 * kLanes, m - i0); ++t)
            column[t] -= s[t / kLanes][q][t % kLanes];
        }
      }
    }
  }
  for (; j < m; ++j)
    for (int i = j; i < m; ++i) {
      double sum = 0;
      for (int k = 0; k < K; ++k)
        sum += P[static_cast<size_t>(k) * rows + i] * P[static_cast<size_t>(k) * rows + j];
      T[static_cast<size_t>(j) * stride + i] -= sum;
    }
}

// Lane q of the result: the sum of h[q]'s eight lanes, by a fixed tree of
// pairs (neighbours, then pairs of pairs, then halves).
inline Lanes SumEach(const Lanes h[kLanes]) {
  Lanes a[4], c[2];
  for (int i = 0; i < 4; ++i)
    a[i] = __builtin_shufflevector(h[2 * i], h[2 * i + 1], 0, 8, 2, 10, 4, 12, 6, 14) +
           __builtin_shufflevector(h[2 * i], h[2 * i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
  for (int i = 0; i < 2; ++i)
    c[i] = __builtin_shufflevector(a[2 * i], a[2 * i + 1], 0, 1, 8, 9, 4, 5, 12, 13) +
           __builtin_shufflevector(a[2 * i], a[2 * i + 1], 2, 3, 10, 11, 6, 7, 14, 15);
  return __builtin_shufflevector(c[0], c[1], 0, 1, 2, 3, 8, 9, 10, 11) +
         __builtin_shufflevector(c[0], c[1], 4, 5, 6, 7, 12, 13, 14, 15);
}

// y = S x for the symmetric m × m matrix S whose lower triangle is stored
// with column stride `stride`: column c gives y[r] += S_rc x_c (r ≥ c) and
// y[c] += Σ_{r>c} S_rc x_r, the latter in kLanes partial sums. Columns go
// kLanes at a time: their top kLanes rows (the triangle, the entries above
// it left out by selection) and then the rows below, kLanes at a time. x and
// y have room for m + kLanes values, x zero past m, and S may be read kLanes
// rows past m in every column: those lanes add S·0 to the partial sums and
// write only y's room.
QOVA_LANE_CLONES
void SymmetricProduct(const double* __restrict S, int stride, const double* __restrict x, int m,
                      double* __restrict y) {
  typedef long long Mask __attribute__((vector_size(64)));
  const Mask lane = {0, 1, 2, 3, 4, 5, 6, 7};
  const Lanes zero = {};
  for (int r = 0; r < m + kLanes; ++r) y[r] = 0;
  int c = 0;
  for (; c + kLanes <= m; c += kLanes) {
    const double* column = S + static_cast<size_t>(c) * stride;
    Lanes h[kLanes];
    Lanes top = Load(y + c);
    const Lanes xTop = Load(x + c);
    for (int q = 0; q < kLanes; ++q) {
      const Lanes s = Load(column + static_cast<size_t>(q) * stride + c);
      top += (lane >= q ? s : zero) * x[c + q];
      h[q] = (lane > q ? s : zero) * xTop;
    }
    Store(y + c, top);
    for (int r = c + kLanes; r < m; r += kLanes) {
      const Lanes xr = Load(x + r);
      Lanes yr = Load(y + r);
      for (int q = 0; q < kLanes; ++q) {
        const Lanes s = Load(column + static_cast<size_t>(q) * stride + r);
        yr += s * x[c + q];
        h[q] += s * xr;
      }
      Store(y + r, yr);
    }
    Store(y + c, Load(y + c) + SumEach(h));
  }
  auto s = [&](int r, int k) { return S[static_cast<size_t>(k) * stride + r]; };
  for (; c < m; ++c) {
    y[c] += s(c, c) * x[c];
    for (int r = c + 1; r < m; ++r) {
      y[r] += s(r, c) * x[c];
      y[c] += s(r, c) * x[r];
    }
  }
}

// Columns j0 .. j1 − 1 of the band matrix a (size n, bandwidth b, storage as
// BandCholesky's) factorised one by one: L_kk = √a_kk, L_rk = a_rk / L_kk,
// then a_rc −= L_rk L_ck for the later columns c of the panel. False when a
// pivot is not positive.
QOVA_LANE_CLONES
bool FactorisePanel(double* __restrict a, int n, int b, int j0, int j1) {
  for (int k = j0; k < j1; ++k) {
    double* diagonal = a + static_cast<size_t>(k) * b + k;
    if (!(diagonal[0] > 0) || !std::isfinite(diagonal[0])) return false;
    const double Lkk = std::sqrt(diagonal[0]);
    diagonal[0] = Lkk;
    const int m = std::min(b, n - 1 - k);
    for (int t = 1; t <= m; ++t) diagonal[t] /= Lkk;
    for (int c = k + 1; c < j1 && c - k <= m; ++c) {
      const double Lck = diagonal[c - k];
      const int rows = m - (c - k) + 1;  // r from c to k + m
      double* to = a + static_cast<size_t>(c) * b + c;
      const double* from = diagonal + (c - k);
      int t = 0;
      for (; t + kLanes <= rows; t += kLanes) Store(to + t, Load(to + t) - Load(from + t) * Lck);
      for (; t < rows; ++t) to[t] -= Lck * from[t];
    }
  }
  return true;
}

// y ← L⁻¹ y: y_j /= L_jj, then y_r −= y_j L_rj for the rows below.
QOVA_LANE_CLONES
void ForwardSubstitute(const double* __restrict a, int n, int b, double* __restrict y) {
  for (int j = 0; j < n; ++j) {
    const double* column = a + static_cast<size_t>(j) * b + j;
    const double yj = y[j] /= column[0];
    const int m = std::min(b, n - 1 - j);
    double* below = y + j + 1;
    int t = 0;
    for (; t + kLanes <= m; t += kLanes)
      Store(below + t, Load(below + t) - Load(column + 1 + t) * yj);
    for (; t < m; ++t) below[t] -= column[1 + t] * yj;
  }
}

// y ← L⁻ᵀ y: y_j = (y_j − Σ_r L_rj y_r) / L_jj from the last row up, the sum
// in kLanes partial sums.
QOVA_LANE_CLONES
void BackSubstitute(const double* __restrict a, int n, int b, double* __restrict y) {
  for (int j = n - 1; j >= 0; --j) {
    const double* column = a + static_cast<size_t>(j) * b + j;
    const int m = std::min(b, n - 1 - j);
    const double* below = y + j + 1;
    Lanes part = {};
    int t = 0;
    for (; t + kLanes <= m; t += kLanes) part += Load(column + 1 + t) * Load(below + t);
    double sum = lanes::Sum(part);
    for (; t < m; ++t) sum += column[1 + t] * below[t];
    y[j] = (y[j] - sum) / column[0];
  }
}

}  // namespace

bool BandCholesky::Factorise() {
  // By panels of kPanel columns: each panel factorised column by column with
  // its rank-one updates kept to the panel, then the trailing band updated at
  // once by the panel's rows below it (a symmetric rank-k update, the bulk of
  // the work).
  std::vector<double> below;
  for (int j0 = 0; j0 < n_; j0 += kPanel) {
    const int j1 = std::min(n_, j0 + kPanel);
    if (!FactorisePanel(a_.data(), n_, b_, j0, j1)) return false;
    // The panel's rows below it, j1 .. j1 + m − 1, zero beyond each column's band.
    const int m = std::min(b_, n_ - j1);
    if (m <= 0) continue;
    const int K = j1 - j0, rows = m + 2 * kLanes;
    below.assign(static_cast<size_t>(rows) * K, 0.0);
    for (int k = j0; k < j1; ++k)
      for (int r = j1; r < j1 + m && r - k <= b_; ++r)
        below[static_cast<size_t>(k - j0) * rows + (r - j1)] = a_[At(r, k)];
    LowerRankUpdate(&a_[At(j1, j1)], b_, below.data(), rows, m, K);
  }
  return true;
}

void BandCholesky::SolveLower(Eigen::Ref<Eigen::VectorXd> y) const {
  // y is contiguous (a VectorXd's Ref has inner stride 1).
  ForwardSubstitute(a_.data(), n_, b_, y.data());
}

void BandCholesky::SolveUpper(Eigen::Ref<Eigen::VectorXd> y) const {
  BackSubstitute(a_.data(), n_, b_, y.data());
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
  // kLanes entries of room past the storage: the product reads past the
  // last rows of the last columns (see SymmetricProduct).
  Z.assign(a_.size() + kLanes, 0.0);
  std::vector<double> x(static_cast<size_t>(b_ + kLanes)), sum(x.size());
  for (int j = n_ - 1; j >= 0; --j) {
    const double* L = &a_[At(j, j)];
    double* z = &Z[At(j, j)];
    const double Ljj = L[0];
    const int m = std::min(b_, n_ - 1 - j);
    if (m > 0) {
      std::copy(L + 1, L + 1 + m, x.begin());
      std::fill(x.begin() + m, x.end(), 0.0);
      SymmetricProduct(&Z[At(j + 1, j + 1)], b_, x.data(), m, sum.data());
    }
    double zjj = 1 / (Ljj * Ljj);
    for (int t = 0; t < m; ++t) {
      z[1 + t] = -sum[static_cast<size_t>(t)] / Ljj;
      zjj -= L[1 + t] * z[1 + t] / Ljj;
    }
    z[0] = zjj;
  }
}

}  // namespace qova::calib
