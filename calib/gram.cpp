#include "calib/gram.h"

#include <vector>

#include "calib/lanes.h"

namespace qova::calib {
namespace {

using lanes::kLanes;
using lanes::Lanes;
using lanes::Load;

// acc[e] += A_kᵀ A_l over the rows r0 .. r0 + 7 of columns k ≤ l, e counting
// the pairs column by column: eight rows of every column at a time.
inline void AddBlock(const double* A, Eigen::Index stride, int p, Eigen::Index r0, Lanes* acc) {
  int e = 0;
  for (int k = 0; k < p; ++k) {
    const Lanes ak = Load(A + k * stride + r0);
    for (int l = k; l < p; ++l) acc[e++] += ak * Load(A + l * stride + r0);
  }
}

// The partial sums of all rows: whole blocks in place, the last rows from a
// copy padded with zero rows (which add nothing). acc starts at zero.
QOVA_LANE_CLONES
void GramLanes(const double* __restrict A, Eigen::Index m, Eigen::Index stride, int p,
               Lanes* __restrict acc, double* __restrict tail) {
  Eigen::Index r = 0;
  for (; r + kLanes <= m; r += kLanes) AddBlock(A, stride, p, r, acc);
  if (r == m) return;
  for (int k = 0; k < p; ++k)
    for (int t = 0; t < kLanes; ++t) tail[k * kLanes + t] = r + t < m ? A[k * stride + r + t] : 0;
  AddBlock(tail, kLanes, p, 0, acc);
}

}  // namespace

void Gram(const double* A, Eigen::Index m, Eigen::Index stride, int p, Eigen::MatrixXd& G) {
  G.resize(p, p);
  // The pairs' partial sums, eight doubles each.
  std::vector<double> acc(static_cast<size_t>(p) * static_cast<size_t>(p + 1) / 2 * kLanes, 0.0);
  std::vector<double> tail(static_cast<size_t>(p) * kLanes);
  GramLanes(A, m, stride, p, reinterpret_cast<Lanes*>(acc.data()), tail.data());
  size_t e = 0;
  for (int k = 0; k < p; ++k)
    for (int l = k; l < p; ++l, e += kLanes) G(l, k) = G(k, l) = lanes::Sum(Load(&acc[e]));
}

}  // namespace qova::calib
