#pragma once
// The line through a line's row centres: z = α + β·Y by least squares, the
// rows beyond a few robust σ of it dropped and the line fitted again, with
// the covariance s²·(XᵀX)⁻¹ of (α, β) from the kept rows' residuals; and
// what rounding to whole grey levels leaves in α however many rows there
// are (rows whose line lies at the same sub-pixel phase round alike).

#include <vector>

#include "precise/row_measurement.h"

namespace qova::precise {

// The least-squares line z = α + β·Y through the inlier rows, with the
// covariance s²·(XᵀX)⁻¹ of (α, β).
struct StraightFit {
  bool ok = false;
  double alpha = 0, beta = 0, varAlpha = 0, varBeta = 0, cov = 0;
};

// z[r] against rows[r].dy over the rows marked inlier; not ok with fewer
// than 3 of them or all at one Y.
StraightFit FitStraight(const std::vector<MeasuredRow>& rows, const std::vector<double>& z);

// z = x − c.x − q·Y² = α + β·Y through the centres of the valid rows,
// refitted without the rows beyond params.rejectSigmas robust σ (but never
// those within params.rejectFloor of the line), at most params.rejectRounds
// times; the rows kept are left marked inlier.
StraightFit RobustLine(Vec2 c, double q, const PreciseParams& params, RowScratch& scratch);

// The kept rows per arm into arms[arm].usable, and the rounding floor of
// the intercept: the median row's floor over the number of different
// sub-pixel phases among the kept rows. false when too few rows were kept
// (params.minRows in all, params.minRowsPerArm on each arm).
bool CountRows(Vec2 c, double q, const StraightFit& f, const PreciseParams& params,
               RowScratch& scratch, ArmQuality arms[2], double& floorVariance);

}  // namespace qova::precise
