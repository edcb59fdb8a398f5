#include "calib/fit.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>

#include "calib/calib_error.h"
#include "calib/figures.h"
#include "calib/linear_fit.h"
#include "calib/nonlinear_fit.h"
#include "calib/spline_fit.h"
#include "tests/support/calib_plates.h"

namespace qova::calib {
namespace {

using test::FitDataOf;
using test::StandardPlate;
using test::TruthOf;

struct Case {
  const char* plate;
  const char* family;
};

// Each family fitted to the plate of its own distortion: the nonlinearity
// at the region's corners (against the best affine and projective maps) as
// the truth has it, within 0.01 px and within 3 of its standard errors. Each
// plate is drawn with four noises: 64 comparisons, of which a normal error
// leaves about one in 370 beyond 3 σ, so a few may be; none beyond 4.5 σ.
// The spline's standard error at a corner is about 0.004 px (its knots two
// cells apart, the corner held by few crossings): 0.01 px is 2.5 σ there, so
// it may pass that by a little on two comparisons of the 64, and its errors'
// root mean square is held to half of it.
class Recovers : public ::testing::TestWithParam<Case> {};

TEST_P(Recovers, TheNonlinearityAtTheCornersAsTheTruthHasIt) {
  int compared = 0, beyond3 = 0, beyondHundredth = 0;
  double square = 0;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const auto setup = StandardPlate(GetParam().plate, seed);
    const FitData data = FitDataOf(setup, MakeLatticePoints(setup));
    const FitResult fit = FitModel(*ParseModelKind(GetParam().family), data);
    const NonlinearityPair model = NonlinearityOf(fit.model);
    const NonlinearityPair truth = NonlinearityOfMap(TruthOf(setup.distortion, data.pitch),
                                                     fit.model.data().plate, data.pitch);
    for (size_t c = 0; c < 4; ++c)
      for (const auto& [m, t] :
           {std::pair{model.affine.corners[c], truth.affine.corners[c]},
            std::pair{model.projective.corners[c], truth.projective.corners[c]}})
        for (const auto& [a, b] : {std::pair{m.dx, t.dx}, std::pair{m.dy, t.dy}}) {
          const double error = std::fabs(a.value - b.value);
          ++compared;
          // A projective model's deviation from the best projective map is
          // 0, and so is its standard error: rounding only.
          beyond3 += error > 3 * a.sigma + 1e-9;
          EXPECT_LE(error, 4.5 * a.sigma + 1e-9)
              << "seed " << seed << " corner " << c << ": " << a.value << " ± " << a.sigma
              << " against " << b.value;
          beyondHundredth += error > 0.01;
          square += error * error;
          EXPECT_LE(error, 0.012) << "seed " << seed << " corner " << c;
        }
    EXPECT_EQ(std::count(fit.outlier.begin(), fit.outlier.end(), true), 0);
    // The residuals are the noise's: √2 σ for the two coordinates.
    EXPECT_NEAR(fit.rms, std::sqrt(2.0) * test::kNoise, 0.15 * std::sqrt(2.0) * test::kNoise);
  }
  EXPECT_LE(beyond3, 3) << "of " << compared;
  const bool spline = std::string(GetParam().family) == "spline";
  EXPECT_LE(beyondHundredth, spline ? 2 : 0) << "of " << compared;
  EXPECT_LE(std::sqrt(square / compared), spline ? 0.005 : 0.003);
}

INSTANTIATE_TEST_SUITE_P(
    StandardPlates, Recovers,
    ::testing::Values(Case{"perspective", "projective"}, Case{"rotated", "affine"},
                      Case{"rotated", "projective"}, Case{"radial", "radial"},
                      Case{"radial-off-centre", "radial"}, Case{"warp", "poly3"},
                      Case{"warp", "poly5"}, Case{"stepping", "spline"}),
    [](const ::testing::TestParamInfo<Case>& param) {
      std::string name = std::string(param.param.plate) + "_" + param.param.family;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

// auto takes the generating family, or one with no more parameters whose
// cross-validated RMS is within 5 % of the best.
TEST(Auto, TakesTheGeneratingFamilyOrASimplerOne) {
  for (const Case c :
       {Case{"perspective", "projective"}, Case{"radial", "radial"}, Case{"warp", "poly3"},
        Case{"stepping", "spline"}, Case{"rotated", "affine"}}) {
    const auto setup = StandardPlate(c.plate);
    const AutoResult a = FitAuto(FitDataOf(setup, MakeLatticePoints(setup)));
    ASSERT_EQ(a.candidates.size(), ModelNames().size());
    const Candidate& chosen = a.candidates[static_cast<size_t>(a.chosen)];
    double best = INFINITY;
    const Candidate* generating = nullptr;
    for (const Candidate& k : a.candidates) {
      EXPECT_TRUE(k.fitted) << c.plate << " " << k.name << ": " << k.error;
      best = std::min(best, k.fit.cvRms);
      if (k.name == c.family) generating = &k;
    }
    ASSERT_NE(generating, nullptr);
    EXPECT_LE(chosen.fit.cvRms, 1.05 * best) << c.plate;
    EXPECT_LE(chosen.fit.parameters, generating->fit.parameters) << c.plate << ": " << chosen.name;
    EXPECT_EQ(chosen.name, c.family) << c.plate;
  }
}

// The folds of the non-linear families by one Gauss–Newton step from the
// whole fit give the cross-validation residuals of folds fitted to
// convergence: within a hundredth of the noise where the model fits, and
// the CV RMS within 0.1 % where it does not.
TEST(CrossValidation, GaussNewtonFoldsAgreeWithFoldsFittedToConvergence) {
  struct FoldCase {
    const char* plate;
    const char* family;
    bool fits;  // the plate's own family
  };
  for (const FoldCase c :
       {FoldCase{"perspective", "projective", true}, FoldCase{"radial", "radial", true},
        FoldCase{"radial", "projective", false}, FoldCase{"radial-off-centre", "radial", true}}) {
    const auto setup = StandardPlate(c.plate);
    const FitData data = FitDataOf(setup, MakeLatticePoints(setup));
    FitParams converged, stepped;
    converged.foldSteps = 0;
    const FitResult a = FitModel(*ParseModelKind(c.family), data, converged);
    const FitResult b = FitModel(*ParseModelKind(c.family), data, stepped);
    double worst = 0;
    for (size_t i = 0; i < a.cvResidual.size(); ++i) {
      ASSERT_EQ(a.cvResidual[i].allFinite(), b.cvResidual[i].allFinite());
      if (a.cvResidual[i].allFinite())
        worst = std::max(worst, (a.cvResidual[i] - b.cvResidual[i]).norm());
    }
    if (c.fits) {
      EXPECT_LT(worst, 0.01 * test::kNoise) << c.plate << " " << c.family;
    }
    EXPECT_NEAR(b.cvRms, a.cvRms, 1e-3 * a.cvRms) << c.plate << " " << c.family;
    EXPECT_GT(b.cvRms, 0.9 * b.rms) << c.plate << " " << c.family;
  }
}

// The families side by side, and the spline's trials of λ computed ahead on
// several threads: every figure the same, to the bit, as on one thread.
TEST(Auto, TheSameBitsOnAnyNumberOfThreads) {
  for (const char* plate : {"radial", "stepping"}) {
    const auto setup = StandardPlate(plate);
    const FitData data = FitDataOf(setup, MakeLatticePoints(setup));
    FitParams one, three;
    one.threads = 1, three.threads = 3;
    const AutoResult a = FitAuto(data, one), b = FitAuto(data, three);
    EXPECT_EQ(a.chosen, b.chosen) << plate;
    for (size_t k = 0; k < a.candidates.size(); ++k) {
      const FitResult &x = a.candidates[k].fit, &y = b.candidates[k].fit;
      const std::string name = std::string(plate) + " " + a.candidates[k].name;
      EXPECT_EQ(x.cvRms, y.cvRms) << name;
      EXPECT_EQ(x.parameters, y.parameters) << name;
      EXPECT_EQ(x.outlier, y.outlier) << name;
      EXPECT_EQ(x.model.data().params, y.model.data().params) << name;
      EXPECT_EQ(x.model.data().spline.lambda, y.model.data().spline.lambda) << name;
      EXPECT_EQ(x.model.data().covariance.local, y.model.data().covariance.local) << name;
      for (const Vec2& uv : data.uv)
        ASSERT_EQ(x.model.PredictSigmaAtPlate(uv), y.model.PredictSigmaAtPlate(uv)) << name;
    }
  }
}

// The direct linear transform normalised as Hartley and Zisserman describe
// (algorithm 4.2): each point set translated to its centroid and scaled to a
// mean distance of √2, the null vector of the stacked equations by SVD, the
// normalisations undone. From the true points, the truth's homography.
Eigen::Matrix3d NormalisedDlt(const std::vector<Vec2>& from, const std::vector<Vec2>& to) {
  auto similarity = [](const std::vector<Vec2>& p) {
    Vec2 c = Vec2::Zero();
    for (const Vec2& q : p) c += q;
    c /= static_cast<double>(p.size());
    double d = 0;
    for (const Vec2& q : p) d += (q - c).norm();
    const double s = std::sqrt(2.0) * static_cast<double>(p.size()) / d;
    Eigen::Matrix3d T;
    T << s, 0, -s * c.x(), 0, s, -s * c.y(), 0, 0, 1;
    return T;
  };
  const Eigen::Matrix3d T = similarity(from), U = similarity(to);
  Eigen::MatrixXd A(2 * from.size(), 9);
  for (size_t i = 0; i < from.size(); ++i) {
    const Eigen::Vector3d x = T * from[i].homogeneous();
    const Eigen::Vector3d y = U * to[i].homogeneous();
    const Eigen::Index r = 2 * static_cast<Eigen::Index>(i);
    A.row(r) << 0, 0, 0, -y.z() * x.transpose(), y.y() * x.transpose();
    A.row(r + 1) << y.z() * x.transpose(), 0, 0, 0, -y.x() * x.transpose();
  }
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(A, Eigen::ComputeFullV);
  const Eigen::VectorXd h = svd.matrixV().col(8);
  Eigen::Matrix3d Hn;
  Hn << h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8];
  Eigen::Matrix3d H = U.inverse() * Hn * T;
  return H / H(2, 2);
}

TEST(Projective, MatchesTheNormalisedDirectLinearTransformOfTheTruePoints) {
  const auto setup = StandardPlate("perspective");
  const auto points = MakeLatticePoints(setup);
  const FitData data = FitDataOf(setup, points);
  std::vector<Vec2> plate, truth;
  for (const LatticePoint& p : points)
    plate.emplace_back(p.column, p.row), truth.emplace_back(p.trueX, p.trueY);
  const Eigen::Matrix3d reference = NormalisedDlt(plate, truth);
  const FitResult fit = FitModel(*ParseModelKind("projective"), data);
  const ProjectiveInPixels mine = ProjectiveMatrix(fit.model);
  for (int k = 0; k < 8; ++k) {
    const double error = mine.H(k / 3, k % 3) - reference(k / 3, k % 3);
    const double sigma = std::sqrt(mine.covariance(k, k));
    EXPECT_LE(std::fabs(error), 3 * sigma) << "h" << k << ": " << mine.H(k / 3, k % 3) << " ± "
                                           << sigma << " against " << reference(k / 3, k % 3);
    EXPECT_GT(sigma, 0);
  }
}

// The standard errors of predicted positions against the errors of fits to
// the same plate with other noise: their root mean square about the truth
// (for the spline, whose smoothing trades noise for bias, the Bayesian
// standard error answers for both).
TEST(Uncertainty, PredictedStandardErrorsMatchTheErrorsOfRepeatedFits) {
  for (const Case c :
       {Case{"perspective", "projective"}, Case{"warp", "poly3"}, Case{"rotated", "affine"},
        Case{"radial", "radial"}, Case{"stepping", "spline"}}) {
    auto setup = StandardPlate(c.plate);
    setup.columns = 20, setup.rows = 15, setup.distortion.pitchX = setup.distortion.pitchY = 90;
    setup.distortion.stepPeriod = 8 * 90;
    const auto truth = TruthOf(setup.distortion, {1, 1});
    const std::vector<Vec2> probes = {Vec2(0, 0), Vec2(3.3, 11.7), Vec2(19, 14), Vec2(10, 7)};
    const int runs = 200;
    std::vector<Vec2> square(probes.size(), Vec2::Zero()), sigma(probes.size());
    for (int r = 0; r < runs; ++r) {
      setup.seed = 1000 + static_cast<unsigned>(r);
      FitParams p;
      p.robust = false;  // the plain weighted fit
      const FitResult fit =
          FitModel(*ParseModelKind(c.family), FitDataOf(setup, MakeLatticePoints(setup)), p);
      for (size_t k = 0; k < probes.size(); ++k) {
        square[k] += (fit.model.ToImage(probes[k]) - truth(probes[k])).cwiseAbs2();
        if (r == 0) sigma[k] = fit.model.PredictSigmaAtPlate(probes[k]);
      }
    }
    // 200 runs: the error's RMS is known to 5 %, one run's σ to about 3 %.
    for (size_t k = 0; k < probes.size(); ++k)
      for (int axis = 0; axis < 2; ++axis) {
        const double rms = std::sqrt(square[k][axis] / runs);
        EXPECT_NEAR(sigma[k][axis] / rms, 1, 0.25)
            << c.family << " at " << probes[k].transpose() << " axis " << axis << ": σ "
            << sigma[k][axis] << ", RMS error " << rms;
      }
  }
}

TEST(BadInput, FewerCrossingsThanParametersOrOneLineAreRefused) {
  auto setup = StandardPlate("warp");
  setup.columns = 5, setup.rows = 5;  // 25 crossings
  const FitData data = FitDataOf(setup, MakeLatticePoints(setup));
  try {
    FitModel(*ParseModelKind("poly4"), data);  // 30 parameters
    FAIL();
  } catch (const CalibError& e) {
    EXPECT_EQ(e.cause(), CalibCause::TooFewPoints);
    EXPECT_NE(std::string(e.what()).find("30"), std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(FitModel(*ParseModelKind("poly3"), data));
  setup.columns = 40, setup.rows = 1;
  try {
    FitModel(*ParseModelKind("affine"), FitDataOf(setup, MakeLatticePoints(setup)));
    FAIL();
  } catch (const CalibError& e) {
    EXPECT_EQ(e.cause(), CalibCause::Collinear);
  }
  // A lattice of three columns does not determine a cubic in u.
  setup.columns = 3, setup.rows = 30;
  try {
    FitModel(*ParseModelKind("poly3"), FitDataOf(setup, MakeLatticePoints(setup)));
    FAIL();
  } catch (const CalibError& e) {
    EXPECT_EQ(e.cause(), CalibCause::NotDetermined) << e.what();
  }
  FitData bad = data;
  bad.xy[3].x() = NAN;
  EXPECT_THROW(FitModel(*ParseModelKind("affine"), bad), CalibError);
}

TEST(Robust, AnOutlierIsLeftOutAndNamed) {
  const auto setup = StandardPlate("perspective");
  FitData data = FitDataOf(setup, MakeLatticePoints(setup));
  data.xy[100] += Vec2(0.3, -0.2);  // 60 σ off
  for (const char* family : {"projective", "poly4", "spline"}) {
    const FitResult fit = FitModel(*ParseModelKind(family), data);
    EXPECT_TRUE(fit.outlier[100]) << family;
    EXPECT_EQ(std::count(fit.outlier.begin(), fit.outlier.end(), true), 1) << family;
    EXPECT_GT(fit.z[100], 5) << family;
    EXPECT_LT(fit.rms, 0.01) << family;
  }
}

// The robust loop's residuals (the linear families' from their Legendre
// terms computed once, the spline's from its basis) are the fitted model's
// own, to the bit, at every crossing, the outlier too.
TEST(Robust, TheResidualsAreTheFittedModelsOwn) {
  const auto setup = StandardPlate("warp");
  FitData data = FitDataOf(setup, MakeLatticePoints(setup));
  data.xy[100] += Vec2(0.3, -0.2);
  for (const char* family : {"affine", "poly2", "poly3", "poly6", "projective", "spline"}) {
    const FitResult fit = FitModel(*ParseModelKind(family), data);
    for (size_t i = 0; i < data.xy.size(); ++i)
      ASSERT_EQ(fit.residual[i], data.xy[i] - fit.model.ToImage(data.uv[i])) << family << " " << i;
  }
}

// The warp plate's plate and image points mapped roughly onto [−1, 1], as a
// fit's normalisation would, with uneven weights: the fits' own inputs, for
// the tests that compare two ways of making one fit.
struct NormalisedPlate {
  std::vector<Vec2> un, xn;
  std::vector<double> w;
};
NormalisedPlate RoughlyNormalisedWarpPlate() {
  const auto setup = StandardPlate("warp");
  const FitData data = FitDataOf(setup, MakeLatticePoints(setup));
  NormalisedPlate p;
  for (size_t i = 0; i < data.uv.size(); ++i) {
    p.un.push_back(Vec2(data.uv[i].x() / 20 - 0.9, data.uv[i].y() / 15 - 0.8));
    p.xn.push_back(Vec2(data.xy[i].x() / 1000 - 1, data.xy[i].y() / 800 - 1));
    p.w.push_back(0.5 + static_cast<double>((i * 37) % 11) / 7);
  }
  return p;
}

// A linear fit on the rows of the whole design that a mask keeps, in buffers
// kept from a fit of another size, is the fit on those rows alone, to the bit:
// the coefficients, their covariance and the hat matrix's diagonal.
TEST(Linear, AFitOnTheKeptRowsIsTheFitOnThoseRowsAlone) {
  const auto [un, xn, w] = RoughlyNormalisedWarpPlate();
  for (const int degree : {1, 3, 6}) {
    const LegendreDesign terms = LegendreDesignOf(degree, un);
    LinearWorkspace work;
    for (int pass = 0; pass < 3; ++pass) {
      // All rows, then every third left out, then a block left out.
      std::vector<bool> keep(un.size(), true);
      for (size_t i = 0; i < keep.size(); ++i)
        keep[i] = pass == 0 || (pass == 1 ? i % 3 != 1 : (i < 40 || i > 200));
      std::vector<Vec2> someUn, someXn;
      std::vector<double> someW;
      for (size_t i = 0; i < keep.size(); ++i)
        if (keep[i]) someUn.push_back(un[i]), someXn.push_back(xn[i]), someW.push_back(w[i]);
      for (const bool complete : {false, true}) {
        const LinearSolution alone = FitLegendre(degree, someUn, someXn, someW, complete);
        const LinearSolution kept = FitLegendre(degree, terms, xn, w, &keep, work, complete);
        EXPECT_EQ(kept.params, alone.params) << degree << " " << pass;
        EXPECT_EQ(kept.covariance, alone.covariance) << degree << " " << pass;
        EXPECT_EQ(kept.hat, alone.hat) << degree << " " << pass;
        if (complete) {
          EXPECT_EQ(kept.hat.size(), static_cast<Eigen::Index>(someUn.size()));
        }
      }
    }
  }
}

// Reweighted fits that update the last fit's normal equations (a few
// weights changed, rows left out and taken back) give the coefficients of
// fits summed afresh to rounding, and a complete fit after them is summed
// afresh.
TEST(Linear, AnUpdatedFitIsTheFreshFitToRounding) {
  const NormalisedPlate plate = RoughlyNormalisedWarpPlate();
  const std::vector<Vec2>&un = plate.un, &xn = plate.xn;
  const size_t n = un.size();
  for (const int degree : {1, 4, 6}) {
    const LegendreDesign terms = LegendreDesignOf(degree, un);
    LinearWorkspace work;
    std::vector<double> w(n, 1.0);
    std::vector<bool> keep(n, true);
    for (int pass = 0; pass < 6; ++pass) {
      // Each pass changes the weights of every 13th row from its own start and
      // moves a block of left-out rows; the last pass is complete.
      for (size_t i = static_cast<size_t>(pass); i < n; i += 13)
        w[i] = 0.3 + static_cast<double>((i * 7 + static_cast<size_t>(pass)) % 5) / 3;
      for (size_t i = 0; i < n; ++i)
        keep[i] = i < 30 * static_cast<size_t>(pass) || i >= 25 + 30 * static_cast<size_t>(pass);
      const bool complete = pass == 5;
      LinearWorkspace fresh;
      const LinearSolution expected = FitLegendre(degree, terms, xn, w, &keep, fresh, complete);
      const LinearSolution got = FitLegendre(degree, terms, xn, w, &keep, work, complete);
      const double scale = expected.params.cwiseAbs().maxCoeff();
      EXPECT_LT((got.params - expected.params).cwiseAbs().maxCoeff(), 1e-12 * scale)
          << degree << " " << pass;
      if (complete) {
        EXPECT_EQ(got.params, expected.params) << degree;
        EXPECT_EQ(got.covariance, expected.covariance) << degree;
        EXPECT_EQ(got.hat, expected.hat) << degree;
      }
    }
    EXPECT_EQ(work.updates, 4) << degree;
  }
}

// A spline fit on the points a mask keeps, in a workspace that fits on other
// knots and the same knots have used (and whose best trials the solutions
// took), is the fit on those points alone in a fresh workspace, to the bit:
// the coefficients, λ, the hat matrix's diagonal and the covariance.
TEST(Spline, AFitOnTheKeptPointsIsTheFitOnThosePointsAlone) {
  const auto [un, xn, w] = RoughlyNormalisedWarpPlate();
  std::vector<bool> keep(un.size());
  std::vector<Vec2> someUn, someXn;
  std::vector<double> someW;
  for (size_t i = 0; i < un.size(); ++i) {
    keep[i] = i % 5 != 2 && (i < 100 || i > 160);
    if (keep[i]) someUn.push_back(un[i]), someXn.push_back(xn[i]), someW.push_back(w[i]);
  }
  SplineGrid grid, other;
  grid.knotsU = 8, grid.knotsV = 6;
  other.knotsU = 5, other.knotsV = 9;
  SplineWorkspace fresh, used;
  const SplineBasis basis = SplineBasisOf(grid, un);
  FitSpline(other, SplineBasisOf(other, un), nullptr, xn, w, LambdaSearch::Whole, 0, {}, used);
  for (const LambdaSearch mode : {LambdaSearch::Whole, LambdaSearch::Walk, LambdaSearch::Fixed}) {
    const SplineSolution alone =
        FitSpline(grid, SplineBasisOf(grid, someUn), nullptr, someXn, someW, mode, -2, {}, fresh);
    const SplineSolution kept = FitSpline(grid, basis, &keep, xn, w, mode, -2, {}, used);
    const int m = static_cast<int>(mode);
    EXPECT_EQ(kept.params, alone.params) << m;
    EXPECT_EQ(kept.lambdaExponent, alone.lambdaExponent) << m;
    EXPECT_EQ(kept.hat, alone.hat) << m;
    EXPECT_EQ(kept.covariance.local, alone.covariance.local) << m;
    if (mode != LambdaSearch::Fixed) {
      const Eigen::VectorXd g = Eigen::VectorXd::LinSpaced(grid.Coefficients(), -1, 2);
      EXPECT_EQ(kept.covariance.factor->Quadratic(g), alone.covariance.factor->Quadratic(g)) << m;
    }
  }
}

// GCV's trace tr(M⁻¹ BᵀWB), summed over the pairs of neighbouring
// coefficients, is the sum of the hat matrix's diagonal, which is summed
// over the points: to rounding, on all points and on those a mask keeps.
TEST(Spline, TheTraceIsTheSumOfTheHatMatrixsDiagonal) {
  const auto [un, xn, w] = RoughlyNormalisedWarpPlate();
  std::vector<bool> keep(un.size());
  for (size_t i = 0; i < keep.size(); ++i) keep[i] = i % 7 != 3;
  SplineGrid grid;
  grid.knotsU = 8, grid.knotsV = 6;
  const SplineBasis basis = SplineBasisOf(grid, un);
  SplineWorkspace work;
  const std::vector<bool>* const masks[] = {nullptr, &keep};
  for (const std::vector<bool>* mask : masks) {
    const SplineSolution s = FitSpline(grid, basis, mask, xn, w, LambdaSearch::Whole, 0, {}, work);
    EXPECT_GT(s.grid.effectiveParameters, 10);
    EXPECT_NEAR(s.grid.effectiveParameters, s.hat.sum(), 1e-12 * s.hat.sum());
  }
}

}  // namespace
}  // namespace qova::calib
