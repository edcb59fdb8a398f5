#pragma once
// A distortion model: the map from the plate (u, v), in millimetres (or
// cells when the pitch is unknown), to the image (x, y), in pixels, with the
// covariance of its parameters. Every family is evaluated in normalised
// coordinates: the plate's extent onto [-1, 1]² and the image by Hartley's
// scaling (the centroid to 0, the mean distance to √2), so that the fits stay
// well conditioned on any image size.
//
//   affine, polyN  x̃ = Σ a_ij P_i(ũ) P_j(ṽ), ỹ = Σ b_ij P_i(ũ) P_j(ṽ), i + j ≤ N
//                  (Legendre polynomials; affine is N = 1)
//   projective     x̃ = (h0 ũ + h1 ṽ + h2) / (h6 ũ + h7 ṽ + 1), ỹ likewise with h3..h5
//   radial         the projective point q̃, then about a centre c̃, with
//                  p = (q̃ − c̃)/R̃ (R̃ the half-diagonal of the image), ρ² = |p|²:
//                  p_d = p (1 + k1 ρ² + k2 ρ⁴ + k3 ρ⁶)
//                        + (2 p1 px py + p2 (ρ² + 2 px²), p1 (ρ² + 2 py²) + 2 p2 px py),
//                  x̃ = c̃ + R̃ p_d
//   spline         x̃ = Σ a_kl B_k(ũ) B_l(ṽ), cubic B-splines on uniform knots
//
// Parameters, in order: affine and polyN the x coefficients then the y
// coefficients, terms by total degree (1; P1(ũ), P1(ṽ); P2(ũ), P1(ũ)P1(ṽ),
// P2(ṽ); ...); projective h0..h7 (h8 = 1: the centre of the plate maps near
// the centre of the image, so h8 is never near 0 in normalised coordinates);
// radial h0..h7, k1, k2, k3, p1, p2 and, when the centre was fitted, c̃x, c̃y;
// spline the x coefficients then the y coefficients, a_kl at k·(Kv + 3) + l.

#include <Eigen/Core>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qova::calib {

using Vec2 = Eigen::Vector2d;

enum class ModelType { Affine, Projective, Radial, Poly, Spline };

struct ModelKind {
  ModelType type = ModelType::Affine;
  int degree = 1;  // of a polynomial: 2..6 for polyN, 1 for affine; unused otherwise
  bool operator==(const ModelKind&) const = default;
};

// "affine", "projective", "radial", "poly2" ... "poly6", "spline".
std::string ModelName(ModelKind kind);
// The kind of a model name; empty for any other text ("auto" included).
std::optional<ModelKind> ParseModelKind(std::string_view name);
// The names of every family, simplest first: the candidates of `auto`.
const std::vector<std::string>& ModelNames();

// Plate (u, v) onto [-1, 1]²: ũ = 2 (u − uMin)/(uMax − uMin) − 1, likewise ṽ.
struct PlateNormalisation {
  double uMin = -1, uMax = 1, vMin = -1, vMax = 1;
  Vec2 Apply(const Vec2& uv) const;
  Vec2 Undo(const Vec2& n) const;
  // dũ/du and dṽ/dv.
  Vec2 Gain() const;
};

// Image (x, y) to x̃ = (x − centre)·scale.
struct ImageNormalisation {
  Vec2 centre = Vec2::Zero();
  double scale = 1;
  Vec2 Apply(const Vec2& xy) const { return (xy - centre) * scale; }
  Vec2 Undo(const Vec2& n) const { return n / scale + centre; }
};

// The plate's pitch in millimetres. Both 0: unknown, plate units are cells.
struct Pitch {
  double x = 0, y = 0;
  bool Known() const { return x != 0 || y != 0; }
  // Millimetres per column and per row (1 and 1 when unknown).
  double UnitX() const { return Known() ? x : 1; }
  double UnitY() const { return Known() ? y : 1; }
};

// The spline's knots: Ku × Kv uniform intervals over [-1, 1]², so Ku + 3 by
// Kv + 3 coefficients for each coordinate; their spacing in cells and the
// smoothness λ chosen (relative to the mean weight), with the effective
// number of parameters tr S of each coordinate.
struct SplineGrid {
  int knotsU = 1, knotsV = 1;
  int spacingCells = 1;
  double lambda = 0;
  double effectiveParameters = 0;
  int Coefficients() const { return (knotsU + 3) * (knotsV + 3); }
};

// The radial model's centre and scale, in normalised image coordinates.
struct RadialSetup {
  Vec2 centre = Vec2::Zero();  // c̃: the fitted centre, or the image centre when fixed
  double radius = 1;           // R̃: the half-diagonal of the image
  bool centreFitted = false;
};

class SplineFactor;

// The covariance of the parameters, in normalised units.
struct ParamCovariance {
  enum class Form {
    Dense,        // every family but the spline: the full P × P matrix
    SplineLocal,  // the spline: x and y coefficients uncorrelated and sharing one matrix,
                  // kept only between coefficients whose supports overlap (|Δk|, |Δl| ≤ 3),
                  // which is all a predicted position needs
  };
  Form form = Form::Dense;
  Eigen::MatrixXd dense;
  // SplineLocal: 49 entries a coefficient, neighbour (dk, dl) at (dk + 3)·7 + dl + 3;
  // 0 where the neighbour lies outside the grid.
  std::vector<double> local;
  // After a fit, the spline's factorised precision matrix, for quadratic
  // forms of any gradient (a figure's); absent in a model read from a file.
  std::shared_ptr<const SplineFactor> factor;

  // gᵀ C g for a gradient g over the parameters. onePrediction: g is the gradient
  // of one predicted position (the spline's then need only the local
  // entries, so a model read from a file gives the same bits).
  double Quadratic(const Eigen::VectorXd& g, const SplineGrid& grid,
                   bool onePrediction = false) const;
  // The standard error of each parameter.
  Eigen::VectorXd StandardErrors(int parameters) const;
};

// Everything a model file holds.
struct ModelData {
  ModelKind kind;
  Eigen::VectorXd params;
  ParamCovariance covariance;
  PlateNormalisation plate;
  ImageNormalisation image;
  Pitch pitch;
  int imageWidth = 0, imageHeight = 0;
  SplineGrid spline;   // spline only
  RadialSetup radial;  // radial only
  // Figures of the fit kept with the model: the RMS of the residuals, px; the
  // cross-validated RMS, px; the crossings fitted.
  double rms = 0, cvRms = 0;
  int points = 0;
  // The image corners of the regions whose crossings were fitted (may be
  // empty); the model holds inside the crossings.
  std::vector<std::array<Vec2, 4>> regions;
};

// The number of parameters of a kind (for the spline, of its grid; for
// radial, with the centre when fitted).
int ParameterCount(ModelKind kind, const SplineGrid& grid, bool centreFitted);
// Readable names of the parameters, in order ("x:1", "x:P1(u)", "h0", "k1", "x[3,4]", ...).
std::vector<std::string> ParameterNames(const ModelData& data);

// The model in use: evaluation, its derivatives, the inverse and the
// standard error of a predicted position.
class Model {
 public:
  // The identity: an affine model with x = u, y = v.
  Model();
  // The data must be consistent (as the fit and the model file reader make it).
  explicit Model(ModelData data);

  const ModelData& data() const { return data_; }
  std::string Name() const { return ModelName(data_.kind); }
  int ParameterCount() const { return static_cast<int>(data_.params.size()); }

  // (u, v) → (x, y).
  Vec2 ToImage(const Vec2& uv) const;
  // ∂(x, y)/∂(u, v), pixels per plate unit.
  Eigen::Matrix2d Jacobian(const Vec2& uv) const;
  // ∂(x, y)/∂θ, pixels per parameter unit: 2 × P.
  Eigen::MatrixXd ParamGradient(const Vec2& uv) const;
  // (x, y) → (u, v): Newton's method from the best affine map's inverse, until
  // a step is below 1e-12 of a cell, at most 20 steps; NaN where the Jacobian
  // is singular or the steps do not converge.
  Vec2 ToPlate(const Vec2& xy) const;
  // Standard errors of the predicted x and y at a plate point, pixels.
  Vec2 PredictSigmaAtPlate(const Vec2& uv) const;
  // The same at the plate point that maps to the image point xy (NaN where
  // ToPlate is NaN).
  Vec2 PredictSigma(const Vec2& xy) const;

  // In normalised coordinates (for the fits and the figures).
  Vec2 EvalNormalised(const Vec2& n) const;
  Eigen::Matrix2d JacobianNormalised(const Vec2& n) const;

 private:
  ModelData data_;
  // The best affine map, in normalised coordinates: x̃ ≈ affine_ · (1, ũ, ṽ).
  Eigen::Matrix<double, 2, 3> affine_;
};

}  // namespace qova::calib
