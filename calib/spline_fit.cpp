#include "calib/spline_fit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "calib/calib_error.h"
#include "calib/model_eval.h"

namespace qova::calib {
namespace {

// Each coefficient meets the 7 × 7 coefficients about it (its own cubic
// supports overlap theirs); the symmetric matrices of the fit are kept as 49
// entries a coefficient, neighbour (dk, dl) at Offset(dk, dl).
constexpr int kLocal = 49;
constexpr int Offset(int dk, int dl) { return (dk + 3) * 7 + dl + 3; }
// The pair's neighbour seen from the other coefficient: (−dk, −dl).
constexpr int Mirror(int offset) { return kLocal - 1 - offset; }

// Of a point's 16 coefficients, a = 4·k + l for B_k(ũ) B_l(ṽ): where b sits
// among a's neighbours, for every pair.
struct PairOffsets {
  int at[16][16];
  constexpr PairOffsets() : at() {
    for (int a = 0; a < 16; ++a)
      for (int b = 0; b < 16; ++b) at[a][b] = Offset(b / 4 - a / 4, b % 4 - a % 4);
  }
};
constexpr PairOffsets kPair;

// The second-difference penalty along one axis of n coefficients: DᵀD.
Eigen::MatrixXd DifferencePenalty(int n) {
  Eigen::MatrixXd D = Eigen::MatrixXd::Zero(std::max(0, n - 2), n);
  for (int r = 0; r + 2 < n; ++r) D(r, r) = 1, D(r, r + 1) = -2, D(r, r + 2) = 1;
  return D.transpose() * D;
}

// The penalised normal equations of one set of points and weights, for any λ.
// The matrix is factorised in the coefficients' natural order with the
// shorter axis inner, which makes it a band matrix of bandwidth
// 3·(K + 3) + 3, K + 3 the coefficients along the shorter axis.
class SplineSystem {
 public:
  SplineSystem(const SplineGrid& grid, const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
               const std::vector<double>& w)
      : grid_(grid),
        nu_(grid.knotsU + 3),
        nv_(grid.knotsV + 3),
        nc_(grid.Coefficients()),
        w_(w),
        xn_(xn) {
    const size_t n = un.size();
    first_.resize(n);
    basis_.resize(n);
    gram_.assign(static_cast<size_t>(nc_) * kLocal, 0.0);
    rhs_ = Eigen::MatrixXd::Zero(nc_, 2);
    double wSum = 0;
    for (size_t i = 0; i < n; ++i) {
      const detail::SplineSpan su = detail::BSplineSpan(grid.knotsU, un[i].x());
      const detail::SplineSpan sv = detail::BSplineSpan(grid.knotsV, un[i].y());
      first_[i] = su.first * nv_ + sv.first;
      for (int k = 0; k < 4; ++k)
        for (int l = 0; l < 4; ++l) basis_[i][static_cast<size_t>(k * 4 + l)] = su.b[k] * sv.b[l];
      // BᵀWB on the local layout, and BᵀW x̃ (in solver order). BᵀWB is
      // symmetric: each pair is summed once, on the row of the coefficient
      // that comes first in natural order (b ≥ a among the point's 16 is
      // c_b ≥ c_a, as fewer than 4 steps along v never reach the next u).
      const std::array<double, 16>& B = basis_[i];
      for (int a = 0; a < 16; ++a) {
        const int ca = Coefficient(i, a);
        const double wa = w[i] * B[static_cast<size_t>(a)];
        rhs_(Order(ca), 0) += wa * xn[i].x();
        rhs_(Order(ca), 1) += wa * xn[i].y();
        double* row = &gram_[static_cast<size_t>(ca) * kLocal];
        for (int b = a; b < 16; ++b) row[kPair.at[a][b]] += wa * B[static_cast<size_t>(b)];
      }
      wSum += w[i];
    }
    wMean_ = wSum / static_cast<double>(n);
    order_.resize(static_cast<size_t>(nc_));
    for (int a = 0; a < nc_; ++a) order_[static_cast<size_t>(a)] = Order(a);
    pu_ = DifferencePenalty(nu_);
    pv_ = DifferencePenalty(nv_);
    band_ = 3 * std::min(nu_, nv_) + 3;
  }

  struct Trial {
    bool ok = false;  // factorised, and tr S ≤ n/2
    double exponent = 0, gcv = std::numeric_limits<double>::infinity(), trace = 0, rss = 0;
    Eigen::MatrixXd coef;              // nc × 2, coefficient order
    std::vector<double> inverseLocal;  // M⁻¹ on the local layout
    Eigen::VectorXd hat;
    BandCholesky factor;          // of M, kept for the covariance's quadratic forms
    std::vector<double> inverse;  // M⁻¹ in band storage (scratch)
  };

  // The coefficients alone at λ = 10^exponent (relative to the mean weight),
  // M factorised into `factor`. A trial reads the system and writes only its
  // own factor, so trials may run side by side.
  bool Solve(double exponent, BandCholesky& factor, Eigen::MatrixXd& coef) const {
    if (!Factorise(std::pow(10.0, exponent) * wMean_, factor)) return false;
    Eigen::MatrixXd solved = rhs_;
    factor.Solve(solved);
    coef.resize(nc_, 2);
    for (int a = 0; a < nc_; ++a) coef.row(a) = solved.row(Order(a));
    return coef.allFinite();
  }

  // Everything at λ = 10^exponent.
  // Into t, whose storage is reused (a search's trials are many, and
  // fresh storage of this size costs more to map than to compute).
  void At(double exponent, Trial& t) const {
    t.ok = false;
    t.exponent = exponent;
    t.gcv = std::numeric_limits<double>::infinity();
    t.trace = t.rss = 0;
    if (!Solve(exponent, t.factor, t.coef)) return;
    t.factor.SelectedInverse(t.inverse);
    const std::vector<double>& Z = t.inverse;
    t.inverseLocal.assign(static_cast<size_t>(nc_) * kLocal, 0.0);
    for (int a = 0; a < nc_; ++a)
      ForNeighbours(a, [&](int b, int offset) {
        t.inverseLocal[static_cast<size_t>(a) * kLocal + static_cast<size_t>(offset)] =
            Z[Position(a, b)];
      });
    const size_t n = first_.size();
    t.hat.resize(static_cast<Eigen::Index>(n));
    for (size_t i = 0; i < n; ++i) {
      // h_ii = w_i b_iᵀ M⁻¹ b_i over the point's 16 coefficients, M⁻¹
      // symmetric: Σ_a b_a (Z_aa b_a + 2 Σ_{b>a} Z_ab b_b).
      double h = 0;
      Vec2 fitted = Vec2::Zero();
      const std::array<double, 16>& B = basis_[i];
      for (int a = 0; a < 16; ++a) {
        const int ca = Coefficient(i, a);
        const double ba = B[static_cast<size_t>(a)];
        fitted += ba * Vec2(t.coef(ca, 0), t.coef(ca, 1));
        const double* row = &t.inverseLocal[static_cast<size_t>(ca) * kLocal];
        double later = 0;
        for (int b = a + 1; b < 16; ++b) later += B[static_cast<size_t>(b)] * row[kPair.at[a][b]];
        h += ba * (row[Offset(0, 0)] * ba + 2 * later);
      }
      t.hat[static_cast<Eigen::Index>(i)] = w_[i] * h;
      t.trace += w_[i] * h;
      t.rss += w_[i] * (xn_[i] - fitted).squaredNorm();
    }
    const double points = static_cast<double>(n);
    if (!(t.trace <= points / 2)) return;
    t.gcv = points * t.rss / ((points - t.trace) * (points - t.trace));
    t.ok = std::isfinite(t.gcv);
  }

  const std::vector<int>& SolverOrder() const { return order_; }

  size_t Points() const { return first_.size(); }
  int Coefficients() const { return nc_; }

 private:
  // Coefficient a of point i's 16 (a = 4·k + l for B_k(ũ) B_l(ṽ)).
  int Coefficient(size_t i, int a) const { return first_[i] + (a / 4) * nv_ + a % 4; }
  // Where coefficient c = k·nv + l sits in the factorised matrix.
  int Order(int c) const {
    const int k = c / nv_, l = c % nv_;
    return nv_ <= nu_ ? c : l * nu_ + k;
  }

  // The penalty P = Pu ⊗ I + I ⊗ Pv between coefficient (k, l) and its
  // neighbour (k + dk, l + dl): Pu's entry along u, Pv's along v.
  double Penalty(int a, int dk, int dl) const {
    const int k = a / nv_, l = a % nv_;
    double p = 0;
    if (dl == 0 && std::abs(dk) <= 2) p += pu_(k, k + dk);
    if (dk == 0 && std::abs(dl) <= 2) p += pv_(l, l + dl);
    return p;
  }

  // Where the pair of coefficients a and b sits in band storage (the lower
  // triangle: row the later of the two places).
  size_t Position(int a, int b) const {
    const int i = Order(a), j = Order(b);
    return BandCholesky::Position(std::max(i, j), std::min(i, j), band_);
  }

  template <class F>
  void ForNeighbours(int a, F&& f) const {
    const int ka = a / nv_, la = a % nv_;
    for (int dk = -3; dk <= 3; ++dk)
      for (int dl = -3; dl <= 3; ++dl) {
        const int kb = ka + dk, lb = la + dl;
        if (kb < 0 || kb >= nu_ || lb < 0 || lb >= nv_) continue;
        f(kb * nv_ + lb, Offset(dk, dl));
      }
  }

  // M = BᵀWB + λ P into band storage, factorised.
  bool Factorise(double lambda, BandCholesky& factor) const {
    if (factor.Size() != nc_ || factor.Bandwidth() != band_) factor = BandCholesky(nc_, band_);
    std::vector<double>& m = factor.Matrix();
    std::fill(m.begin(), m.end(), 0.0);
    for (int a = 0; a < nc_; ++a)
      ForNeighbours(a, [&](int b, int offset) {
        if (Order(b) < Order(a)) return;
        const size_t e = static_cast<size_t>(a) * kLocal + static_cast<size_t>(offset);
        // BᵀWB's pair is held on the row of the coefficient first in natural order.
        const double gram =
            b >= a ? gram_[e]
                   : gram_[static_cast<size_t>(b) * kLocal + static_cast<size_t>(Mirror(offset))];
        m[Position(a, b)] = gram + lambda * Penalty(a, offset / 7 - 3, offset % 7 - 3);
      });
    return factor.Factorise();
  }

  SplineGrid grid_;
  int nu_, nv_, nc_;
  const std::vector<double>& w_;
  const std::vector<Vec2>& xn_;
  std::vector<int> first_;                     // each point's first coefficient
  std::vector<std::array<double, 16>> basis_;  // each point's 16 products B_k B_l
  std::vector<double> gram_;                   // BᵀWB on the local layout, each pair once
  Eigen::MatrixXd pu_, pv_;                    // the difference penalties along u and v
  Eigen::MatrixXd rhs_;
  double wMean_ = 1;
  std::vector<int> order_;
  int band_ = 0;  // the bandwidth of M in solver order
};

// The trials of one search, by grid index, keeping the best. Trials the
// search is certain to take next are computed ahead, side by side on up to
// range.threads threads (Ahead); each is taken into the search only when the
// search reaches it, in the order a search one trial at a time would take
// them, so the result is the same on any number of threads.
class Search {
 public:
  Search(const SplineSystem& system, const SplineSearch& range) : system_(system), range_(range) {
    count_ = static_cast<int>(std::floor((range.highest - range.lowest) / range.step + 1e-9)) + 1;
    gcv_.assign(static_cast<size_t>(count_), kUntried);
    ahead_.resize(static_cast<size_t>(count_));
  }
  int Count() const { return count_; }
  int IndexOf(double exponent) const {
    const double i = std::nearbyint((exponent - range_.lowest) / range_.step);
    return static_cast<int>(std::clamp(i, 0.0, static_cast<double>(count_ - 1)));
  }
  // GCV at grid index i (infinite where λ fails the guard or the factor).
  // The best trial is kept with its factor.
  double At(int i) {
    double& g = gcv_[static_cast<size_t>(i)];
    if (g != kUntried) return g;
    std::optional<SplineSystem::Trial>& ahead = ahead_[static_cast<size_t>(i)];
    SplineSystem::Trial t = ahead ? std::move(*ahead) : Spare();
    if (!ahead) system_.At(Exponent(i), t);
    ahead.reset();
    g = t.ok ? t.gcv : std::numeric_limits<double>::infinity();
    if (t.ok && (!best_.ok || t.gcv < best_.gcv)) std::swap(t, best_);
    spare_.push_back(std::move(t));
    return g;
  }
  // The trials at grid indices `next` (those in range, not yet taken)
  // computed side by side, when there are threads for more than one.
  void Ahead(const std::vector<int>& next) {
    std::vector<int> todo;
    for (const int i : next)
      if (i >= 0 && i < count_ && gcv_[static_cast<size_t>(i)] == kUntried &&
          !ahead_[static_cast<size_t>(i)] && std::find(todo.begin(), todo.end(), i) == todo.end())
        todo.push_back(i);
    const size_t threads = std::min(todo.size(), static_cast<size_t>(std::max(1, range_.threads)));
    if (threads < 2) return;
    for (const int i : todo) ahead_[static_cast<size_t>(i)] = Spare();
    std::atomic<size_t> taken{0};
    std::exception_ptr failure;
    std::mutex guard;
    auto work = [&] {
      for (size_t k; (k = taken.fetch_add(1)) < todo.size();) {
        try {
          system_.At(Exponent(todo[k]), *ahead_[static_cast<size_t>(todo[k])]);
        } catch (...) {
          const std::lock_guard<std::mutex> lock(guard);
          if (!failure) failure = std::current_exception();
        }
      }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
  }
  // A golden-section search over every `stride`-th grid index, then every
  // such index left: stride 1 finds the grid's minimum; a coarser stride
  // brackets it to ± stride steps in fewer trials (the robust loop's
  // reweighted fits take that λ, and the final fit walks to the minimum).
  void Whole(int stride = 1) {
    int a = 0, b = (count_ - 1) / stride;
    auto at = [&](int coarse) { return At(coarse * stride); };
    while (b - a > 3) {
      const int span = b - a;
      int c = b - static_cast<int>(std::nearbyint(0.618 * span));
      int d = a + static_cast<int>(std::nearbyint(0.618 * span));
      if (c >= d) c = d - 1;
      Ahead({c * stride, d * stride});
      const double fc = at(c), fd = at(d);
      // Both failing the guard: the minimum lies at larger λ.
      if (std::isinf(fc) && std::isinf(fd))
        a = c;
      else if (fc <= fd)
        b = d;
      else
        a = c;
    }
    std::vector<int> left;
    for (int i = a; i <= b; ++i) left.push_back(i * stride);
    Ahead(left);
    for (int i = a; i <= b; ++i) at(i);
  }
  // Downhill from index i in both directions to the nearest minimum.
  void Walk(int i) {
    // The start and one step either way are always taken.
    Ahead({i, i - 1, i + 1});
    At(i);
    for (const int direction : {-1, 1})
      for (int j = i; j + direction >= 0 && j + direction < count_; j += direction)
        if (!(At(j + direction) < At(j))) break;
  }
  SplineSystem::Trial& Best() { return best_; }

 private:
  double Exponent(int i) const { return range_.lowest + i * range_.step; }
  // A trial whose storage an earlier one left.
  SplineSystem::Trial Spare() {
    if (spare_.empty()) return {};
    SplineSystem::Trial t = std::move(spare_.back());
    spare_.pop_back();
    return t;
  }

  static constexpr double kUntried = -1;
  const SplineSystem& system_;
  SplineSearch range_;
  int count_ = 0;
  std::vector<double> gcv_;
  std::vector<std::optional<SplineSystem::Trial>> ahead_;  // computed, not yet taken
  SplineSystem::Trial best_;
  std::vector<SplineSystem::Trial> spare_;  // taken and not the best: storage to reuse
};

}  // namespace

SplineFactor::SplineFactor(BandCholesky factor, std::vector<int> order, double variance)
    : factor_(std::move(factor)), order_(std::move(order)), variance_(variance) {}

double SplineFactor::Quadratic(const Eigen::VectorXd& g) const {
  // gᵀ M⁻¹ g = |L⁻¹ g'|², g' the gradient in the factor's order.
  Eigen::VectorXd y(g.size());
  for (Eigen::Index a = 0; a < g.size(); ++a) y[order_[static_cast<size_t>(a)]] = g[a];
  factor_.SolveLower(y);
  return variance_ * y.squaredNorm();
}

SplineGrid ChooseSplineGrid(int cellsU, int cellsV, int points) {
  // round() as numpy rounds: half to even.
  auto intervals = [](int cells, int h) {
    return std::max(1, static_cast<int>(std::nearbyint(static_cast<double>(cells) / h)));
  };
  SplineGrid grid;
  for (int h = 1;; ++h) {
    grid.spacingCells = h;
    grid.knotsU = intervals(cellsU, h);
    grid.knotsV = intervals(cellsV, h);
    const long coefficients = static_cast<long>(grid.knotsU + 3) * (grid.knotsV + 3);
    if (coefficients <= points || (grid.knotsU == 1 && grid.knotsV == 1)) return grid;
  }
}

SplineSolution FitSpline(SplineGrid grid, const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                         const std::vector<double>& w, LambdaSearch mode, double exponent,
                         const SplineSearch& range) {
  SplineSystem system(grid, un, xn, w);
  const int nc = system.Coefficients();
  SplineSolution s;
  s.grid = grid;
  if (mode == LambdaSearch::Fixed) {
    Eigen::MatrixXd coef;
    BandCholesky factor;
    if (!system.Solve(exponent, factor, coef))
      throw CalibError(CalibCause::FitFailed, "the spline's normal equations are singular");
    s.params.resize(2 * nc);
    s.params << coef.col(0), coef.col(1);
    s.lambdaExponent = exponent;
    s.grid.lambda = std::pow(10.0, exponent);
    return s;
  }
  Search search(system, range);
  if (mode == LambdaSearch::Whole)
    search.Whole();
  else if (mode == LambdaSearch::Bracket)
    search.Whole(2);
  else
    search.Walk(search.IndexOf(exponent));
  if (!search.Best().ok && mode == LambdaSearch::Walk) search.Whole();
  SplineSystem::Trial& best = search.Best();
  if (!best.ok)
    throw CalibError(CalibCause::NotDetermined,
                     "the spline cannot be fitted: no smoothness leaves it fewer effective "
                     "parameters than half the crossings");
  const double n = static_cast<double>(system.Points());
  s.params.resize(2 * nc);
  s.params << best.coef.col(0), best.coef.col(1);
  s.grid.lambda = std::pow(10.0, best.exponent);
  s.grid.effectiveParameters = best.trace;
  s.lambdaExponent = best.exponent;
  s.hat = best.hat;
  // s² = RSS / (2n − 2 tr S): both coordinates, tr S effective parameters each.
  const double variance = best.rss / std::max(1.0, 2 * n - 2 * best.trace);
  s.covariance.form = ParamCovariance::Form::SplineLocal;
  s.covariance.local = std::move(best.inverseLocal);
  for (double& c : s.covariance.local) c *= variance;
  s.covariance.factor =
      std::make_shared<SplineFactor>(std::move(best.factor), system.SolverOrder(), variance);
  return s;
}

}  // namespace qova::calib
