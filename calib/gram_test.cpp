#include "calib/gram.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>

namespace qova::calib {
namespace {

// AᵀA as the product has it, to rounding, for heights that leave every tail
// of a block of eight and widths up to a polynomial's 28 terms; exactly
// symmetric; and the same bits whether A is a matrix of its own or a block of
// a taller one (the columns then further apart than its height).
TEST(Gram, IsTheProductToRoundingSymmetricAndTheSameInATallerBuffer) {
  for (const Eigen::Index m : {1, 7, 8, 9, 100, 7203})
    for (const int p : {1, 2, 8, 13, 15, 28}) {
      const Eigen::MatrixXd tall = Eigen::MatrixXd::Random(m + 5, p);
      const Eigen::MatrixXd A = tall.topRows(m);
      Eigen::MatrixXd G, inTall;
      Gram(A, G);
      Gram(tall.topRows(m), inTall);
      const Eigen::MatrixXd expected = A.transpose() * A;
      // Each entry against the sum of its products' magnitudes.
      const Eigen::MatrixXd bound = A.cwiseAbs().transpose() * A.cwiseAbs();
      for (int k = 0; k < p; ++k)
        for (int l = 0; l < p; ++l) {
          ASSERT_LE(std::fabs(G(k, l) - expected(k, l)), 1e-14 * bound(k, l) * std::log2(m + 1))
              << m << " " << p << " " << k << " " << l;
          ASSERT_EQ(G(k, l), G(l, k)) << m << " " << p;
        }
      EXPECT_EQ(G, inTall) << m << " " << p;
    }
}

}  // namespace
}  // namespace qova::calib
