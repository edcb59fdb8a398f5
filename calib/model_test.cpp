#include "calib/model.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <vector>

#include "calib/fit.h"
#include "calib/model_eval.h"
#include "tests/support/calib_plates.h"

namespace qova::calib {
namespace {

using test::FitDataOf;
using test::StandardPlate;

// One fitted model of each family, on a plate that exercises it.
std::vector<Model> EveryFamily() {
  std::vector<Model> models;
  for (const std::string& name : ModelNames()) {
    auto setup = StandardPlate(name == "spline" ? "stepping" : "radial-off-centre");
    setup.columns = 24, setup.rows = 18, setup.distortion.pitchX = setup.distortion.pitchY = 70;
    models.push_back(
        FitModel(*ParseModelKind(name), FitDataOf(setup, MakeLatticePoints(setup), {0.5, 0.5}))
            .model);
  }
  return models;
}

TEST(Model, NamesReadBackAndOthersAreRefused) {
  for (const std::string& name : ModelNames()) {
    const auto kind = ParseModelKind(name);
    ASSERT_TRUE(kind) << name;
    EXPECT_EQ(ModelName(*kind), name);
  }
  for (const char* other : {"auto", "poly1", "poly7", "Affine", "", "poly", "spline "})
    EXPECT_FALSE(ParseModelKind(other)) << other;
}

// ∂(x, y)/∂(u, v) and ∂(x, y)/∂θ against central differences.
TEST(Model, DerivativesMatchFiniteDifferences) {
  for (const Model& model : EveryFamily()) {
    const ModelData& d = model.data();
    for (const Vec2& uv : {Vec2(1.3, 2.1), Vec2(0, 0), Vec2(11.1, 8.7), Vec2(-0.4, 9.2)}) {
      const double h = 1e-5;
      Eigen::Matrix2d numeric;
      numeric.col(0) = (model.ToImage(uv + Vec2(h, 0)) - model.ToImage(uv - Vec2(h, 0))) / (2 * h);
      numeric.col(1) = (model.ToImage(uv + Vec2(0, h)) - model.ToImage(uv - Vec2(0, h))) / (2 * h);
      const Eigen::Matrix2d J = model.Jacobian(uv);
      EXPECT_LT((J - numeric).norm(), 1e-6 * J.norm()) << model.Name() << " at " << uv.transpose();
      const Eigen::MatrixXd G = model.ParamGradient(uv);
      ASSERT_EQ(G.cols(), model.ParameterCount());
      for (int k = 0; k < model.ParameterCount(); ++k) {
        ModelData up = d, down = d;
        const double step = 1e-6 * std::max(1.0, std::fabs(d.params[k]));
        up.params[k] += step, down.params[k] -= step;
        const Vec2 column = (Model(up).ToImage(uv) - Model(down).ToImage(uv)) / (2 * step);
        EXPECT_LT((G.col(k) - column).norm(), 1e-5 * std::max(1.0, G.col(k).norm()))
            << model.Name() << " parameter " << k;
      }
    }
  }
}

// The fits' own evaluation of the value and ∂x̃/∂θ gives EvalProjective's
// and EvalRadial's numbers to the bit, the radial model's with its centre
// fixed and fitted, inside the plate and far outside it, one point at a time
// and eight side by side.
TEST(Model, TheFitsGradientsAreTheEvaluationsNumbers) {
  int radials = 0;
  for (const Model& model : EveryFamily()) {
    const ModelData& d = model.data();
    if (d.kind.type != ModelType::Projective && d.kind.type != ModelType::Radial) continue;
    for (const bool centreFitted : {false, true}) {
      if (d.kind.type == ModelType::Projective && centreFitted) continue;
      RadialSetup setup = d.radial;
      Eigen::VectorXd params = d.params;
      if (d.kind.type == ModelType::Radial) {
        // Both layouts from the fitted one: the centre appended or dropped.
        params.conservativeResize(15);
        if (!d.radial.centreFitted) params.tail<2>() = d.radial.centre + Vec2(0.05, -0.03);
        if (!centreFitted) params.conservativeResize(13);
        setup.centreFitted = centreFitted;
        ++radials;
      }
      const int P = static_cast<int>(params.size());
      std::vector<Vec2> points;
      for (double u = -1.7; u <= 1.7; u += 0.31)
        for (double v = -1.9; v <= 1.9; v += 0.37) {
          const Vec2 n(u, v);
          points.push_back(n);
          Vec2 value;
          double J[30];
          Eigen::MatrixXd expected;
          Vec2 expectedValue;
          if (d.kind.type == ModelType::Projective) {
            detail::ProjectiveGradient(params.data(), n, value, J);
            const detail::ProjectivePoint p = detail::EvalProjective(params.data(), n);
            expected = p.dh, expectedValue = p.x;
          } else {
            detail::RadialGradient(params.data(), setup, n, P, value, J);
            const detail::RadialPoint p = detail::EvalRadial(params.data(), setup, n);
            expected = p.dp.leftCols(P), expectedValue = p.x;
          }
          ASSERT_EQ(value, expectedValue) << model.Name() << " at " << n.transpose();
          for (int c = 0; c < P; ++c)
            for (int r = 0; r < 2; ++r)
              ASSERT_EQ(J[2 * c + r], expected(r, c))
                  << model.Name() << " P " << P << " at " << n.transpose() << " (" << r << ", " << c
                  << ")";
        }
      if (d.kind.type != ModelType::Radial) continue;
      // Eight at a time with a short last block, and fewer than eight: each
      // point as alone.
      ASSERT_NE(points.size() % 8, 0u);
      for (const size_t count : {points.size(), size_t{3}}) {
        std::vector<Vec2> values(count);
        std::vector<double> J(count * 2 * static_cast<size_t>(P));
        detail::RadialGradients(params.data(), setup, points.data(), static_cast<int>(count), P,
                                values.data(), J.data());
        for (size_t k = 0; k < count; ++k) {
          Vec2 value;
          double alone[30];
          detail::RadialGradient(params.data(), setup, points[k], P, value, alone);
          ASSERT_EQ(values[k], value) << "P " << P << " point " << k;
          for (int c = 0; c < 2 * P; ++c)
            ASSERT_EQ(J[k * 2 * static_cast<size_t>(P) + static_cast<size_t>(c)], alone[c])
                << "P " << P << " point " << k << " entry " << c;
        }
      }
    }
  }
  EXPECT_EQ(radials, 2);
}

TEST(Model, ToPlateInvertsToImageToANanoPixel) {
  for (const Model& model : EveryFamily()) {
    for (double u = -1; u <= 12; u += 0.77)
      for (double v = -1; v <= 9; v += 0.61) {
        const Vec2 xy = model.ToImage(Vec2(u, v));
        const Vec2 uv = model.ToPlate(xy);
        ASSERT_TRUE(uv.allFinite()) << model.Name() << " at " << u << ", " << v;
        EXPECT_LT((model.ToImage(uv) - xy).norm(), 1e-9) << model.Name();
        EXPECT_LT((uv - Vec2(u, v)).norm(), 1e-9) << model.Name();
      }
  }
}

TEST(Model, ToPlateIsNanWhereTheMapIsSingular) {
  ModelData d;
  d.kind = ModelKind{ModelType::Affine, 1};
  d.params.resize(6);
  d.params << 0, 1, 2, 0, 2, 4;  // x̃ = ũ + 2ṽ, ỹ = 2ũ + 4ṽ: one line
  d.covariance.dense = Eigen::MatrixXd::Zero(6, 6);
  const Model flat(d);
  EXPECT_TRUE(std::isnan(flat.ToPlate(Vec2(0.3, 0.2)).x()));
  EXPECT_TRUE(std::isnan(flat.PredictSigma(Vec2(0.3, 0.2)).x()));
  const Model identity;
  EXPECT_LT((identity.ToPlate(Vec2(0.3, 0.2)) - Vec2(0.3, 0.2)).norm(), 1e-15);
}

TEST(Model, PredictSigmaAtAnImagePointIsThatOfItsPlatePoint) {
  for (const Model& model : EveryFamily()) {
    const Vec2 uv(4.2, 3.3);
    const Vec2 a = model.PredictSigmaAtPlate(uv), b = model.PredictSigma(model.ToImage(uv));
    EXPECT_GT(a.x(), 0) << model.Name();
    EXPECT_NEAR(a.x(), b.x(), 1e-9 * a.x()) << model.Name();
    EXPECT_NEAR(a.y(), b.y(), 1e-9 * a.y()) << model.Name();
  }
}

}  // namespace
}  // namespace qova::calib
