#include "calib/figures.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "calib/model_eval.h"
#include "calib/nonlinear_fit.h"

namespace qova::calib {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDegree = std::numbers::pi / 180;

// What the figures need of a map, over the normalised plate ũ ∈ [-1, 1]²:
// its image (px), its Jacobian by ũ (px per unit of ũ), and, for a model,
// its gradient over the parameters (px) and the covariance's quadratic form.
struct MapAccess {
  std::function<Vec2(const Vec2&)> value;
  std::function<Eigen::Matrix2d(const Vec2&)> jacobian;
  std::function<Eigen::MatrixXd(const Vec2&)> gradient;  // empty: no standard errors
  std::function<double(const Eigen::VectorXd&)> quadratic;
  PlateNormalisation plate;
  Pitch pitch;
};

MapAccess AccessModel(const Model& model) {
  const ModelData& d = model.data();
  MapAccess m;
  m.value = [&model, &d](const Vec2& n) { return d.image.Undo(model.EvalNormalised(n)); };
  m.jacobian = [&model, &d](const Vec2& n) {
    return Eigen::Matrix2d(model.JacobianNormalised(n) / d.image.scale);
  };
  m.gradient = [&d](const Vec2& n) {
    return Eigen::MatrixXd(detail::ParamGradientN(d, n) / d.image.scale);
  };
  m.quadratic = [&d](const Eigen::VectorXd& g) {
    return std::max(0.0, d.covariance.Quadratic(g, d.spline));
  };
  m.plate = d.plate;
  m.pitch = d.pitch;
  return m;
}

Figure WithSigma(const MapAccess& m, double value, const Eigen::VectorXd* gradient) {
  Figure f;
  f.value = value;
  if (gradient && m.quadratic) f.sigma = std::sqrt(m.quadratic(*gradient));
  return f;
}

// The grids of normalised plate points: `count` × `count` over [-1, 1]².
std::vector<Vec2> Grid(int count) {
  std::vector<Vec2> grid;
  for (int i = 0; i < count; ++i)
    for (int j = 0; j < count; ++j)
      grid.emplace_back(-1 + 2.0 * i / (count - 1), -1 + 2.0 * j / (count - 1));
  return grid;
}

// The columns k of a 2 × P gradient that are not zero (the spline's are few).
std::vector<Eigen::Index> NonZeroColumns(const Eigen::MatrixXd& G) {
  std::vector<Eigen::Index> columns;
  for (Eigen::Index k = 0; k < G.cols(); ++k)
    if (G(0, k) != 0 || G(1, k) != 0) columns.push_back(k);
  return columns;
}

// The best affine and projective maps of the samples, and what the
// gradients of the deviations need.
class BestMaps {
 public:
  explicit BestMaps(const MapAccess& m) : m_(m), samples_(Grid(21)) {
    for (const Vec2& s : samples_) values_.push_back(m.value(s));
    FitAffine();
    FitProjectiveMap();
    if (m.gradient) PrepareGradients();
  }

  Vec2 Affine(const Vec2& n) const {
    return affine_.transpose() * Eigen::Vector3d(1, n.x(), n.y());
  }
  Vec2 Projective(const Vec2& n) const {
    return detail::ProjectiveValue(homography_.data(), n) / hScale_ + hCentre_;
  }

  // ∂(F − A)/∂θ and ∂(F − H)/∂θ at n: 2 × P.
  Eigen::MatrixXd AffineGradient(const Vec2& n) const {
    const Eigen::Vector3d a(1, n.x(), n.y());
    const Eigen::RowVector3d l = a.transpose() * normalInverse_;
    Eigen::MatrixXd g = m_.gradient(n);
    g.row(0) -= l * sumAx_;
    g.row(1) -= l * sumAy_;
    return g;
  }
  Eigen::MatrixXd ProjectiveGradient(const Vec2& n) const {
    // H's parameters η move with θ as dη/dθ = (Σ J̃ᵀJ̃)⁻¹ Σ J̃ᵀ (s_h ∂F/∂θ)
    // (the samples' least squares, at its minimum); H(n) in px moves by
    // J̃(n)/s_h · dη/dθ.
    const detail::ProjectivePoint p = detail::EvalProjective(homography_.data(), n);
    Eigen::MatrixXd g = m_.gradient(n);
    g -= (p.dh / hScale_) * etaByTheta_;
    return g;
  }

 private:
  void FitAffine() {
    Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
    Eigen::Matrix<double, 3, 2> right = Eigen::Matrix<double, 3, 2>::Zero();
    for (size_t s = 0; s < samples_.size(); ++s) {
      const Eigen::Vector3d a(1, samples_[s].x(), samples_[s].y());
      normal += a * a.transpose();
      right += a * values_[s].transpose();
    }
    normalInverse_ = normal.inverse();
    affine_ = normalInverse_ * right;
  }

  // Geometric least squares of a homography from ũ to the samples' image,
  // normalised by Hartley's scaling of the samples.
  void FitProjectiveMap() {
    hCentre_ = Vec2::Zero();
    for (const Vec2& v : values_) hCentre_ += v;
    hCentre_ /= static_cast<double>(values_.size());
    double distance = 0;
    for (const Vec2& v : values_) distance += (v - hCentre_).norm();
    hScale_ = std::sqrt(2.0) / (distance / static_cast<double>(values_.size()));
    std::vector<Vec2> xn;
    for (const Vec2& v : values_) xn.push_back((v - hCentre_) * hScale_);
    const std::vector<double> w(samples_.size(), 1.0);
    homography_ = FitProjective(samples_, xn, w, Eigen::VectorXd()).params;
  }

  void PrepareGradients() {
    const Eigen::Index P = m_.gradient(samples_[0]).cols();
    sumAx_ = Eigen::MatrixXd::Zero(3, P);
    sumAy_ = Eigen::MatrixXd::Zero(3, P);
    Eigen::MatrixXd sumH = Eigen::MatrixXd::Zero(8, P);
    Eigen::Matrix<double, 8, 8> normalH = Eigen::Matrix<double, 8, 8>::Zero();
    for (const Vec2& s : samples_) {
      const Eigen::MatrixXd G = m_.gradient(s);
      const Eigen::Vector3d a(1, s.x(), s.y());
      const Eigen::Matrix<double, 2, 8> J = detail::EvalProjective(homography_.data(), s).dh;
      normalH += J.transpose() * J;
      for (const Eigen::Index k : NonZeroColumns(G)) {
        sumAx_.col(k) += a * G(0, k);
        sumAy_.col(k) += a * G(1, k);
        sumH.col(k) += J.transpose() * (hScale_ * G.col(k));
      }
    }
    etaByTheta_ = normalH.ldlt().solve(sumH);
  }

  const MapAccess& m_;
  std::vector<Vec2> samples_, values_;
  Eigen::Matrix3d normalInverse_;
  Eigen::Matrix<double, 3, 2> affine_;
  Eigen::VectorXd homography_;
  Vec2 hCentre_ = Vec2::Zero();
  double hScale_ = 1;
  Eigen::MatrixXd sumAx_, sumAy_, etaByTheta_;
};

Deviation Deviate(const MapAccess& m, const Vec2& n, const Vec2& best,
                  const std::optional<Eigen::MatrixXd>& gradient,
                  const std::function<bool(const Vec2&)>& inside) {
  Deviation d;
  d.plate = m.plate.Undo(n);
  d.image = m.value(n);
  const Vec2 delta = d.image - best;
  const double length = delta.norm();
  if (gradient) {
    const Eigen::VectorXd gx = gradient->row(0).transpose(), gy = gradient->row(1).transpose();
    const Eigen::VectorXd gm = length > 0
                                   ? Eigen::VectorXd((delta.x() * gx + delta.y() * gy) / length)
                                   : Eigen::VectorXd(gx);
    d.dx = WithSigma(m, delta.x(), &gx);
    d.dy = WithSigma(m, delta.y(), &gy);
    d.magnitude = WithSigma(m, length, &gm);
  } else {
    d.dx.value = delta.x(), d.dy.value = delta.y(), d.magnitude.value = length;
  }
  if (m.pitch.Known()) {
    // px to the plate through the local Jacobian, in µm.
    const Vec2 gain = m.plate.Gain();
    Eigen::Matrix2d J = m.jacobian(n);
    J.col(0) *= gain.x();
    J.col(1) *= gain.y();
    const double um = 1000 * (J.inverse() * delta).norm();
    d.micrometres.value = um;
    if (length > 0) d.micrometres.sigma = d.magnitude.sigma * um / length;
  }
  d.inside = !inside || inside(d.plate);
  return d;
}

NonlinearityPair Compute(const MapAccess& m, const std::function<bool(const Vec2&)>& inside) {
  const BestMaps best(m);
  NonlinearityPair pair;
  const std::array<Vec2, 4> corners = {Vec2(-1, -1), Vec2(1, -1), Vec2(1, 1), Vec2(-1, 1)};
  // The largest deviation of each kind over a finer grid.
  Vec2 worstA = corners[0], worstH = corners[0];
  double largestA = -1, largestH = -1;
  for (const Vec2& n : Grid(41)) {
    const Vec2 x = m.value(n);
    const double a = (x - best.Affine(n)).norm(), h = (x - best.Projective(n)).norm();
    if (a > largestA) largestA = a, worstA = n;
    if (h > largestH) largestH = h, worstH = n;
  }
  auto affine = [&](const Vec2& n) {
    return Deviate(
        m, n, best.Affine(n),
        m.gradient ? std::optional<Eigen::MatrixXd>(best.AffineGradient(n)) : std::nullopt, inside);
  };
  auto projective = [&](const Vec2& n) {
    return Deviate(
        m, n, best.Projective(n),
        m.gradient ? std::optional<Eigen::MatrixXd>(best.ProjectiveGradient(n)) : std::nullopt,
        inside);
  };
  for (size_t c = 0; c < 4; ++c) {
    pair.affine.corners[c] = affine(corners[c]);
    pair.projective.corners[c] = projective(corners[c]);
  }
  pair.affine.largest = affine(worstA);
  pair.projective.largest = projective(worstH);
  return pair;
}

}  // namespace

ScaleFigures LocalScale(const Model& model, const Vec2& plate) {
  const MapAccess m = AccessModel(model);
  const Vec2 n = m.plate.Apply(plate);
  const Vec2 gain = m.plate.Gain();
  Eigen::Matrix2d J = m.jacobian(n);
  J.col(0) *= gain.x();
  J.col(1) *= gain.y();
  // ∂J/∂θ by central differences of the analytic ∂F/∂θ along ũ and ṽ.
  const double h = 1e-4;
  const Eigen::MatrixXd dU =
      (m.gradient(n + Vec2(h, 0)) - m.gradient(n - Vec2(h, 0))) * (gain.x() / (2 * h));
  const Eigen::MatrixXd dV =
      (m.gradient(n + Vec2(0, h)) - m.gradient(n - Vec2(0, h))) * (gain.y() / (2 * h));
  const Vec2 cu = J.col(0), cv = J.col(1);
  ScaleFigures f;
  f.plate = plate;
  const Eigen::VectorXd gScaleU = (cu.x() * dU.row(0) + cu.y() * dU.row(1)).transpose() / cu.norm();
  const Eigen::VectorXd gScaleV = (cv.x() * dV.row(0) + cv.y() * dV.row(1)).transpose() / cv.norm();
  f.scaleU = WithSigma(m, cu.norm(), &gScaleU);
  f.scaleV = WithSigma(m, cv.norm(), &gScaleV);
  if (m.pitch.Known()) {
    // 1000/s: σ = 1000 σ_s / s².
    f.pixelSizeU = {1000 / f.scaleU.value,
                    1000 * f.scaleU.sigma / (f.scaleU.value * f.scaleU.value)};
    f.pixelSizeV = {1000 / f.scaleV.value,
                    1000 * f.scaleV.sigma / (f.scaleV.value * f.scaleV.value)};
  }
  // Rotation: atan2(cu_y, cu_x); d = (cu_x dcu_y − cu_y dcu_x)/|cu|².
  const Eigen::VectorXd gRotation =
      (cu.x() * dU.row(1) - cu.y() * dU.row(0)).transpose() / cu.squaredNorm() / kDegree;
  f.rotation = WithSigma(m, std::atan2(cu.y(), cu.x()) / kDegree, &gRotation);
  // The angle between the columns: atan2(|cu × cv|, cu · cv).
  const double Y = cu.x() * cv.y() - cu.y() * cv.x(), X = cu.dot(cv);
  const Eigen::VectorXd dY =
      (dU.row(0) * cv.y() + cu.x() * dV.row(1) - dU.row(1) * cv.x() - cu.y() * dV.row(0))
          .transpose();
  const Eigen::VectorXd dX =
      (dU.row(0) * cv.x() + dU.row(1) * cv.y() + cu.x() * dV.row(0) + cu.y() * dV.row(1))
          .transpose();
  const double sign = Y < 0 ? -1 : 1;
  const Eigen::VectorXd gAngle = (X * sign * dY - std::fabs(Y) * dX) / (X * X + Y * Y) / kDegree;
  f.axisAngle = WithSigma(m, std::atan2(std::fabs(Y), X) / kDegree, &gAngle);
  f.nonOrthogonality = {90 - f.axisAngle.value, f.axisAngle.sigma};
  return f;
}

NonlinearityPair NonlinearityOf(const Model& model,
                                const std::function<bool(const Vec2&)>& inside) {
  return Compute(AccessModel(model), inside);
}

NonlinearityPair NonlinearityOfMap(const std::function<Vec2(const Vec2&)>& map,
                                   const PlateNormalisation& region, const Pitch& pitch) {
  MapAccess m;
  m.plate = region;
  m.pitch = pitch;
  m.value = [&map, region](const Vec2& n) { return map(region.Undo(n)); };
  m.jacobian = [&m](const Vec2& n) {
    const double h = 1e-5;
    Eigen::Matrix2d J;
    J.col(0) = (m.value(n + Vec2(h, 0)) - m.value(n - Vec2(h, 0))) / (2 * h);
    J.col(1) = (m.value(n + Vec2(0, h)) - m.value(n - Vec2(0, h))) / (2 * h);
    return J;
  };
  return Compute(m, {});
}

ProjectiveInPixels ProjectiveMatrix(const Model& model) {
  const ModelData& d = model.data();
  // H = T_image⁻¹ Ĥ T_plate: T_plate maps (u, v, 1) to (ũ, ṽ, 1), T_image⁻¹
  // maps x̃ back to pixels.
  const Vec2 g = d.plate.Gain();
  Eigen::Matrix3d plate, image;
  plate << g.x(), 0, -g.x() * d.plate.uMin - 1, 0, g.y(), -g.y() * d.plate.vMin - 1, 0, 0, 1;
  image << 1 / d.image.scale, 0, d.image.centre.x(), 0, 1 / d.image.scale, d.image.centre.y(), 0, 0,
      1;
  Eigen::Matrix3d Hn;
  Hn << d.params[0], d.params[1], d.params[2], d.params[3], d.params[4], d.params[5], d.params[6],
      d.params[7], 1;
  const Eigen::Matrix3d Hp = image * Hn * plate;
  const double h22 = Hp(2, 2);
  ProjectiveInPixels out;
  out.H = Hp / h22;
  // d(Hp/h22) = dHp/h22 − Hp dh22/h22², dHp = image E_k plate for each ĥ_k.
  Eigen::Matrix<double, 8, 8> J;
  for (int k = 0; k < 8; ++k) {
    Eigen::Matrix3d E = Eigen::Matrix3d::Zero();
    E(k / 3, k % 3) = 1;
    const Eigen::Matrix3d dHp = image * E * plate;
    const Eigen::Matrix3d dH = dHp / h22 - Hp * dHp(2, 2) / (h22 * h22);
    for (int e = 0; e < 8; ++e) J(e, k) = dH(e / 3, e % 3);
  }
  out.covariance = J * d.covariance.dense.topLeftCorner<8, 8>() * J.transpose();
  return out;
}

std::function<bool(const Vec2&)> ConvexHullTest(const std::vector<Vec2>& points) {
  // Andrew's monotone chain, counter-clockwise (in x right, y up terms).
  std::vector<Vec2> p = points;
  std::sort(p.begin(), p.end(), [](const Vec2& a, const Vec2& b) {
    return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
  });
  auto cross = [](const Vec2& o, const Vec2& a, const Vec2& b) {
    return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
  };
  std::vector<Vec2> hull;
  for (int pass = 0; pass < 2; ++pass) {
    const size_t start = hull.size();
    for (size_t k = 0; k < p.size(); ++k) {
      const Vec2& q = pass == 0 ? p[k] : p[p.size() - 1 - k];
      while (hull.size() >= start + 2 && cross(hull[hull.size() - 2], hull.back(), q) <= 0)
        hull.pop_back();
      hull.push_back(q);
    }
    hull.pop_back();
  }
  double size = 0;
  for (const Vec2& q : hull) size = std::max(size, (q - hull.front()).norm());
  const double tolerance = 1e-6 * size * size;
  return [hull, tolerance, cross](const Vec2& q) {
    if (hull.size() < 3) return false;
    for (size_t k = 0; k < hull.size(); ++k)
      if (cross(hull[k], hull[(k + 1) % hull.size()], q) < -tolerance) return false;
    return true;
  };
}

}  // namespace qova::calib
