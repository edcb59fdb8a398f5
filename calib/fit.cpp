#include "calib/fit.h"

#include <Eigen/Dense>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include "calib/calib_error.h"
#include "calib/linear_fit.h"
#include "calib/model_eval.h"
#include "calib/nonlinear_fit.h"
#include "calib/spline_fit.h"
#include "calib/vector_state.h"

namespace qova::calib {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The median; the mean of the middle two for an even count.
double Median(std::vector<double> v) {
  const size_t n = v.size();
  if (n == 0) return kNaN;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(n / 2), v.end());
  const double upper = v[n / 2];
  if (n % 2) return upper;
  return (*std::max_element(v.begin(), v.begin() + static_cast<long>(n / 2)) + upper) / 2;
}

// Floor division and a remainder that is never negative, as the lattice
// blocks of the folds need for negative indices.
int FloorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int PositiveMod(int a, int b) { return ((a % b) + b) % b; }

struct Normalised {
  PlateNormalisation plate;
  ImageNormalisation image;
  std::vector<Vec2> un, xn;
};

// The plate's extent onto [-1, 1]²; the image by Hartley's scaling: the
// centroid to 0, the mean distance from it to √2.
Normalised Normalise(const FitData& d) {
  Normalised n;
  n.plate.uMin = n.plate.uMax = d.uv[0].x();
  n.plate.vMin = n.plate.vMax = d.uv[0].y();
  Vec2 sum = Vec2::Zero();
  for (size_t i = 0; i < d.uv.size(); ++i) {
    n.plate.uMin = std::min(n.plate.uMin, d.uv[i].x());
    n.plate.uMax = std::max(n.plate.uMax, d.uv[i].x());
    n.plate.vMin = std::min(n.plate.vMin, d.uv[i].y());
    n.plate.vMax = std::max(n.plate.vMax, d.uv[i].y());
    sum += d.xy[i];
  }
  n.image.centre = sum / static_cast<double>(d.xy.size());
  double distance = 0;
  for (const Vec2& p : d.xy) distance += (p - n.image.centre).norm();
  n.image.scale = std::sqrt(2.0) / (distance / static_cast<double>(d.xy.size()));
  for (size_t i = 0; i < d.uv.size(); ++i) {
    n.un.push_back(n.plate.Apply(d.uv[i]));
    n.xn.push_back(n.image.Apply(d.xy[i]));
  }
  return n;
}

// One weighted fit of a family, and what its cross-validation needs.
struct Once {
  ModelData model;
  Eigen::VectorXd hat;  // the linear families and the spline
  std::optional<double> lambdaExponent;
};

// What a fit is for: a reweighting of the robust loop needs the parameters
// alone and loosely converged; the final fit everything, to the last bits; a
// cross-validation fold the parameters, loosely.
enum class Stage { Reweighting, Final, Fold };

// The threads a fit may use: params.threads, 0 for one a core.
int Threads(const FitParams& params) {
  return params.threads > 0 ? params.threads
                            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// One fit of a linear family (affine, polyN) on the Legendre terms of its points.
// keep: the rows fitted (null: all).
Once FitLinear(const ModelData& proto, const LegendreDesign& terms, const std::vector<Vec2>& xn,
               const std::vector<double>& w, const std::vector<bool>* keep, LinearWorkspace& work,
               Stage stage) {
  Once once;
  once.model = proto;
  LinearSolution s =
      FitLegendre(proto.kind.degree, terms, xn, w, keep, work, stage == Stage::Final);
  once.model.params = std::move(s.params);
  once.model.covariance.dense = std::move(s.covariance);
  once.hat = std::move(s.hat);
  return once;
}

// One fit of the spline on the crossings `keep` marks (null: all), on the
// knots their number calls for; basis: every crossing's on those knots,
// computed again only when the knots change.
Once FitSplineOnce(const ModelData& proto, const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
                   const std::vector<double>& w, const std::vector<bool>* keep, Stage stage,
                   std::optional<double> exponent, std::array<int, 2> cells, int threads,
                   SplineBasis& basis, SplineWorkspace& work) {
  const long kept =
      keep ? std::count(keep->begin(), keep->end(), true) : static_cast<long>(un.size());
  const SplineGrid grid = ChooseSplineGrid(cells[0], cells[1], static_cast<int>(kept));
  if (basis.knotsU != grid.knotsU || basis.knotsV != grid.knotsV || basis.Points() != un.size())
    basis = SplineBasisOf(grid, un);
  // The first fit brackets λ; the reweighted fits keep it, and the final
  // fit walks from it to the nearest minimum of GCV.
  const LambdaSearch search = !exponent               ? LambdaSearch::Bracket
                              : stage == Stage::Final ? LambdaSearch::Walk
                                                      : LambdaSearch::Fixed;
  SplineSearch range;
  range.threads = threads;
  SplineSolution s = FitSpline(grid, basis, keep, xn, w, search, exponent.value_or(0), range, work);
  Once once;
  once.model = proto;
  once.model.params = std::move(s.params);
  once.model.covariance = std::move(s.covariance);
  once.model.spline = s.grid;
  once.hat = std::move(s.hat);
  once.lambdaExponent = s.lambdaExponent;
  return once;
}

// warm: the parameters to start a non-linear fit from (empty: the DLT);
// exponent: the spline's λ of the fit before (none: search the whole range).
Once FitOnce(const ModelData& proto, const std::vector<Vec2>& un, const std::vector<Vec2>& xn,
             const std::vector<double>& w, const Eigen::VectorXd& warm, Stage stage,
             std::optional<double> exponent, std::array<int, 2> cells, int threads = 1) {
  Once once;
  once.model = proto;
  ModelData& m = once.model;
  switch (proto.kind.type) {
    case ModelType::Affine:
    case ModelType::Poly: {
      LinearWorkspace work;
      return FitLinear(proto, LegendreDesignOf(proto.kind.degree, un), xn, w, nullptr, work, stage);
    }
    case ModelType::Projective:
    case ModelType::Radial: {
      const double tolerance = stage == Stage::Final ? kStrict : kLoose;
      const NonlinearSolution s = proto.kind.type == ModelType::Projective
                                      ? FitProjective(un, xn, w, warm, tolerance)
                                      : FitRadial(un, xn, w, proto.radial, warm, tolerance);
      if (!s.converged)
        throw CalibError(CalibCause::FitFailed,
                         "the " + ModelName(proto.kind) + " model did not converge");
      if (s.covariance.size() == 0)
        throw CalibError(
            CalibCause::NotDetermined,
            "the crossings do not determine the " + ModelName(proto.kind) + " model's parameters");
      m.params = s.params;
      m.covariance.dense = s.covariance;
      return once;
    }
    case ModelType::Spline: {
      SplineBasis basis;
      SplineWorkspace work;
      return FitSplineOnce(proto, un, xn, w, nullptr, stage, exponent, cells, threads, basis, work);
    }
  }
  return once;
}

// The state of the robust loop after its last fit.
struct Loop {
  Once last;
  std::vector<double> weight;  // the weights the next fit would take
  std::vector<bool> out;       // the outliers of the last residuals
  std::vector<bool> fitted;    // the crossings the last fit took
  std::vector<Vec2> residual;  // px
  std::vector<double> z;
  double scale = 0;
  int iterations = 0;
};

template <class T>
std::vector<T> Pick(const std::vector<T>& all, const std::vector<bool>& keep) {
  std::vector<T> some;
  for (size_t i = 0; i < all.size(); ++i)
    if (keep[i]) some.push_back(all[i]);
  return some;
}

// Huber's weights on |r|·√w standardised by the median absolute deviation
// (×1.4826): w·min(1, k/z). A robust scale below a millionth of a pixel (an
// exact fit, whose residuals are rounding) is raised to it, so that rounding
// never makes outliers. rootW0 (√w0) and w0Median (the median of w0): what a
// loop computes once.
void RobustWeights(const std::vector<Vec2>& residual, const std::vector<double>& w0,
                   const std::vector<double>& rootW0, double w0Median, const FitParams& params,
                   Loop& loop) {
  const size_t n = residual.size();
  std::vector<double> r(n);
  for (size_t i = 0; i < n; ++i) r[i] = residual[i].norm() * rootW0[i];
  loop.scale = std::max(1.4826 * Median(r) + 1e-15, 1e-6 * std::sqrt(w0Median));
  loop.z.resize(n);
  loop.weight.resize(n);
  loop.out.assign(n, false);
  for (size_t i = 0; i < n; ++i) {
    const double z = r[i] / loop.scale;
    loop.z[i] = z;
    loop.weight[i] = w0[i] * (z <= params.huberK ? 1.0 : params.huberK / z);
    loop.out[i] = z > params.outlierSigmas;
  }
}

std::vector<Vec2> Residuals(const ModelData& m, const Normalised& norm, const FitData& data) {
  std::vector<Vec2> r(data.xy.size());
  for (size_t i = 0; i < r.size(); ++i)
    r[i] = data.xy[i] - m.image.Undo(detail::Evaluate(m, norm.un[i]));
  return r;
}

// The same for a linear family from the Legendre terms of every crossing:
// x̃ = Σ_t a_t T_t, ỹ = Σ_t b_t T_t, summed as Evaluate sums them.
std::vector<Vec2> LinearResiduals(const ModelData& m, const LegendreDesign& terms,
                                  const FitData& data) {
  const Eigen::Index p = terms.cols();
  const double* a = m.params.data();
  std::vector<Vec2> r(data.xy.size());
  for (size_t i = 0; i < r.size(); ++i) {
    const double* value = terms.row(static_cast<Eigen::Index>(i)).data();
    Vec2 x = Vec2::Zero();
    for (Eigen::Index t = 0; t < p; ++t) x.x() += a[t] * value[t], x.y() += a[p + t] * value[t];
    r[i] = data.xy[i] - m.image.Undo(x);
  }
  return r;
}

// The same for the spline from the basis of every crossing (the same bits as
// Evaluate).
std::vector<Vec2> SplineResiduals(const ModelData& m, const SplineBasis& basis,
                                  const FitData& data) {
  const std::vector<Vec2> x = SplineValues(m.params, basis);
  std::vector<Vec2> r(data.xy.size());
  for (size_t i = 0; i < r.size(); ++i) r[i] = data.xy[i] - m.image.Undo(x[i]);
  return r;
}

std::array<int, 2> Cells(const FitData& data) {
  int c0 = data.cell[0][0], c1 = c0, r0 = data.cell[0][1], r1 = r0;
  for (const auto& c : data.cell) {
    c0 = std::min(c0, c[0]), c1 = std::max(c1, c[0]);
    r0 = std::min(r0, c[1]), r1 = std::max(r1, c[1]);
  }
  return {c1 - c0, r1 - r0};
}

// Fit, reweight, leave the outliers out, fit again, until neither the
// outliers nor the weights (within 0.1 %) change; then the final fit with the
// last weights, and its residuals reweighted once more for the outliers. The
// spline searches λ in the first fit only and keeps it while reweighting; its
// final fit walks λ to the nearest minimum of GCV.
// `from`: the weights and outliers of an earlier loop to go on from.
Loop RobustLoop(const ModelData& proto, const Normalised& norm, const FitData& data,
                const FitParams& params, Eigen::VectorXd warm, const Loop* from) {
  Loop loop;
  const size_t n = data.xy.size();
  loop.weight = from ? from->weight : data.weight;
  loop.out = from ? from->out : std::vector<bool>(n, false);
  std::optional<double> lambda;
  const std::array<int, 2> cells = Cells(data);
  const int iterations = params.robust ? std::max(1, params.robustIterations) : 1;
  std::vector<double> fittedWeights;
  const double w0Median = Median(data.weight);
  std::vector<double> rootW0(n);
  for (size_t i = 0; i < n; ++i) rootW0[i] = std::sqrt(data.weight[i]);
  // A linear family's Legendre terms at every crossing, once: the reweighted
  // fits take the rows kept (in buffers kept across them), and the residuals
  // are the terms times the coefficients.
  const bool linear = proto.kind.type == ModelType::Affine || proto.kind.type == ModelType::Poly;
  const LegendreDesign terms =
      linear ? LegendreDesignOf(proto.kind.degree, norm.un) : LegendreDesign();
  LinearWorkspace work;
  // The spline's likewise: its basis at every crossing, and the storage its
  // fits hand on.
  const bool spline = proto.kind.type == ModelType::Spline;
  SplineBasis basis;
  SplineWorkspace splineWork;
  auto fit = [&](const std::vector<bool>& keep, const std::vector<double>& weight, Stage stage) {
    if (linear)
      loop.last = FitLinear(proto, terms, norm.xn, weight, &keep, work, stage);
    else if (spline)
      loop.last = FitSplineOnce(proto, norm.un, norm.xn, weight, &keep, stage, lambda, cells,
                                Threads(params), basis, splineWork);
    else
      loop.last = FitOnce(proto, Pick(norm.un, keep), Pick(norm.xn, keep), Pick(weight, keep), warm,
                          stage, lambda, cells, Threads(params));
    loop.fitted = keep;
    warm = loop.last.model.params;
    lambda = loop.last.lambdaExponent;
    loop.residual = linear   ? LinearResiduals(loop.last.model, terms, data)
                    : spline ? SplineResiduals(loop.last.model, basis, data)
                             : Residuals(loop.last.model, norm, data);
  };
  for (int it = 0; it < iterations; ++it) {
    StopIfCancelled(params);
    std::vector<bool> keep(n);
    for (size_t i = 0; i < n; ++i) keep[i] = !loop.out[i];
    if (static_cast<int>(std::count(keep.begin(), keep.end(), true)) <
        ParameterCount(proto.kind, proto.spline, proto.radial.centreFitted))
      throw CalibError(CalibCause::TooFewPoints,
                       "too many outliers: fewer crossings are left than the " +
                           ModelName(proto.kind) + " model has parameters");
    fittedWeights = loop.weight;
    fit(keep, fittedWeights, params.robust ? Stage::Reweighting : Stage::Final);
    loop.iterations = it + 1;
    const std::vector<double> before = loop.weight;
    const std::vector<bool> outBefore = loop.out;
    RobustWeights(loop.residual, data.weight, rootW0, w0Median, params, loop);
    if (!params.robust) {
      // One plain fit: the standardised residuals are reported, nothing is
      // reweighted or left out.
      loop.weight = before;
      loop.out = outBefore;
      return loop;
    }
    bool same = (it > 0 || from) && loop.out == outBefore;
    for (size_t i = 0; same && i < n; ++i)
      same = std::fabs(loop.weight[i] - before[i]) <= 1e-8 + 1e-3 * std::fabs(before[i]);
    if (same) break;
  }
  const std::vector<bool> keep = loop.fitted;
  StopIfCancelled(params);
  fit(keep, fittedWeights, Stage::Final);
  RobustWeights(loop.residual, data.weight, rootW0, w0Median, params, loop);
  return loop;
}

// Leave-one-out residuals of a linear fit in closed form: e_i / (1 − h_ii).
void LeaveOneOut(const Loop& loop, std::vector<Vec2>& cv) {
  Eigen::Index k = 0;
  for (size_t i = 0; i < cv.size(); ++i) {
    if (!loop.fitted[i]) continue;
    const double h = std::min(loop.last.hat[k++], 0.999);
    cv[i] = loop.residual[i] / (1 - h);
  }
}

// Each crossing's fold: crossing (c, r) is in fold ((c ÷ b)·7 + (r ÷ b)·3)
// mod k, so neighbours (which share errors) are left out together.
std::vector<int> FoldsOf(const FitData& data, const FitParams& params) {
  const int k = std::max(2, params.folds), b = std::max(1, params.foldBlock);
  std::vector<int> fold(data.xy.size());
  for (size_t i = 0; i < fold.size(); ++i)
    fold[i] = PositiveMod(FloorDiv(data.cell[i][0], b) * 7 + FloorDiv(data.cell[i][1], b) * 3, k);
  return fold;
}

// ∂x̃/∂θ of a non-linear family at one point, 2 × P, P = 8, 13 or 15.
template <int P>
Eigen::Matrix<double, 2, P> NonlinearGradient(const ModelData& m, const Vec2& n, Vec2& value) {
  Eigen::Matrix<double, 2, P> J;
  if (m.kind.type == ModelType::Projective)
    detail::ProjectiveGradient(m.params.data(), n, value, J.data());
  else
    detail::RadialGradient(m.params.data(), m.radial, n, P, value, J.data());
  return J;
}

// The folds of a non-linear family by Gauss–Newton from the whole fit θ̂:
// the normal equations of every crossing fitted at θ̂, A = Σ w JᵀJ and
// g = Σ w Jᵀ r (r = F(θ̂) − x̃), less a fold's own terms, are the training
// fit's at θ̂, and `steps` Gauss–Newton steps from there,
//   θ ← θ − (A − A_f)⁻¹ (g − g_f),
// take it to the training fit's minimum (the folds move θ by about a
// standard error, where the model is linear to second order: one step
// leaves the cross-validation residuals within a small part of their σ of
// the converged fit's; each further step is one pass over the crossings).
// A fold whose system is singular predicts nothing.
template <int P>
void FoldsByGaussNewton(const ModelData& model, const Loop& loop, const Normalised& norm,
                        const FitData& data, const FitParams& params, std::vector<Vec2>& cv) {
  using Vector = Eigen::Matrix<double, P, 1>;
  using Matrix = Eigen::Matrix<double, P, P>;
  const size_t n = data.xy.size();
  const int k = std::max(2, params.folds);
  const std::vector<int> fold = FoldsOf(data, params);
  std::vector<Matrix> A(static_cast<size_t>(k), Matrix::Zero());
  std::vector<Vector> g(static_cast<size_t>(k), Vector::Zero());
  std::vector<int> tested(static_cast<size_t>(k), 0), trained(static_cast<size_t>(k), 0);
  Matrix allA = Matrix::Zero();
  Vector allG = Vector::Zero();
  int all = 0;
  Vec2 value;
  for (size_t i = 0; i < n; ++i) {
    if (loop.out[i]) continue;
    const Eigen::Matrix<double, 2, P> J = NonlinearGradient<P>(model, norm.un[i], value);
    const size_t f = static_cast<size_t>(fold[i]);
    const double w = loop.weight[i];
    A[f].noalias() += w * J.transpose() * J;
    g[f].noalias() += w * J.transpose() * (value - norm.xn[i]);
    ++tested[f], ++all;
  }
  for (size_t f = 0; f < A.size(); ++f) allA += A[f], allG += g[f];
  for (int f = 0; f < k; ++f) {
    const size_t ff = static_cast<size_t>(f);
    trained[ff] = all - tested[ff];
    if (tested[ff] == 0 || trained[ff] < params.minTrainingPoints) continue;
    ModelData m = model;
    Matrix trainA = allA - A[ff];
    Vector trainG = allG - g[ff];
    bool ok = true;
    for (int step = 0; ok && step < params.foldSteps; ++step) {
      if (step > 0) {
        // The training normal equations afresh at the last step's θ.
        trainA.setZero(), trainG.setZero();
        for (size_t i = 0; i < n; ++i) {
          if (loop.out[i] || fold[i] == f) continue;
          const Eigen::Matrix<double, 2, P> J = NonlinearGradient<P>(m, norm.un[i], value);
          trainA.noalias() += loop.weight[i] * J.transpose() * J;
          trainG.noalias() += loop.weight[i] * J.transpose() * (value - norm.xn[i]);
        }
      }
      const Eigen::LDLT<Matrix> solver(trainA);
      const Vector delta = solver.solve(trainG);
      ok = solver.info() == Eigen::Success && delta.allFinite();
      if (ok) m.params.head<P>() -= delta;
    }
    if (!ok) continue;
    for (size_t i = 0; i < n; ++i)
      if (!loop.out[i] && fold[i] == f)
        cv[i] = data.xy[i] - m.image.Undo(detail::Evaluate(m, norm.un[i]));
  }
}

// Block folds (FoldsOf): each fold's fit on the other crossings predicts its
// own. The non-linear families' folds by Gauss–Newton from the whole fit
// (FoldsByGaussNewton) unless params.foldSteps is 0.
void BlockFolds(const ModelData& model, const Loop& loop, const Normalised& norm,
                const FitData& data, const FitParams& params, std::vector<Vec2>& cv) {
  if (params.foldSteps > 0) {
    if (model.kind.type == ModelType::Projective)
      return FoldsByGaussNewton<8>(model, loop, norm, data, params, cv);
    if (model.kind.type == ModelType::Radial && model.radial.centreFitted)
      return FoldsByGaussNewton<15>(model, loop, norm, data, params, cv);
    if (model.kind.type == ModelType::Radial)
      return FoldsByGaussNewton<13>(model, loop, norm, data, params, cv);
  }
  const size_t n = data.xy.size();
  const int k = std::max(2, params.folds);
  const std::vector<int> fold = FoldsOf(data, params);
  for (int f = 0; f < k; ++f) {
    StopIfCancelled(params);
    std::vector<bool> train(n), test(n);
    int trained = 0, tested = 0;
    for (size_t i = 0; i < n; ++i) {
      train[i] = !loop.out[i] && fold[i] != f;
      test[i] = !loop.out[i] && fold[i] == f;
      trained += train[i], tested += test[i];
    }
    if (tested == 0 || trained < params.minTrainingPoints) continue;
    try {
      const Once once =
          FitOnce(model, Pick(norm.un, train), Pick(norm.xn, train), Pick(loop.weight, train),
                  model.params, Stage::Fold, std::nullopt, {0, 0});
      for (size_t i = 0; i < n; ++i)
        if (test[i])
          cv[i] = data.xy[i] - once.model.image.Undo(detail::Evaluate(once.model, norm.un[i]));
    } catch (const CalibError&) {
      // A fold the model cannot be fitted on predicts nothing.
    }
  }
}

double RootMeanSquare(const std::vector<Vec2>& r, const std::vector<bool>* only) {
  double sum = 0;
  int count = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    if ((only && !(*only)[i]) || !r[i].allFinite()) continue;
    sum += r[i].squaredNorm();
    ++count;
  }
  return count ? std::sqrt(sum / count) : kNaN;
}

}  // namespace

void StopIfCancelled(const FitParams& params) {
  if (params.cancel != nullptr && params.cancel->load(std::memory_order_relaxed))
    throw CalibError(CalibCause::Cancelled, "the calibration was cancelled");
}

void CheckFitData(const FitData& data) {
  const size_t n = data.xy.size();
  if (data.uv.size() != n || data.weight.size() != n || data.cell.size() != n)
    throw CalibError(CalibCause::BadInput,
                     "the crossings' plate points, image points, weights "
                     "and indices differ in number");
  if (n == 0) throw CalibError(CalibCause::TooFewPoints, "there are no crossings to fit");
  for (size_t i = 0; i < n; ++i)
    if (!data.uv[i].allFinite() || !data.xy[i].allFinite() || !(data.weight[i] > 0) ||
        !std::isfinite(data.weight[i]))
      throw CalibError(CalibCause::BadInput, "crossing " + std::to_string(i + 1) +
                                                 " has a coordinate or weight that is not a "
                                                 "finite number");
  if (data.imageWidth <= 0 || data.imageHeight <= 0)
    throw CalibError(CalibCause::BadInput, "the image size must be positive");
  // Two lattice directions: the plate points' scatter has rank two.
  Vec2 mean = Vec2::Zero();
  for (const Vec2& p : data.uv) mean += p;
  mean /= static_cast<double>(n);
  Eigen::Matrix2d scatter = Eigen::Matrix2d::Zero();
  for (const Vec2& p : data.uv) scatter += (p - mean) * (p - mean).transpose();
  const double det = scatter.determinant(), trace = scatter.trace();
  if (!(det > 1e-12 * trace * trace))
    throw CalibError(CalibCause::Collinear,
                     "all crossings lie on one line of the lattice: a model needs two "
                     "directions");
}

FitResult FitModel(ModelKind kind, const FitData& data, const FitParams& params) {
  ClearUpperVectorState();
  CheckFitData(data);
  const int n = static_cast<int>(data.xy.size());
  const int needed = kind.type == ModelType::Spline ? 32 : ParameterCount(kind, {}, false);
  if (n < needed)
    throw CalibError(CalibCause::TooFewPoints,
                     std::to_string(n) + " crossings are fewer than the " + ModelName(kind) +
                         " model's " + std::to_string(needed) + " parameters");
  const Normalised norm = Normalise(data);
  ModelData proto;
  proto.kind = kind;
  proto.plate = norm.plate;
  proto.image = norm.image;
  proto.pitch = data.pitch;
  proto.imageWidth = data.imageWidth;
  proto.imageHeight = data.imageHeight;
  // The radial model's centre starts (and, unless fitted, stays) at the
  // image centre; R̃ is the half-diagonal.
  proto.radial.centre =
      norm.image.Apply(Vec2((data.imageWidth - 1) / 2.0, (data.imageHeight - 1) / 2.0));
  proto.radial.radius = norm.image.scale * std::hypot(data.imageWidth, data.imageHeight) / 2;
  Loop loop = RobustLoop(proto, norm, data, params, Eigen::VectorXd(), nullptr);
  if (kind.type == ModelType::Radial) {
    // Free the centre from the fixed-centre solution; keep it free only when
    // the crossings determine it.
    ModelData freed = loop.last.model;
    freed.radial.centreFitted = true;
    Eigen::VectorXd start(15);
    start << loop.last.model.params, proto.radial.centre;
    const NonlinearSolution s =
        FitRadial(Pick(norm.un, loop.fitted), Pick(norm.xn, loop.fitted),
                  Pick(loop.weight, loop.fitted), freed.radial, start, kLoose);
    const double sx =
        s.covariance.size() ? std::sqrt(s.covariance(13, 13)) / norm.image.scale : kNaN;
    const double sy =
        s.covariance.size() ? std::sqrt(s.covariance(14, 14)) / norm.image.scale : kNaN;
    if (s.converged && sx < params.centreDetermined * data.imageWidth &&
        sy < params.centreDetermined * data.imageHeight) {
      // Crossings nearly free of noise make the standard errors small even
      // where the centre is barely determined (no radial distortion to
      // place it): if the fit with the centre free then does not converge,
      // the fixed centre's fit stands.
      ModelData withCentre = proto;
      withCentre.radial.centreFitted = true;
      try {
        const Loop fixed = loop;
        loop = RobustLoop(withCentre, norm, data, params, s.params, &fixed);
        proto = withCentre;
      } catch (const CalibError&) {
      }
    }
  }
  FitResult r;
  ModelData model = loop.last.model;
  r.residual = loop.residual;
  r.outlier = loop.out;
  r.weight = loop.weight;
  r.z = loop.z;
  r.robustScale = loop.scale;
  r.iterations = loop.iterations;
  r.cvResidual.assign(data.xy.size(), Vec2(kNaN, kNaN));
  if (loop.last.hat.size() > 0)
    LeaveOneOut(loop, r.cvResidual);
  else
    BlockFolds(model, loop, norm, data, params, r.cvResidual);
  std::vector<bool> inliers(loop.out.size());
  for (size_t i = 0; i < inliers.size(); ++i) inliers[i] = !loop.out[i];
  r.rms = RootMeanSquare(r.residual, &inliers);
  r.maxResidual = 0;
  for (size_t i = 0; i < inliers.size(); ++i)
    if (inliers[i]) r.maxResidual = std::max(r.maxResidual, r.residual[i].norm());
  r.cvRms = RootMeanSquare(r.cvResidual, nullptr);
  r.parameters = kind.type == ModelType::Spline ? 2 * model.spline.effectiveParameters
                                                : static_cast<double>(model.params.size());
  model.rms = r.rms;
  model.cvRms = r.cvRms;
  model.points = static_cast<int>(std::count(inliers.begin(), inliers.end(), true));
  r.model = Model(std::move(model));
  return r;
}

AutoResult FitAuto(const FitData& data, const FitParams& params) {
  CheckFitData(data);
  AutoResult a;
  const std::vector<std::string>& names = ModelNames();
  a.candidates.resize(names.size());
  // The families side by side, the spline (the longest) first; each writes
  // only its own candidate.
  std::vector<size_t> order(names.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = order.size() - 1 - k;
  std::atomic<size_t> next{0};
  std::mutex guard;
  std::exception_ptr failure;
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < order.size();) {
      Candidate& c = a.candidates[order[i]];
      c.name = names[order[i]];
      try {
        StopIfCancelled(params);
        c.fit = FitModel(*ParseModelKind(c.name), data, params);
        c.fitted = std::isfinite(c.fit.cvRms);
        if (!c.fitted) c.error = "no cross-validation fold could be fitted";
      } catch (const CalibError& e) {
        c.error = e.what();
        c.cause = e.cause();
        // A stop ends the whole comparison, not one family.
        if (e.cause() == CalibCause::Cancelled) {
          const std::lock_guard<std::mutex> lock(guard);
          if (!failure) failure = std::current_exception();
        }
      } catch (...) {
        const std::lock_guard<std::mutex> lock(guard);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t workers =
      std::min(order.size(), static_cast<size_t>(params.threads > 0 ? params.threads : cores));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < workers; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
  double best = std::numeric_limits<double>::infinity();
  for (const Candidate& c : a.candidates)
    if (c.fitted) best = std::min(best, c.fit.cvRms);
  const double within = std::max((1 + params.autoTolerance) * best, best + params.autoFloor);
  for (size_t i = 0; i < a.candidates.size(); ++i) {
    const Candidate& c = a.candidates[i];
    if (!c.fitted || !(c.fit.cvRms <= within)) continue;
    if (a.chosen < 0 ||
        c.fit.parameters < a.candidates[static_cast<size_t>(a.chosen)].fit.parameters)
      a.chosen = static_cast<int>(i);
  }
  if (a.chosen < 0)
    throw CalibError(a.candidates.front().cause,
                     "no model could be fitted: " + a.candidates.front().error);
  return a;
}

}  // namespace qova::calib
