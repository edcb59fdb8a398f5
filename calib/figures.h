#pragma once
// The figures a lab asks of a model, each with its standard error by
// propagation (σ² = g C gᵀ, g the figure's gradient over the parameters):
// the local scale, the rotation and the angle between the axes at a plate
// point; the nonlinearity, the model minus the best affine and minus the best
// projective map fitted to the model itself sampled densely over the region.

#include <array>
#include <functional>
#include <limits>

#include "calib/model.h"

namespace qova::calib {

// A value with its standard error (NaN where it has none).
struct Figure {
  double value = std::numeric_limits<double>::quiet_NaN();
  double sigma = std::numeric_limits<double>::quiet_NaN();
};

// At a plate point, from the Jacobian J = ∂(x, y)/∂(u, v) there.
struct ScaleFigures {
  Vec2 plate = Vec2::Zero();  // where, mm (cells when the pitch is unknown)
  Figure scaleU, scaleV;  // px per mm along u and along v (per cell when unknown): |J's columns|
  Figure pixelSizeU, pixelSizeV;  // µm per px: 1000 / scale (NaN when the pitch is unknown)
  Figure rotation;          // degrees: the direction of the u column from +x, clockwise on screen
  Figure axisAngle;         // degrees between the u and v columns
  Figure nonOrthogonality;  // degrees: 90 − axisAngle
};

ScaleFigures LocalScale(const Model& model, const Vec2& plate);

// The nonlinearity at one plate point: the model minus the best map there.
struct Deviation {
  Vec2 plate = Vec2::Zero();  // mm (cells)
  Vec2 image = Vec2::Zero();  // the model's image of it, px
  Figure dx, dy;              // px
  Figure magnitude;           // px
  Figure micrometres;         // the same on the plate, µm: 1000 |J⁻¹ (dx, dy)| (NaN when the
                              // pitch is unknown)
  bool inside = true;         // inside the fitted crossings' convex hull (else extrapolated)
};

struct Nonlinearity {
  std::array<Deviation, 4> corners;  // the region's corners: (uMin, vMin), (uMax, vMin),
                                     // (uMax, vMax), (uMin, vMax)
  Deviation largest;                 // the largest magnitude over a 41 × 41 grid of the region
};

// The nonlinearity of the model against the best affine map and against the
// best projective map over the plate rectangle [uMin, uMax] × [vMin, vMax] of
// the model's normalisation; `inside` says whether a plate point lies inside
// the crossings (may be empty: everything inside).
struct NonlinearityPair {
  Nonlinearity affine, projective;
};
NonlinearityPair NonlinearityOf(const Model& model,
                                const std::function<bool(const Vec2&)>& inside = {});

// The same figures of any map from the plate to the image (the truth of a
// rendered plate, to judge a model by), without standard errors.
NonlinearityPair NonlinearityOfMap(const std::function<Vec2(const Vec2&)>& map,
                                   const PlateNormalisation& region, const Pitch& pitch);

// A projective model as a 3 × 3 matrix from the plate (u, v, 1) to the image
// (x, y, 1) in pixels, scaled so that H(2, 2) = 1, with the covariance of its
// other eight entries (row by row).
struct ProjectiveInPixels {
  Eigen::Matrix3d H;
  Eigen::Matrix<double, 8, 8> covariance;
};
// The model must be projective.
ProjectiveInPixels ProjectiveMatrix(const Model& model);

// The convex hull of plate points, and whether a point lies in it (within a
// millionth of the hull's size).
std::function<bool(const Vec2&)> ConvexHullTest(const std::vector<Vec2>& points);

}  // namespace qova::calib
