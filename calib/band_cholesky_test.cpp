#include "calib/band_cholesky.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <random>

namespace qova::calib {
namespace {

// A random symmetric positive definite band matrix, dense and in band storage.
Eigen::MatrixXd RandomBand(int n, int b, unsigned seed, BandCholesky& band) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n, n);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n && i - j <= b; ++i) A(i, j) = A(j, i) = u(random);
  A.diagonal().array() += 2.0 * b + 2;  // diagonally dominant
  band = BandCholesky(n, b);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n && i - j <= b; ++i) band.Matrix()[band.At(i, j)] = A(i, j);
  return A;
}

TEST(BandCholesky, FactorSolveAndInverseBandAsDenseLinearAlgebraHasThem) {
  for (const auto& [n, b] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{40, 1}, std::pair{100, 31},
                             std::pair{130, 33}, std::pair{300, 45}, std::pair{64, 80},
                             std::pair{90, 8}, std::pair{121, 9}, std::pair{400, 102}}) {
    BandCholesky band;
    const Eigen::MatrixXd A = RandomBand(n, b, static_cast<unsigned>(n * 7 + b), band);
    ASSERT_TRUE(band.Factorise());
    const Eigen::MatrixXd L = A.llt().matrixL();
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n && i - j <= b; ++i)
        ASSERT_NEAR(band.Matrix()[band.At(i, j)], L(i, j), 1e-12 * L(j, j)) << n << " " << b;
    Eigen::MatrixXd Y = Eigen::MatrixXd::Random(n, 2);
    const Eigen::MatrixXd X = A.llt().solve(Y);
    band.Solve(Y);
    EXPECT_LT((Y - X).norm(), 1e-12 * X.norm());
    const Eigen::MatrixXd inverse = A.inverse();
    const std::vector<double> Z = band.SelectedInverse();
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n && i - j <= b; ++i)
        ASSERT_NEAR(Z[band.At(i, j)], inverse(i, j), 1e-12 * inverse(j, j)) << n << " " << b;
  }
}

TEST(BandCholesky, AMatrixThatIsNotPositiveDefiniteIsReported) {
  BandCholesky band(3, 1);
  band.Matrix()[band.At(0, 0)] = 1;
  band.Matrix()[band.At(1, 0)] = 2;  // [[1, 2], [2, 1]]: indefinite
  band.Matrix()[band.At(1, 1)] = 1;
  band.Matrix()[band.At(2, 2)] = 1;
  EXPECT_FALSE(band.Factorise());
  BandCholesky nan(2, 1);
  nan.Matrix()[nan.At(0, 0)] = NAN;
  EXPECT_FALSE(nan.Factorise());
}

}  // namespace
}  // namespace qova::calib
