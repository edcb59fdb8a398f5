#include "calib/spline_fit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "calib/calib_error.h"
#include "calib/lanes.h"
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

// BᵀWB on the local layout, summed over the points `rows` in their order.
// It is symmetric, and each pair is read from the row of the coefficient
// that comes first in natural order (b ≥ a among a point's 16 is c_b ≥ c_a,
// as fewer than 4 steps along v never reach the next u). Row a = 4·k + l
// meets its partners b = 4·k' + l' at offsets (k' − k + 3)·7 + l' − l + 3,
// four in a row for each k' ≥ k: they are added four at a time, the few
// with b < a (k' = k, l' < l) landing on entries that are never read. Each
// entry gains one term a point, in the points' order, as one at a time.
QOVA_LANE_CLONES
void SumGram(double* __restrict gram, const SplineBasis& basis, const std::vector<size_t>& rows,
             const std::vector<double>& w, int nv) {
  typedef double Quad __attribute__((vector_size(32), aligned(8), may_alias));
  for (const size_t i : rows) {
    const double* B = basis.value[i].data();
    for (int a = 0; a < 16; ++a) {
      const int k = a / 4, l = a % 4;
      const double wa = w[i] * B[a];
      double* row = gram + static_cast<size_t>(basis.first[i] + k * nv + l) * kLocal;
      for (int kb = k; kb < 4; ++kb) {
        Quad* to = reinterpret_cast<Quad*>(row + Offset(kb - k, -l));
        *to += wa * *reinterpret_cast<const Quad*>(B + 4 * kb);
      }
    }
  }
}

// The second-difference penalty along one axis of n coefficients: DᵀD.
Eigen::MatrixXd DifferencePenalty(int n) {
  Eigen::MatrixXd D = Eigen::MatrixXd::Zero(std::max(0, n - 2), n);
  for (int r = 0; r + 2 < n; ++r) D(r, r) = 1, D(r, r + 1) = -2, D(r, r + 2) = 1;
  return D.transpose() * D;
}

// The coefficients are factorised in their natural order with the shorter
// axis inner, which makes the matrix a band of bandwidth 3·(K + 3) + 3,
// K + 3 the coefficients along the shorter axis.
int SolverIndex(int c, int nu, int nv) {
  const int k = c / nv, l = c % nv;
  return nv <= nu ? c : l * nu + k;
}

// One λ's trial.
struct Trial {
  bool ok = false;  // factorised, and tr S ≤ n/2
  double exponent = 0, gcv = std::numeric_limits<double>::infinity(), trace = 0, rss = 0;
  Eigen::MatrixXd coef;              // nc × 2, coefficient order
  std::vector<double> inverseLocal;  // M⁻¹ on the local layout
  BandCholesky factor;               // of M, kept for the covariance's quadratic forms
  std::vector<double> inverse;       // M⁻¹ in band storage (scratch)
};

// What every system on one grid shares: where each pair of neighbouring
// coefficients sits in band storage, and the penalty between them.
struct SplineLayout {
  int nu = 0, nv = 0, nc = 0, band = 0;
  // Each pair once, on the row of the one of the two first in solver order:
  // its place in band storage, where BᵀWB's sum holds it on the local layout
  // (the row of the one first in natural order), and the penalty's entry.
  struct Entry {
    size_t position, gram;
    double penalty;
  };
  std::vector<Entry> fill;
  // Every coefficient's neighbour at each offset: the pair's place in band
  // storage (−1 beyond the grid).
  std::vector<std::ptrdiff_t> position;

  SplineLayout() = default;
  SplineLayout(int nuIn, int nvIn) : nu(nuIn), nv(nvIn), nc(nuIn * nvIn) {
    band = 3 * std::min(nu, nv) + 3;
    const Eigen::MatrixXd pu = DifferencePenalty(nu), pv = DifferencePenalty(nv);
    position.assign(static_cast<size_t>(nc) * kLocal, -1);
    for (int a = 0; a < nc; ++a) {
      const int ka = a / nv, la = a % nv;
      for (int dk = -3; dk <= 3; ++dk)
        for (int dl = -3; dl <= 3; ++dl) {
          const int kb = ka + dk, lb = la + dl;
          if (kb < 0 || kb >= nu || lb < 0 || lb >= nv) continue;
          const int b = kb * nv + lb, offset = Offset(dk, dl);
          const int i = SolverIndex(a, nu, nv), j = SolverIndex(b, nu, nv);
          const size_t at = BandCholesky::Position(std::max(i, j), std::min(i, j), band);
          const size_t e = static_cast<size_t>(a) * kLocal + static_cast<size_t>(offset);
          position[e] = static_cast<std::ptrdiff_t>(at);
          if (j < i) continue;
          // The penalty P = Pu ⊗ I + I ⊗ Pv: Pu's entry along u, Pv's along v.
          double p = 0;
          if (dl == 0 && std::abs(dk) <= 2) p += pu(ka, kb);
          if (dk == 0 && std::abs(dl) <= 2) p += pv(la, lb);
          const size_t mirror =
              static_cast<size_t>(b) * kLocal + static_cast<size_t>(Mirror(offset));
          fill.push_back({at, b >= a ? e : mirror, p});
        }
    }
  }
};

}  // namespace

struct SplineWorkspace::Storage {
  SplineLayout layout;       // of the last grid
  std::vector<double> gram;  // BᵀWB of the current system
  BandCholesky fixed;        // the factor of a fit at a given λ
  std::vector<Trial> spare;  // trials no longer needed: storage to reuse
};

SplineWorkspace::SplineWorkspace() : store_(std::make_unique<Storage>()) {}
SplineWorkspace::~SplineWorkspace() = default;

namespace {

// The penalised normal equations of one set of points and weights, for any λ.
class SplineSystem {
 public:
  // The points of `basis` that `keep` marks (null: all); xn and w given for
  // every point of the basis. gram: storage for BᵀWB.
  SplineSystem(const SplineLayout& layout, const SplineBasis& basis, const std::vector<bool>* keep,
               const std::vector<Vec2>& xn, const std::vector<double>& w, std::vector<double>& gram)
      : layout_(layout), basis_(basis), w_(w), xn_(xn), gram_(gram) {
    const int nc = layout.nc;
    for (size_t i = 0; i < basis.Points(); ++i)
      if (!keep || (*keep)[i]) rows_.push_back(i);
    gram_.assign(static_cast<size_t>(nc) * kLocal, 0.0);
    rhs_ = Eigen::MatrixXd::Zero(nc, 2);
    double wSum = 0;
    SumGram(gram_.data(), basis, rows_, w, layout.nv);
    for (const size_t i : rows_) {
      // BᵀW x̃, in solver order.
      const std::array<double, 16>& B = basis.value[i];
      for (int a = 0; a < 16; ++a) {
        const int ca = Coefficient(i, a);
        const double wa = w[i] * B[static_cast<size_t>(a)];
        rhs_(Order(ca), 0) += wa * xn[i].x();
        rhs_(Order(ca), 1) += wa * xn[i].y();
      }
      wSum += w[i];
    }
    wMean_ = wSum / static_cast<double>(rows_.size());
  }

  // The coefficients alone at λ = 10^exponent (relative to the mean weight),
  // M factorised into `factor`. A trial reads the system and writes only its
  // own factor, so trials may run side by side.
  bool Solve(double exponent, BandCholesky& factor, Eigen::MatrixXd& coef) const {
    if (!Factorise(std::pow(10.0, exponent) * wMean_, factor)) return false;
    Eigen::MatrixXd solved = rhs_;
    factor.Solve(solved);
    coef.resize(layout_.nc, 2);
    for (int a = 0; a < layout_.nc; ++a) coef.row(a) = solved.row(Order(a));
    return coef.allFinite();
  }

  // GCV at λ = 10^exponent: the coefficients, M⁻¹ inside the band, tr S and
  // RSS (the hat matrix's diagonal is asked of the trial taken alone, Hat).
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
    const std::vector<std::ptrdiff_t>& at = layout_.position;
    t.inverseLocal.resize(at.size());
    for (size_t e = 0; e < at.size(); ++e)
      t.inverseLocal[e] = at[e] < 0 ? 0.0 : Z[static_cast<size_t>(at[e])];
    // tr S = tr(M⁻¹ BᵀWB) = Σ_ab M⁻¹_ab (BᵀWB)_ab, each pair once, from the
    // row of the one first in natural order (the offsets after a
    // coefficient's own): a sum over the coefficients' neighbours, not over
    // the points' 16 × 16.
    for (int a = 0; a < layout_.nc; ++a) {
      const double* g = &gram_[static_cast<size_t>(a) * kLocal];
      const double* z = &t.inverseLocal[static_cast<size_t>(a) * kLocal];
      double later = 0;
      for (int e = Offset(0, 0) + 1; e < kLocal; ++e) later += g[e] * z[e];
      t.trace += g[Offset(0, 0)] * z[Offset(0, 0)] + 2 * later;
    }
    const size_t n = rows_.size();
    for (const size_t i : rows_) {
      Vec2 fitted = Vec2::Zero();
      const std::array<double, 16>& B = basis_.value[i];
      for (int a = 0; a < 16; ++a) {
        const int ca = Coefficient(i, a);
        fitted += B[static_cast<size_t>(a)] * Vec2(t.coef(ca, 0), t.coef(ca, 1));
      }
      t.rss += w_[i] * (xn_[i] - fitted).squaredNorm();
    }
    const double points = static_cast<double>(n);
    if (!(t.trace <= points / 2)) return;
    t.gcv = points * t.rss / ((points - t.trace) * (points - t.trace));
    t.ok = std::isfinite(t.gcv);
  }

  // The hat matrix's diagonal at a trial, per point fitted: h_ii = w_i
  // b_iᵀ M⁻¹ b_i over the point's 16 coefficients, M⁻¹ symmetric:
  // Σ_a b_a (Z_aa b_a + 2 Σ_{b>a} Z_ab b_b).
  Eigen::VectorXd Hat(const Trial& t) const {
    Eigen::VectorXd hat(static_cast<Eigen::Index>(rows_.size()));
    for (size_t r = 0; r < rows_.size(); ++r) {
      const size_t i = rows_[r];
      double h = 0;
      const std::array<double, 16>& B = basis_.value[i];
      for (int a = 0; a < 16; ++a) {
        const int ca = Coefficient(i, a);
        const double ba = B[static_cast<size_t>(a)];
        const double* row = &t.inverseLocal[static_cast<size_t>(ca) * kLocal];
        double later = 0;
        for (int b = a + 1; b < 16; ++b) later += B[static_cast<size_t>(b)] * row[kPair.at[a][b]];
        h += ba * (row[Offset(0, 0)] * ba + 2 * later);
      }
      hat[static_cast<Eigen::Index>(r)] = w_[i] * h;
    }
    return hat;
  }

  std::vector<int> SolverOrder() const {
    std::vector<int> order(static_cast<size_t>(layout_.nc));
    for (int a = 0; a < layout_.nc; ++a) order[static_cast<size_t>(a)] = Order(a);
    return order;
  }

  size_t Points() const { return rows_.size(); }
  int Coefficients() const { return layout_.nc; }

 private:
  // Coefficient a of point i's 16 (a = 4·k + l for B_k(ũ) B_l(ṽ)).
  int Coefficient(size_t i, int a) const { return basis_.first[i] + (a / 4) * layout_.nv + a % 4; }
  // Where coefficient c sits in the factorised matrix.
  int Order(int c) const { return SolverIndex(c, layout_.nu, layout_.nv); }

  // M = BᵀWB + λ P into band storage, factorised.
  bool Factorise(double lambda, BandCholesky& factor) const {
    if (factor.Size() != layout_.nc || factor.Bandwidth() != layout_.band)
      factor = BandCholesky(layout_.nc, layout_.band);
    std::vector<double>& m = factor.Matrix();
    std::fill(m.begin(), m.end(), 0.0);
    for (const SplineLayout::Entry& e : layout_.fill)
      m[e.position] = gram_[e.gram] + lambda * e.penalty;
    return factor.Factorise();
  }

  const SplineLayout& layout_;
  const SplineBasis& basis_;
  const std::vector<double>& w_;
  const std::vector<Vec2>& xn_;
  std::vector<size_t> rows_;   // the points fitted
  std::vector<double>& gram_;  // BᵀWB on the local layout, as SumGram leaves it
  Eigen::MatrixXd rhs_;
  double wMean_ = 1;
};

// The trials of one search, by grid index, keeping the best. Trials the
// search is certain to take next are computed ahead, side by side on up to
// range.threads threads (Ahead); each is taken into the search only when the
// search reaches it, in the order a search one trial at a time would take
// them, so the result is the same on any number of threads.
class Search {
 public:
  // spare: storage of earlier trials, to take from and to give back to.
  Search(const SplineSystem& system, const SplineSearch& range, std::vector<Trial>& spare)
      : system_(system), range_(range), spare_(spare) {
    count_ = static_cast<int>(std::floor((range.highest - range.lowest) / range.step + 1e-9)) + 1;
    gcv_.assign(static_cast<size_t>(count_), kUntried);
    ahead_.resize(static_cast<size_t>(count_));
  }
  // Every trial's storage back to the spare ones (the best's factor and
  // M⁻¹ are taken before, by the solution).
  ~Search() {
    for (std::optional<Trial>& t : ahead_)
      if (t) spare_.push_back(std::move(*t));
    spare_.push_back(std::move(best_));
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;
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
    std::optional<Trial>& ahead = ahead_[static_cast<size_t>(i)];
    Trial t = ahead ? std::move(*ahead) : Spare();
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
  Trial& Best() { return best_; }

 private:
  double Exponent(int i) const { return range_.lowest + i * range_.step; }
  // A trial whose storage an earlier one left.
  Trial Spare() {
    if (spare_.empty()) return {};
    Trial t = std::move(spare_.back());
    spare_.pop_back();
    return t;
  }

  static constexpr double kUntried = -1;
  const SplineSystem& system_;
  SplineSearch range_;
  int count_ = 0;
  std::vector<double> gcv_;
  std::vector<std::optional<Trial>> ahead_;  // computed, not yet taken
  Trial best_;
  std::vector<Trial>& spare_;  // taken and not the best: storage to reuse
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

SplineBasis SplineBasisOf(const SplineGrid& grid, const std::vector<Vec2>& un) {
  SplineBasis basis;
  basis.knotsU = grid.knotsU;
  basis.knotsV = grid.knotsV;
  const int nv = grid.knotsV + 3;
  basis.first.resize(un.size());
  basis.value.resize(un.size());
  for (size_t i = 0; i < un.size(); ++i) {
    const detail::SplineSpan su = detail::BSplineSpan(grid.knotsU, un[i].x());
    const detail::SplineSpan sv = detail::BSplineSpan(grid.knotsV, un[i].y());
    basis.first[i] = su.first * nv + sv.first;
    for (int k = 0; k < 4; ++k)
      for (int l = 0; l < 4; ++l)
        basis.value[i][static_cast<size_t>(k * 4 + l)] = su.b[k] * sv.b[l];
  }
  return basis;
}

std::vector<Vec2> SplineValues(const Eigen::VectorXd& params, const SplineBasis& basis) {
  const int nv = basis.knotsV + 3, nc = (basis.knotsU + 3) * nv;
  if (params.size() != 2 * nc)
    throw std::invalid_argument("the spline's coefficients do not match its basis");
  const double* a = params.data();
  std::vector<Vec2> x(basis.Points(), Vec2::Zero());
  for (size_t i = 0; i < x.size(); ++i)
    for (int k = 0; k < 4; ++k)
      for (int l = 0; l < 4; ++l) {
        const int c = basis.first[i] + k * nv + l;
        const double b = basis.value[i][static_cast<size_t>(k * 4 + l)];
        x[i].x() += a[c] * b, x[i].y() += a[nc + c] * b;
      }
  return x;
}

SplineSolution FitSpline(SplineGrid grid, const SplineBasis& basis, const std::vector<bool>* keep,
                         const std::vector<Vec2>& xn, const std::vector<double>& w,
                         LambdaSearch mode, double exponent, const SplineSearch& range,
                         SplineWorkspace& work) {
  if (basis.knotsU != grid.knotsU || basis.knotsV != grid.knotsV || xn.size() != basis.Points() ||
      w.size() != basis.Points() || (keep && keep->size() != basis.Points()))
    throw std::invalid_argument("the spline's basis does not match its knots or points");
  SplineWorkspace::Storage& store = work.Store();
  if (store.layout.nu != grid.knotsU + 3 || store.layout.nv != grid.knotsV + 3)
    store.layout = SplineLayout(grid.knotsU + 3, grid.knotsV + 3);
  const SplineSystem system(store.layout, basis, keep, xn, w, store.gram);
  const int nc = system.Coefficients();
  SplineSolution s;
  s.grid = grid;
  if (mode == LambdaSearch::Fixed) {
    Eigen::MatrixXd coef;
    if (!system.Solve(exponent, store.fixed, coef))
      throw CalibError(CalibCause::FitFailed, "the spline's normal equations are singular");
    s.params.resize(2 * nc);
    s.params << coef.col(0), coef.col(1);
    s.lambdaExponent = exponent;
    s.grid.lambda = std::pow(10.0, exponent);
    return s;
  }
  Search search(system, range, store.spare);
  if (mode == LambdaSearch::Whole)
    search.Whole();
  else if (mode == LambdaSearch::Bracket)
    search.Whole(2);
  else
    search.Walk(search.IndexOf(exponent));
  if (!search.Best().ok && mode == LambdaSearch::Walk) search.Whole();
  Trial& best = search.Best();
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
  s.hat = system.Hat(best);
  // s² = RSS / (2n − 2 tr S): both coordinates, tr S effective parameters each.
  const double variance = best.rss / std::max(1.0, 2 * n - 2 * best.trace);
  s.covariance.form = ParamCovariance::Form::SplineLocal;
  s.covariance.local = std::move(best.inverseLocal);
  for (double& c : s.covariance.local) c *= variance;
  // The factor goes with the solution; the trial's storage goes back to the
  // workspace with an empty factor in its place (a moved-from one keeps its
  // size and no storage).
  s.covariance.factor = std::make_shared<SplineFactor>(std::exchange(best.factor, BandCholesky()),
                                                       system.SolverOrder(), variance);
  return s;
}

}  // namespace qova::calib
