#include "calib/model_eval.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "calib/lanes.h"

namespace qova::calib::detail {
namespace {

constexpr int kMaxDegree = 6;

// P_0..P_N at t and their derivatives, by Bonnet's recursion:
// (k + 1) P_{k+1} = (2k + 1) t P_k − k P_{k−1};  P'_{k+1} = P'_{k−1} + (2k + 1) P_k.
void Legendre(int degree, double t, double* p, double* dp) {
  p[0] = 1, dp[0] = 0;
  if (degree >= 1) p[1] = t, dp[1] = 1;
  for (int k = 1; k < degree; ++k) {
    p[k + 1] = ((2 * k + 1) * t * p[k] - k * p[k - 1]) / (k + 1);
    dp[k + 1] = dp[k - 1] + (2 * k + 1) * p[k];
  }
}

}  // namespace

void LegendreTerms(int degree, double u, double v, double* value, double* du, double* dv) {
  double pu[kMaxDegree + 1], dpu[kMaxDegree + 1], pv[kMaxDegree + 1], dpv[kMaxDegree + 1];
  Legendre(degree, u, pu, dpu);
  Legendre(degree, v, pv, dpv);
  int t = 0;
  for (int d = 0; d <= degree; ++d)
    for (int i = d; i >= 0; --i, ++t) {
      const int j = d - i;
      value[t] = pu[i] * pv[j];
      if (du) du[t] = dpu[i] * pv[j];
      if (dv) dv[t] = pu[i] * dpv[j];
    }
}

SplineSpan BSplineSpan(int intervals, double t) {
  const double h = 2.0 / intervals;
  SplineSpan s;
  // The interval holding t, the end ones beyond [-1, 1] (and for a NaN,
  // which then gives NaN values).
  double cell = std::floor((t + 1) / h);
  if (!(cell >= 0)) cell = 0;
  if (cell > intervals - 1) cell = intervals - 1;
  s.first = static_cast<int>(cell);
  const double x = (t - (-1 + s.first * h)) / h;
  const double y = 1 - x;
  // Uniform cubic B-splines on the interval, x in [0, 1]:
  // (1−x)³/6, (3x³ − 6x² + 4)/6, (−3x³ + 3x² + 3x + 1)/6, x³/6.
  s.b[0] = y * y * y / 6;
  s.b[1] = (3 * x * x * x - 6 * x * x + 4) / 6;
  s.b[2] = (-3 * x * x * x + 3 * x * x + 3 * x + 1) / 6;
  s.b[3] = x * x * x / 6;
  s.db[0] = -y * y / 2 / h;
  s.db[1] = (1.5 * x * x - 2 * x) / h;
  s.db[2] = (-1.5 * x * x + x + 0.5) / h;
  s.db[3] = x * x / 2 / h;
  return s;
}

ProjectivePoint EvalProjective(const double* h, const Vec2& n) {
  const double u = n.x(), v = n.y();
  const double X = h[0] * u + h[1] * v + h[2];
  const double Y = h[3] * u + h[4] * v + h[5];
  const double W = h[6] * u + h[7] * v + 1;
  ProjectivePoint p;
  const double x = X / W, y = Y / W;
  p.x = Vec2(x, y);
  p.dh.setZero();
  p.dh(0, 0) = u / W, p.dh(0, 1) = v / W, p.dh(0, 2) = 1 / W;
  p.dh(1, 3) = u / W, p.dh(1, 4) = v / W, p.dh(1, 5) = 1 / W;
  p.dh(0, 6) = -x * u / W, p.dh(0, 7) = -x * v / W;
  p.dh(1, 6) = -y * u / W, p.dh(1, 7) = -y * v / W;
  p.dn << (h[0] - x * h[6]) / W, (h[1] - x * h[7]) / W, (h[3] - y * h[6]) / W,
      (h[4] - y * h[7]) / W;
  return p;
}

Vec2 ProjectiveValue(const double* h, const Vec2& n) {
  const double u = n.x(), v = n.y();
  const double W = h[6] * u + h[7] * v + 1;
  return Vec2((h[0] * u + h[1] * v + h[2]) / W, (h[3] * u + h[4] * v + h[5]) / W);
}

Vec2 RadialValue(const double* params, const RadialSetup& setup, const Vec2& n) {
  const Vec2 q = ProjectiveValue(params, n);
  const double k1 = params[8], k2 = params[9], k3 = params[10], p1 = params[11], p2 = params[12];
  const Vec2 c = setup.centreFitted ? Vec2(params[13], params[14]) : setup.centre;
  const double R = setup.radius;
  const Vec2 p = (q - c) / R;
  const double px = p.x(), py = p.y();
  const double r2 = px * px + py * py;
  const double radial = 1 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
  const Vec2 pd(px * radial + 2 * p1 * px * py + p2 * (r2 + 2 * px * px),
                py * radial + p1 * (r2 + 2 * py * py) + 2 * p2 * px * py);
  return c + R * pd;
}

RadialPoint EvalRadial(const double* params, const RadialSetup& setup, const Vec2& n) {
  const ProjectivePoint q = EvalProjective(params, n);
  const double k1 = params[8], k2 = params[9], k3 = params[10], p1 = params[11], p2 = params[12];
  const Vec2 c = setup.centreFitted ? Vec2(params[13], params[14]) : setup.centre;
  const double R = setup.radius;
  const Vec2 p = (q.x - c) / R;
  const double px = p.x(), py = p.y();
  const double r2 = px * px + py * py;
  const double radial = 1 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
  const double dradial = k1 + 2 * k2 * r2 + 3 * k3 * r2 * r2;  // d radial / d ρ²
  // p_d = p·radial + t(p), t the tangential part.
  const Vec2 pd(px * radial + 2 * p1 * px * py + p2 * (r2 + 2 * px * px),
                py * radial + p1 * (r2 + 2 * py * py) + 2 * p2 * px * py);
  // ∂p_d/∂p = radial·I + 2·radial'·p pᵀ + ∂t/∂p.
  Eigen::Matrix2d dpd;
  dpd(0, 0) = radial + 2 * dradial * px * px + 2 * p1 * py + 6 * p2 * px;
  dpd(0, 1) = 2 * dradial * px * py + 2 * p1 * px + 2 * p2 * py;
  dpd(1, 0) = 2 * dradial * px * py + 2 * p1 * px + 2 * p2 * py;
  dpd(1, 1) = radial + 2 * dradial * py * py + 6 * p1 * py + 2 * p2 * px;
  RadialPoint out;
  out.x = c + R * pd;
  // x̃ = c + R p_d((q − c)/R): ∂/∂q = ∂p_d/∂p, ∂/∂c = I − ∂p_d/∂p.
  out.dp.leftCols<8>() = dpd * q.dh;
  out.dp.col(8) = R * p * r2;
  out.dp.col(9) = R * p * (r2 * r2);
  out.dp.col(10) = R * p * (r2 * r2 * r2);
  out.dp.col(11) = R * Vec2(2 * px * py, r2 + 2 * py * py);
  out.dp.col(12) = R * Vec2(r2 + 2 * px * px, 2 * px * py);
  out.dp.rightCols<2>() = Eigen::Matrix2d::Identity() - dpd;
  out.dn = dpd * q.dn;
  return out;
}

void ProjectiveGradient(const double* h, const Vec2& n, Vec2& value, double* J) {
  const double u = n.x(), v = n.y();
  const double X = h[0] * u + h[1] * v + h[2];
  const double Y = h[3] * u + h[4] * v + h[5];
  const double W = h[6] * u + h[7] * v + 1;
  const double x = X / W, y = Y / W;
  value = Vec2(x, y);
  // Column c at J[2c], J[2c + 1].
  J[0] = u / W, J[1] = 0, J[2] = v / W, J[3] = 0, J[4] = 1 / W, J[5] = 0;
  J[6] = 0, J[7] = u / W, J[8] = 0, J[9] = v / W, J[10] = 0, J[11] = 1 / W;
  J[12] = -x * u / W, J[13] = -y * u / W, J[14] = -x * v / W, J[15] = -y * v / W;
}

namespace {

// The value and ∂x̃/∂θ of the radial model at (u, v), for one point (T a
// double) or for eight side by side (T lanes::Lanes): one text for both, so
// that each lane does the operations of the one point, in its order.
template <class T>
inline __attribute__((always_inline)) void RadialGradientOf(const double* params,
                                                            const RadialSetup& setup, T u, T v,
                                                            int P, T& valueX, T& valueY, T* J) {
  // The projective part as EvalProjective has it.
  const double h6 = params[6], h7 = params[7];
  const T X = params[0] * u + params[1] * v + params[2];
  const T Y = params[3] * u + params[4] * v + params[5];
  const T W = h6 * u + h7 * v + 1;
  const T qx = X / W, qy = Y / W;
  const T uW = u / W, vW = v / W, oneW = 1 / W;
  const T d6x = -qx * u / W, d7x = -qx * v / W, d6y = -qy * u / W, d7y = -qy * v / W;
  const double k1 = params[8], k2 = params[9], k3 = params[10], p1 = params[11], p2 = params[12];
  const bool centreFitted = P == 15;
  const double cx = centreFitted ? params[13] : setup.centre.x();
  const double cy = centreFitted ? params[14] : setup.centre.y();
  const double R = setup.radius;
  const T px = (qx - cx) / R, py = (qy - cy) / R;
  const T r2 = px * px + py * py;
  const T radial = 1 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
  const T dradial = k1 + 2 * k2 * r2 + 3 * k3 * r2 * r2;
  const T pdx = px * radial + 2 * p1 * px * py + p2 * (r2 + 2 * px * px);
  const T pdy = py * radial + p1 * (r2 + 2 * py * py) + 2 * p2 * px * py;
  const T a00 = radial + 2 * dradial * px * px + 2 * p1 * py + 6 * p2 * px;
  const T a01 = 2 * dradial * px * py + 2 * p1 * px + 2 * p2 * py;
  const T a10 = 2 * dradial * px * py + 2 * p1 * px + 2 * p2 * py;
  const T a11 = radial + 2 * dradial * py * py + 6 * p1 * py + 2 * p2 * px;
  valueX = cx + R * pdx;
  valueY = cy + R * pdy;
  // ∂p_d/∂p times ∂q/∂h, whose zeros add nothing.
  J[0] = a00 * uW, J[1] = a10 * uW;
  J[2] = a00 * vW, J[3] = a10 * vW;
  J[4] = a00 * oneW, J[5] = a10 * oneW;
  J[6] = a01 * uW, J[7] = a11 * uW;
  J[8] = a01 * vW, J[9] = a11 * vW;
  J[10] = a01 * oneW, J[11] = a11 * oneW;
  J[12] = a00 * d6x + a01 * d6y, J[13] = a10 * d6x + a11 * d6y;
  J[14] = a00 * d7x + a01 * d7y, J[15] = a10 * d7x + a11 * d7y;
  const T Rx = R * px, Ry = R * py, r4 = r2 * r2, r6 = r2 * r2 * r2;
  J[16] = Rx * r2, J[17] = Ry * r2;
  J[18] = Rx * r4, J[19] = Ry * r4;
  J[20] = Rx * r6, J[21] = Ry * r6;
  J[22] = R * (2 * px * py), J[23] = R * (r2 + 2 * py * py);
  J[24] = R * (r2 + 2 * px * px), J[25] = R * (2 * px * py);
  if (centreFitted) J[26] = 1 - a00, J[27] = -a10, J[28] = -a01, J[29] = 1 - a11;
}

// Up to kLanes points at once; the lanes past `count` are computed at ñ = 0
// and not stored.
QOVA_LANE_CLONES
void RadialGradientLanes(const double* params, const RadialSetup& setup, const Vec2* n, int count,
                         int P, Vec2* value, double* J) {
  // The vector type itself, aligned as it is: a template argument drops
  // the attributes of lanes::Lanes (its 8-byte alignment), so the lanes the
  // template writes through T* and T& must have the natural alignment.
  typedef double Block __attribute__((vector_size(sizeof(double) * lanes::kLanes)));
  Block u = {}, v = {}, valueX, valueY, lanesJ[30];
  for (int k = 0; k < count; ++k) u[k] = n[k].x(), v[k] = n[k].y();
  RadialGradientOf(params, setup, u, v, P, valueX, valueY, lanesJ);
  for (int k = 0; k < count; ++k) {
    value[k] = Vec2(valueX[k], valueY[k]);
    double* to = J + static_cast<ptrdiff_t>(k) * 2 * P;
    for (int c = 0; c < 2 * P; ++c) to[c] = lanesJ[c][k];
  }
}

}  // namespace

void RadialGradient(const double* params, const RadialSetup& setup, const Vec2& n, int P,
                    Vec2& value, double* J) {
  RadialGradientOf(params, setup, n.x(), n.y(), P, value.x(), value.y(), J);
}

void RadialGradients(const double* params, const RadialSetup& setup, const Vec2* n, int count,
                     int P, Vec2* value, double* J) {
  for (int k = 0; k < count; k += lanes::kLanes)
    RadialGradientLanes(params, setup, n + k, std::min(lanes::kLanes, count - k), P, value + k,
                        J + static_cast<ptrdiff_t>(k) * 2 * P);
}

Vec2 Evaluate(const ModelData& m, const Vec2& n) {
  const double* a = m.params.data();
  switch (m.kind.type) {
    case ModelType::Affine:
    case ModelType::Poly: {
      const int terms = PolyTerms(m.kind.degree);
      double value[PolyTerms(kMaxDegree)];
      LegendreTerms(m.kind.degree, n.x(), n.y(), value, nullptr, nullptr);
      Vec2 x = Vec2::Zero();
      for (int t = 0; t < terms; ++t) x.x() += a[t] * value[t], x.y() += a[terms + t] * value[t];
      return x;
    }
    case ModelType::Projective:
      return ProjectiveValue(a, n);
    case ModelType::Radial:
      return RadialValue(a, m.radial, n);
    case ModelType::Spline: {
      const SplineGrid& g = m.spline;
      const SplineSpan su = BSplineSpan(g.knotsU, n.x()), sv = BSplineSpan(g.knotsV, n.y());
      const int nv = g.knotsV + 3, nc = g.Coefficients();
      Vec2 x = Vec2::Zero();
      for (int k = 0; k < 4; ++k)
        for (int l = 0; l < 4; ++l) {
          const int c = (su.first + k) * nv + sv.first + l;
          const double b = su.b[k] * sv.b[l];
          x.x() += a[c] * b, x.y() += a[nc + c] * b;
        }
      return x;
    }
  }
  return Vec2::Zero();
}

Eigen::Matrix2d JacobianN(const ModelData& m, const Vec2& n) {
  const double* a = m.params.data();
  Eigen::Matrix2d J = Eigen::Matrix2d::Zero();
  switch (m.kind.type) {
    case ModelType::Affine:
    case ModelType::Poly: {
      const int terms = PolyTerms(m.kind.degree);
      double value[PolyTerms(kMaxDegree)], du[PolyTerms(kMaxDegree)], dv[PolyTerms(kMaxDegree)];
      LegendreTerms(m.kind.degree, n.x(), n.y(), value, du, dv);
      for (int t = 0; t < terms; ++t) {
        J(0, 0) += a[t] * du[t], J(0, 1) += a[t] * dv[t];
        J(1, 0) += a[terms + t] * du[t], J(1, 1) += a[terms + t] * dv[t];
      }
      return J;
    }
    case ModelType::Projective:
      return EvalProjective(a, n).dn;
    case ModelType::Radial:
      return EvalRadial(a, m.radial, n).dn;
    case ModelType::Spline: {
      const SplineGrid& g = m.spline;
      const SplineSpan su = BSplineSpan(g.knotsU, n.x()), sv = BSplineSpan(g.knotsV, n.y());
      const int nv = g.knotsV + 3, nc = g.Coefficients();
      for (int k = 0; k < 4; ++k)
        for (int l = 0; l < 4; ++l) {
          const int c = (su.first + k) * nv + sv.first + l;
          const double bu = su.db[k] * sv.b[l], bv = su.b[k] * sv.db[l];
          J(0, 0) += a[c] * bu, J(0, 1) += a[c] * bv;
          J(1, 0) += a[nc + c] * bu, J(1, 1) += a[nc + c] * bv;
        }
      return J;
    }
  }
  return J;
}

Eigen::MatrixXd ParamGradientN(const ModelData& m, const Vec2& n) {
  const int P = static_cast<int>(m.params.size());
  Eigen::MatrixXd G = Eigen::MatrixXd::Zero(2, P);
  switch (m.kind.type) {
    case ModelType::Affine:
    case ModelType::Poly: {
      const int terms = PolyTerms(m.kind.degree);
      double value[PolyTerms(kMaxDegree)];
      LegendreTerms(m.kind.degree, n.x(), n.y(), value, nullptr, nullptr);
      for (int t = 0; t < terms; ++t) G(0, t) = value[t], G(1, terms + t) = value[t];
      return G;
    }
    case ModelType::Projective:
      G = EvalProjective(m.params.data(), n).dh;
      return G;
    case ModelType::Radial:
      G = EvalRadial(m.params.data(), m.radial, n).dp.leftCols(P);
      return G;
    case ModelType::Spline: {
      const SplineGrid& g = m.spline;
      const SplineSpan su = BSplineSpan(g.knotsU, n.x()), sv = BSplineSpan(g.knotsV, n.y());
      const int nv = g.knotsV + 3, nc = g.Coefficients();
      for (int k = 0; k < 4; ++k)
        for (int l = 0; l < 4; ++l) {
          const int c = (su.first + k) * nv + sv.first + l;
          G(0, c) = G(1, nc + c) = su.b[k] * sv.b[l];
        }
      return G;
    }
  }
  return G;
}

}  // namespace qova::calib::detail
