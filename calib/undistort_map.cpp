#include "calib/undistort_map.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>

#include "calib/model_eval.h"

namespace qova::calib {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ũ of the plate point u, as PlateNormalisation::Apply computes it.
double NormalU(const PlateNormalisation& p, double u) {
  return 2 * (u - p.uMin) / (p.uMax - p.uMin) - 1;
}
double NormalV(const PlateNormalisation& p, double v) {
  return 2 * (v - p.vMin) / (p.vMax - p.vMin) - 1;
}

// P_0..P_N(t) from the Legendre products of model_eval: the term (i, 0) is
// P_i(t)·P_0 = P_i(t), the term (0, j) is P_j(t), exactly.
void LegendreOf(int degree, double t, bool alongU, double* p) {
  double value[detail::PolyTerms(6)];
  detail::LegendreTerms(degree, alongU ? t : 0, alongU ? 0 : t, value, nullptr, nullptr);
  for (int d = 0, first = 0; d <= degree; first += d + 1, ++d)
    p[d] = alongU ? value[first] : value[first + d];
}

}  // namespace

RowMapper::RowMapper(const Model& model, const PlateGrid& grid) : m_(model.data()), grid_(grid) {
  const auto width = static_cast<size_t>(grid.width);
  un_.resize(width);
  for (size_t i = 0; i < width; ++i)
    un_[i] = NormalU(m_.plate, grid.PlateOf(static_cast<double>(i), 0).x());
  switch (m_.kind.type) {
    case ModelType::Affine:
    case ModelType::Poly:
      // P_d(ũ) of every column, d by d: the rows' sums run along columns.
      stride_ = m_.kind.degree + 1;
      columnFactors_.resize(width * static_cast<size_t>(stride_));
      for (size_t i = 0; i < width; ++i) {
        double p[7];
        LegendreOf(m_.kind.degree, un_[i], true, p);
        for (int d = 0; d < stride_; ++d) columnFactors_[static_cast<size_t>(d) * width + i] = p[d];
      }
      break;
    case ModelType::Spline:
      stride_ = 4;
      columnFactors_.resize(width * 4);
      splineFirst_.resize(width);
      for (size_t i = 0; i < width; ++i) {
        const detail::SplineSpan s = detail::BSplineSpan(m_.spline.knotsU, un_[i]);
        splineFirst_[i] = s.first;
        std::copy(s.b, s.b + 4, &columnFactors_[i * 4]);
      }
      break;
    case ModelType::Projective:
    case ModelType::Radial:
      break;
  }
}

// Compiled three times, the widest form the processor has chosen at run
// time: the same operations (no fused multiply-adds), eight lanes (AVX-512)
// or four (AVX2) instead of two, so the same bits.
#if QOVA_SIMD && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void RowMapper::MapRow(int64_t j, int64_t i0, int64_t n, double* x, double* y) const {
  const double vn = NormalV(m_.plate, grid_.PlateOf(0, static_cast<double>(j)).y());
  const double* a = m_.params.data();
  const double* un = un_.data() + i0;
  // Divisions by the constants become products with their reciprocals, and
  // the projective one a reciprocal and two products: a few ulps apart from
  // Model::ToImage, far below the 1e-9 px the points are held to.
  const double invScale = 1 / m_.image.scale, cx = m_.image.centre.x(), cy = m_.image.centre.y();
  switch (m_.kind.type) {
    case ModelType::Affine:
    case ModelType::Poly: {
      // x̃ = Σ_i P_i(ũ) (Σ_j a_ij P_j(ṽ)): the inner sums once a row.
      const int degree = m_.kind.degree, terms = detail::PolyTerms(degree);
      double pv[7], rowX[7] = {0}, rowY[7] = {0};
      LegendreOf(degree, vn, false, pv);
      for (int d = 0, t = 0; d <= degree; ++d)
        for (int i = d; i >= 0; --i, ++t)
          rowX[i] += a[t] * pv[d - i], rowY[i] += a[terms + t] * pv[d - i];
      for (int64_t k = 0; k < n; ++k) x[k] = 0, y[k] = 0;
      for (int i = 0; i <= degree; ++i) {
        const double* f = columnFactors_.data() + static_cast<size_t>(i) * un_.size() + i0;
        for (int64_t k = 0; k < n; ++k) x[k] += rowX[i] * f[k], y[k] += rowY[i] * f[k];
      }
      for (int64_t k = 0; k < n; ++k) x[k] = x[k] * invScale + cx, y[k] = y[k] * invScale + cy;
      return;
    }
    case ModelType::Spline: {
      // x̃ = Σ_k B_k(ũ) (Σ_l a_kl B_l(ṽ)): the inner sums once a row, for every k.
      const SplineGrid& g = m_.spline;
      const detail::SplineSpan sv = detail::BSplineSpan(g.knotsV, vn);
      const int nu = g.knotsU + 3, nv = g.knotsV + 3, nc = g.Coefficients();
      double rowX[512], rowY[512];
      std::vector<double> heap;
      double *rx = rowX, *ry = rowY;
      if (nu > 512) heap.resize(2 * static_cast<size_t>(nu)), rx = heap.data(), ry = rx + nu;
      for (int k = 0; k < nu; ++k) {
        double sx = 0, sy = 0;
        for (int l = 0; l < 4; ++l) {
          const int c = k * nv + sv.first + l;
          sx += a[c] * sv.b[l], sy += a[nc + c] * sv.b[l];
        }
        rx[k] = sx, ry[k] = sy;
      }
      const double* f = columnFactors_.data() + static_cast<size_t>(i0) * 4;
      const int* first = splineFirst_.data() + i0;
      for (int64_t k = 0; k < n; ++k, f += 4) {
        const double* px = rx + first[k];
        const double* py = ry + first[k];
        const double xn = px[0] * f[0] + px[1] * f[1] + px[2] * f[2] + px[3] * f[3];
        const double yn = py[0] * f[0] + py[1] * f[1] + py[2] * f[2] + py[3] * f[3];
        x[k] = xn * invScale + cx, y[k] = yn * invScale + cy;
      }
      return;
    }
    case ModelType::Projective: {
      // x̃ = (h0 ũ + h1 ṽ + h2, h3 ũ + h4 ṽ + h5) / (h6 ũ + h7 ṽ + 1)
      const double h0 = a[0], h1 = a[1], h2 = a[2], h3 = a[3], h4 = a[4], h5 = a[5];
      const double h6 = a[6], h7 = a[7];
      for (int64_t k = 0; k < n; ++k) {
        const double u = un[k];
        const double w = 1 / (h6 * u + h7 * vn + 1);
        const double xn = (h0 * u + h1 * vn + h2) * w, yn = (h3 * u + h4 * vn + h5) * w;
        x[k] = xn * invScale + cx, y[k] = yn * invScale + cy;
      }
      return;
    }
    case ModelType::Radial: {
      // As detail::RadialValue: the projective point q, p = (q − c)/R, then
      // p_d = p (1 + k1 ρ² + k2 ρ⁴ + k3 ρ⁶) + (2 p1 px py + p2 (ρ² + 2 px²), p1 (ρ² + 2 py²) + 2 p2
      // px py).
      const double h0 = a[0], h1 = a[1], h2 = a[2], h3 = a[3], h4 = a[4], h5 = a[5];
      const double h6 = a[6], h7 = a[7];
      const double k1 = a[8], k2 = a[9], k3 = a[10], p1 = a[11], p2 = a[12];
      const Vec2 c = m_.radial.centreFitted ? Vec2(a[13], a[14]) : m_.radial.centre;
      const double ccx = c.x(), ccy = c.y(), R = m_.radial.radius, invR = 1 / R;
      for (int64_t k = 0; k < n; ++k) {
        const double u = un[k];
        const double w = 1 / (h6 * u + h7 * vn + 1);
        const double qx = (h0 * u + h1 * vn + h2) * w, qy = (h3 * u + h4 * vn + h5) * w;
        const double px = (qx - ccx) * invR, py = (qy - ccy) * invR;
        const double r2 = px * px + py * py;
        const double radial = 1 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
        const double dx = px * radial + 2 * p1 * px * py + p2 * (r2 + 2 * px * px);
        const double dy = py * radial + p1 * (r2 + 2 * py * py) + 2 * p2 * px * py;
        x[k] = (ccx + R * dx) * invScale + cx, y[k] = (ccy + R * dy) * invScale + cy;
      }
      return;
    }
  }
}

void MapRowPlain(const Model& model, const PlateGrid& grid, int64_t j, int64_t i0, int64_t n,
                 double* x, double* y) {
  for (int64_t k = 0; k < n; ++k) {
    const Vec2 p = model.ToImage(grid.PlateOf(static_cast<double>(i0 + k), static_cast<double>(j)));
    x[k] = p.x(), y[k] = p.y();
  }
}

double CentrePixelSize(const Model& model, int64_t width, int64_t height) {
  const Vec2 centre((static_cast<double>(width) - 1) / 2, (static_cast<double>(height) - 1) / 2);
  const Vec2 uv = model.ToPlate(centre);
  if (!uv.allFinite()) return kNaN;
  const double det = std::fabs(model.Jacobian(uv).determinant());
  return det > 0 && std::isfinite(det) ? 1 / std::sqrt(det) : kNaN;
}

bool PlateBox::Valid() const {
  return std::isfinite(uMin) && std::isfinite(uMax) && std::isfinite(vMin) && std::isfinite(vMax) &&
         uMin <= uMax && vMin <= vMax;
}

namespace {

// The box of the plate points of a closed outline, sampled at most a pixel
// apart.
void IncludeOutline(const Model& model, const std::vector<Vec2>& corners, PlateBox& box) {
  for (size_t k = 0; k < corners.size(); ++k) {
    const Vec2 a = corners[k], b = corners[(k + 1) % corners.size()];
    const double length = (b - a).norm();
    const auto steps = static_cast<int64_t>(std::ceil(std::min(length, 1e6)));
    for (int64_t t = 0; t <= steps; ++t) {
      const double f = steps > 0 ? static_cast<double>(t) / static_cast<double>(steps) : 0;
      const Vec2 uv = model.ToPlate(a + f * (b - a));
      if (!uv.allFinite()) continue;
      box.uMin = std::fmin(box.uMin, uv.x()), box.uMax = std::fmax(box.uMax, uv.x());
      box.vMin = std::fmin(box.vMin, uv.y()), box.vMax = std::fmax(box.vMax, uv.y());
    }
  }
}

PlateBox EmptyBox() {
  constexpr double inf = std::numeric_limits<double>::infinity();
  return {inf, -inf, inf, -inf};
}

}  // namespace

PlateBox ImageFootprint(const Model& model, int64_t width, int64_t height) {
  PlateBox box = EmptyBox();
  const double right = static_cast<double>(width) - 0.5, bottom = static_cast<double>(height) - 0.5;
  IncludeOutline(
      model, {Vec2(-0.5, -0.5), Vec2(right, -0.5), Vec2(right, bottom), Vec2(-0.5, bottom)}, box);
  return box;
}

PlateBox RegionsFootprint(const Model& model) {
  PlateBox box = EmptyBox();
  for (const auto& region : model.data().regions)
    IncludeOutline(model, std::vector<Vec2>(region.begin(), region.end()), box);
  return box;
}

PlateGrid GridOver(const PlateBox& box, double s) {
  PlateGrid grid;
  grid.s = s;
  if (!(s > 0) || !std::isfinite(s) || !box.Valid()) return grid;
  // Pixel a covers [(a − ½)s, (a + ½)s): the first holds uMin, the last uMax.
  const double a = std::floor(box.uMin / s + 0.5), b = std::floor(box.uMax / s + 0.5);
  const double c = std::floor(box.vMin / s + 0.5), d = std::floor(box.vMax / s + 0.5);
  if (!std::isfinite(a + b + c + d)) return grid;
  grid.u0 = a * s, grid.v0 = c * s;
  // Capped just past the limit, so that width·height cannot overflow.
  const auto count = [](double n) {
    return static_cast<int64_t>(std::min(n, static_cast<double>(kMaxOutputPixels) + 1));
  };
  grid.width = count(b - a + 1), grid.height = count(d - c + 1);
  return grid;
}

GridChoice ChooseGrid(const Model& model, int64_t width, int64_t height,
                      const GridRequest& request) {
  GridChoice choice;
  PlateGrid& grid = choice.grid;
  const auto refuse = [&](GridRefusal why) {
    choice.refusal = why;
    return choice;
  };
  if (request.pixelSize && !(*request.pixelSize > 0 && std::isfinite(*request.pixelSize)))
    return refuse(GridRefusal::kBadPixelSize);
  const double s = request.pixelSize ? *request.pixelSize : CentrePixelSize(model, width, height);
  if (!(s > 0) || !std::isfinite(s)) return refuse(GridRefusal::kNoCentrePixelSize);
  grid.s = s;
  const auto& origin = request.origin;
  if (!origin || !request.size) {
    const PlateBox box =
        request.regionOnly ? RegionsFootprint(model) : ImageFootprint(model, width, height);
    if (!box.Valid())
      return refuse(request.regionOnly ? GridRefusal::kNoRegions : GridRefusal::kNoFootprint);
    grid = GridOver(box, s);
    if (origin) {
      // From the given origin to the far side of the extent.
      grid.u0 = origin->first, grid.v0 = origin->second;
      const double last = std::floor((box.uMax - grid.u0) / s + 0.5);
      const double bottom = std::floor((box.vMax - grid.v0) / s + 0.5);
      if (!(last >= 0) || !(bottom >= 0)) return refuse(GridRefusal::kOriginBeyondExtent);
      const double cap = static_cast<double>(kMaxOutputPixels) + 1;
      grid.width = static_cast<int64_t>(std::min(last + 1, cap));
      grid.height = static_cast<int64_t>(std::min(bottom + 1, cap));
    }
  } else {
    grid.u0 = origin->first, grid.v0 = origin->second;
  }
  if (request.size) grid.width = request.size->first, grid.height = request.size->second;
  if (grid.width <= 0 || grid.height <= 0) return refuse(GridRefusal::kNoPixels);
  // Each side first, so that the product cannot overflow.
  if (grid.width > kMaxOutputPixels || grid.height > kMaxOutputPixels ||
      grid.Pixels() > kMaxOutputPixels)
    return refuse(GridRefusal::kTooManyPixels);
  return choice;
}

}  // namespace qova::calib
