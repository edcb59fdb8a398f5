#include "calib/nonlinear_fit.h"

#include <Eigen/Dense>
#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>

#include "calib/calib_error.h"
#include "calib/gram.h"
#include "calib/linear_fit.h"
#include "calib/model_eval.h"

namespace qova::calib {
namespace {

constexpr double kColdMu = 1e-3, kWarmMu = 1e-9;

// Levenberg–Marquardt with Marquardt's scaling: solve
// (JᵀWJ + μ diag(JᵀWJ)) δ = −JᵀW r, accept δ when the cost falls (μ × 0.3),
// else μ × 10. Converged when an accepted step lowers the cost by less than a
// relative `tolerance` or changes no parameter by more than 1e-12 of its size
// (plus 1e-12), or when a small-damped step that is rejected promised a fall
// below a relative `tolerance` (the cost is at its minimum to the rounding of
// its sum); given up when μ passes 1e12. μ starts at `mu`: 1e-3 from a
// rough start, far smaller from a solution of nearly the same problem (the
// robust loop's next fit, a cross-validation fold), where Gauss–Newton's
// steps are good at once and damping would only slow the directions the
// crossings determine least. value(i, θ) gives F at point i;
// gradients(i, count, θ, values, jacobians) F and ∂F/∂θ at points i ..
// i + count − 1 (count ≤ kBlock), jacobians 2 × P each, one after another.
constexpr int kBlock = 8;
template <int P, class Value, class Gradients>
NonlinearSolution Levenberg(const std::vector<Vec2>& xn, const std::vector<double>& w,
                            Eigen::Matrix<double, P, 1> theta, double tolerance, double mu,
                            Value&& value, Gradients&& gradients) {
  using Vector = Eigen::Matrix<double, P, 1>;
  using Matrix = Eigen::Matrix<double, P, P>;
  using Jacobian = Eigen::Matrix<double, 2, P>;
  const size_t n = xn.size();
  auto cost = [&](const Vector& t) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += w[i] * (value(i, t) - xn[i]).squaredNorm();
    return sum;
  };
  // JᵀWJ as the Gram matrix of the stacked rows √w_i ∂F_i/∂θ.
  Eigen::Matrix<double, Eigen::Dynamic, P> rows(2 * static_cast<Eigen::Index>(n), P);
  Eigen::MatrixXd gram;
  auto normal = [&](const Vector& t, Matrix& JtJ, Vector& Jtr) {
    Jtr.setZero();
    double sum = 0;
    Vec2 values[kBlock];
    Jacobian J[kBlock];
    for (size_t i0 = 0; i0 < n; i0 += kBlock) {
      const int count = static_cast<int>(std::min<size_t>(kBlock, n - i0));
      gradients(i0, count, t, values, J[0].data());
      for (int k = 0; k < count; ++k) {
        const size_t i = i0 + static_cast<size_t>(k);
        const Vec2 r = values[k] - xn[i];
        const double root = std::sqrt(w[i]);
        rows.template middleRows<2>(2 * static_cast<Eigen::Index>(i)) = root * J[k];
        Jtr.noalias() += w[i] * J[k].transpose() * r;
        sum += w[i] * r.squaredNorm();
      }
    }
    Gram(rows, gram);
    JtJ = gram;
    return sum;
  };
  NonlinearSolution s;
  Matrix JtJ;
  Vector Jtr;
  double current = normal(theta, JtJ, Jtr);
  bool converged = false;
  for (s.iterations = 0; s.iterations < 200 && !converged && std::isfinite(current);
       ++s.iterations) {
    bool stuck = false;
    for (;;) {
      Matrix A = JtJ;
      const double tiny = 1e-12 * JtJ.diagonal().maxCoeff();
      for (int k = 0; k < P; ++k) A(k, k) += mu * JtJ(k, k) + tiny;
      const Vector step = A.ldlt().solve(-Jtr);
      const Vector next = theta + step;
      const double trial = step.allFinite() ? cost(next) : INFINITY;
      if (trial < current) {
        const bool small = (step.array().abs() <= 1e-12 * (next.array().abs() + 1)).all();
        const bool flat = current - trial <= tolerance * current;
        theta = next;
        mu *= 0.3;
        current = normal(theta, JtJ, Jtr);
        converged = small || flat;
        break;
      }
      // The fall the linearised model promises: −2 gᵀδ − δᵀ JᵀWJ δ.
      const double promised = -2 * Jtr.dot(step) - step.dot(JtJ * step);
      if (step.allFinite() && mu <= 1 && promised <= tolerance * current) {
        converged = true;
        break;
      }
      mu *= 10;
      if (mu > 1e12) {
        stuck = true;
        break;
      }
    }
    if (stuck) break;
  }
  const bool done = converged;
  s.converged = done && std::isfinite(current) && theta.allFinite();
  s.params = theta;
  s.variance = current / std::max(1.0, 2.0 * static_cast<double>(n) - P);
  Eigen::MatrixXd inverse;
  if (s.converged && InvertSymmetric(Eigen::MatrixXd(JtJ), 1e-15, inverse))
    s.covariance = s.variance * inverse;
  return s;
}

}  // namespace

Eigen::VectorXd ProjectiveByDlt(const std::vector<Vec2>& un, const std::vector<Vec2>& xn) {
  Eigen::Matrix<double, 9, 9> AtA = Eigen::Matrix<double, 9, 9>::Zero();
  for (size_t i = 0; i < un.size(); ++i) {
    const double u = un[i].x(), v = un[i].y(), x = xn[i].x(), y = xn[i].y();
    Eigen::Matrix<double, 9, 1> a, b;
    a << u, v, 1, 0, 0, 0, -x * u, -x * v, -x;
    b << 0, 0, 0, u, v, 1, -y * u, -y * v, -y;
    AtA.noalias() += a * a.transpose() + b * b.transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 9, 9>> eig(AtA);
  const Eigen::Matrix<double, 9, 1> h = eig.eigenvectors().col(0);
  if (!(std::fabs(h[8]) > 1e-12))
    throw CalibError(CalibCause::NotDetermined,
                     "the crossings do not determine a homography (they may lie on one line)");
  return (h / h[8]).head<8>();
}

NonlinearSolution FitProjective(const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                                const std::vector<double>& w, const Eigen::VectorXd& start,
                                double tolerance) {
  const bool warm = start.size() == 8;
  const Eigen::Matrix<double, 8, 1> h0 = warm ? start : ProjectiveByDlt(un, xn);
  using Vector = Eigen::Matrix<double, 8, 1>;
  return Levenberg<8>(
      xn, w, h0, tolerance, warm ? kWarmMu : kColdMu,
      [&](size_t i, const Vector& h) { return detail::ProjectiveValue(h.data(), un[i]); },
      [&](size_t i, int count, const Vector& h, Vec2* value, double* J) {
        for (int k = 0; k < count; ++k)
          detail::ProjectiveGradient(h.data(), un[i + static_cast<size_t>(k)], value[k],
                                     J + 16 * k);
      });
}

NonlinearSolution FitRadial(const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                            const std::vector<double>& w, const RadialSetup& setup,
                            const Eigen::VectorXd& start, double tolerance) {
  const int P = setup.centreFitted ? 15 : 13;
  Eigen::VectorXd theta = start;
  const bool warm = theta.size() == P;
  if (!warm) {
    theta = Eigen::VectorXd::Zero(P);
    theta.head<8>() = FitProjective(un, xn, w, Eigen::VectorXd(), tolerance).params;
    if (setup.centreFitted) theta.tail<2>() = setup.centre;
  }
  auto value = [&]<int N>(size_t i, const Eigen::Matrix<double, N, 1>& t) {
    return detail::RadialValue(t.data(), setup, un[i]);
  };
  // Eight crossings side by side: the gradient's divisions are a third of a fit.
  auto gradients = [&]<int N>(size_t i, int count, const Eigen::Matrix<double, N, 1>& t,
                              Vec2* values, double* J) {
    detail::RadialGradients(t.data(), setup, &un[i], count, N, values, J);
  };
  const double mu = warm ? kWarmMu : kColdMu;
  if (P == 15)
    return Levenberg<15>(xn, w, Eigen::Matrix<double, 15, 1>(theta), tolerance, mu, value,
                         gradients);
  return Levenberg<13>(xn, w, Eigen::Matrix<double, 13, 1>(theta), tolerance, mu, value, gradients);
}

}  // namespace qova::calib
