#include "calib/model.h"

#include <Eigen/Dense>
#include <cmath>
#include <limits>

#include "calib/model_eval.h"
#include "calib/spline_fit.h"

namespace qova::calib {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The affine map that best follows the model over its extent, fitted to the
// model sampled on a 21 × 21 grid: x̃ ≈ A (1, ũ, ṽ)ᵀ.
Eigen::Matrix<double, 2, 3> BestAffine(const ModelData& m) {
  Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
  Eigen::Matrix<double, 3, 2> right = Eigen::Matrix<double, 3, 2>::Zero();
  for (int i = 0; i <= 20; ++i)
    for (int j = 0; j <= 20; ++j) {
      const Vec2 n(-1 + i / 10.0, -1 + j / 10.0);
      const Eigen::Vector3d a(1, n.x(), n.y());
      normal += a * a.transpose();
      right += a * detail::Evaluate(m, n).transpose();
    }
  return normal.ldlt().solve(right).transpose();
}

}  // namespace

std::string ModelName(ModelKind kind) {
  switch (kind.type) {
    case ModelType::Affine:
      return "affine";
    case ModelType::Projective:
      return "projective";
    case ModelType::Radial:
      return "radial";
    case ModelType::Poly:
      return "poly" + std::to_string(kind.degree);
    case ModelType::Spline:
      return "spline";
  }
  return "?";
}

std::optional<ModelKind> ParseModelKind(std::string_view name) {
  if (name == "affine") return ModelKind{ModelType::Affine, 1};
  if (name == "projective") return ModelKind{ModelType::Projective, 0};
  if (name == "radial") return ModelKind{ModelType::Radial, 0};
  if (name == "spline") return ModelKind{ModelType::Spline, 0};
  if (name.size() == 5 && name.substr(0, 4) == "poly" && name[4] >= '2' && name[4] <= '6')
    return ModelKind{ModelType::Poly, name[4] - '0'};
  return std::nullopt;
}

const std::vector<std::string>& ModelNames() {
  static const std::vector<std::string> names = {"affine", "projective", "radial", "poly2", "poly3",
                                                 "poly4",  "poly5",      "poly6",  "spline"};
  return names;
}

Vec2 PlateNormalisation::Apply(const Vec2& uv) const {
  return Vec2(2 * (uv.x() - uMin) / (uMax - uMin) - 1, 2 * (uv.y() - vMin) / (vMax - vMin) - 1);
}

Vec2 PlateNormalisation::Undo(const Vec2& n) const {
  return Vec2((n.x() + 1) / 2 * (uMax - uMin) + uMin, (n.y() + 1) / 2 * (vMax - vMin) + vMin);
}

Vec2 PlateNormalisation::Gain() const { return Vec2(2 / (uMax - uMin), 2 / (vMax - vMin)); }

int ParameterCount(ModelKind kind, const SplineGrid& grid, bool centreFitted) {
  switch (kind.type) {
    case ModelType::Affine:
    case ModelType::Poly:
      return 2 * detail::PolyTerms(kind.degree);
    case ModelType::Projective:
      return 8;
    case ModelType::Radial:
      return centreFitted ? 15 : 13;
    case ModelType::Spline:
      return 2 * grid.Coefficients();
  }
  return 0;
}

std::vector<std::string> ParameterNames(const ModelData& data) {
  std::vector<std::string> names;
  switch (data.kind.type) {
    case ModelType::Affine:
    case ModelType::Poly:
      for (const char* axis : {"x", "y"})
        for (int d = 0; d <= data.kind.degree; ++d)
          for (int i = d; i >= 0; --i)
            names.push_back(std::string(axis) + ":P" + std::to_string(i) + "(u)P" +
                            std::to_string(d - i) + "(v)");
      break;
    case ModelType::Projective:
    case ModelType::Radial:
      for (int k = 0; k < 8; ++k) names.push_back(std::string(1, 'h') += std::to_string(k));
      if (data.kind.type == ModelType::Radial) {
        for (const char* n : {"k1", "k2", "k3", "p1", "p2"}) names.push_back(n);
        if (data.radial.centreFitted) names.push_back("cx"), names.push_back("cy");
      }
      break;
    case ModelType::Spline:
      for (const char* axis : {"x", "y"})
        for (int k = 0; k < data.spline.knotsU + 3; ++k)
          for (int l = 0; l < data.spline.knotsV + 3; ++l)
            names.push_back(std::string(axis) + "[" + std::to_string(k) + "," + std::to_string(l) +
                            "]");
      break;
  }
  return names;
}

double ParamCovariance::Quadratic(const Eigen::VectorXd& g, const SplineGrid& grid,
                                  bool onePrediction) const {
  if (form == Form::Dense) return g.dot(dense * g);
  const int nc = grid.Coefficients();
  if (factor && !onePrediction)
    return factor->Quadratic(g.head(nc)) + factor->Quadratic(g.tail(nc));
  // Only the entries between overlapping coefficients are known: exact for
  // the gradient of one predicted position, whose non-zeros share a support.
  const int nv = grid.knotsV + 3;
  double sum = 0;
  for (int half = 0; half < 2; ++half) {
    const Eigen::VectorXd part = g.segment(half * nc, nc);
    for (int a = 0; a < nc; ++a) {
      if (part[a] == 0) continue;
      const int ka = a / nv, la = a % nv;
      for (int dk = -3; dk <= 3; ++dk)
        for (int dl = -3; dl <= 3; ++dl) {
          const int kb = ka + dk, lb = la + dl;
          if (kb < 0 || lb < 0 || kb > grid.knotsU + 2 || lb >= nv) continue;
          const double gb = part[kb * nv + lb];
          if (gb != 0)
            sum += part[a] * gb * local[static_cast<size_t>(a) * 49 + (dk + 3) * 7 + dl + 3];
        }
    }
  }
  return sum;
}

Eigen::VectorXd ParamCovariance::StandardErrors(int parameters) const {
  if (form == Form::Dense) return dense.diagonal().cwiseMax(0).cwiseSqrt();
  Eigen::VectorXd se(parameters);
  const int nc = parameters / 2;
  for (int c = 0; c < nc; ++c)
    se[c] = se[nc + c] = std::sqrt(std::max(0.0, local[static_cast<size_t>(c) * 49 + 24]));
  return se;
}

Model::Model() {
  data_.imageWidth = data_.imageHeight = 1;
  data_.params.resize(6);
  data_.params << 0, 1, 0, 0, 0, 1;
  data_.covariance.dense = Eigen::MatrixXd::Zero(6, 6);
  affine_ = BestAffine(data_);
}

Model::Model(ModelData data) : data_(std::move(data)) { affine_ = BestAffine(data_); }

Vec2 Model::EvalNormalised(const Vec2& n) const { return detail::Evaluate(data_, n); }

Eigen::Matrix2d Model::JacobianNormalised(const Vec2& n) const {
  return detail::JacobianN(data_, n);
}

Vec2 Model::ToImage(const Vec2& uv) const {
  return data_.image.Undo(detail::Evaluate(data_, data_.plate.Apply(uv)));
}

Eigen::Matrix2d Model::Jacobian(const Vec2& uv) const {
  // x = x̃/s + c, ũ = g·(u − uMin) − 1: ∂x/∂u = ∂x̃/∂ũ · g / s.
  const Vec2 gain = data_.plate.Gain();
  Eigen::Matrix2d J = detail::JacobianN(data_, data_.plate.Apply(uv)) / data_.image.scale;
  J.col(0) *= gain.x();
  J.col(1) *= gain.y();
  return J;
}

Eigen::MatrixXd Model::ParamGradient(const Vec2& uv) const {
  return detail::ParamGradientN(data_, data_.plate.Apply(uv)) / data_.image.scale;
}

Vec2 Model::ToPlate(const Vec2& xy) const {
  const Vec2 target = data_.image.Apply(xy);
  // Cells per normalised unit, to measure the steps in cells.
  const Vec2 cells((data_.plate.uMax - data_.plate.uMin) / 2 / data_.pitch.UnitX(),
                   (data_.plate.vMax - data_.plate.vMin) / 2 / data_.pitch.UnitY());
  const Eigen::Matrix2d A = affine_.rightCols<2>();
  if (!(std::fabs(A.determinant()) > 0)) return Vec2(kNaN, kNaN);
  Vec2 n = A.inverse() * (target - affine_.col(0));
  for (int step = 0; step < 20; ++step) {
    const Eigen::Matrix2d J = detail::JacobianN(data_, n);
    const double det = J.determinant();
    // Singular: the columns of J (nearly) parallel.
    if (!(std::fabs(det) > 1e-12 * J.squaredNorm())) break;
    const Vec2 delta = J.inverse() * (detail::Evaluate(data_, n) - target);
    if (!delta.allFinite()) break;
    n -= delta;
    if (std::fabs(delta.x()) * cells.x() < 1e-12 && std::fabs(delta.y()) * cells.y() < 1e-12)
      return data_.plate.Undo(n);
  }
  return Vec2(kNaN, kNaN);
}

Vec2 Model::PredictSigmaAtPlate(const Vec2& uv) const {
  const Eigen::MatrixXd G = ParamGradient(uv);
  const Eigen::VectorXd gx = G.row(0).transpose(), gy = G.row(1).transpose();
  return Vec2(std::sqrt(std::max(0.0, data_.covariance.Quadratic(gx, data_.spline, true))),
              std::sqrt(std::max(0.0, data_.covariance.Quadratic(gy, data_.spline, true))));
}

Vec2 Model::PredictSigma(const Vec2& xy) const {
  const Vec2 uv = ToPlate(xy);
  if (!uv.allFinite()) return Vec2(kNaN, kNaN);
  return PredictSigmaAtPlate(uv);
}

}  // namespace qova::calib
