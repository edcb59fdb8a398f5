#pragma once
// One line of a crossing: its rows measured (row_measurement), the line
// fitted robustly through their centres (robust_line), with the arms'
// quality for the verification, the rounding floor of its intercept and
// the rows' profiles for the template. The next fit of the same line reuses
// what did not change: the rows' windows while the line stays near them,
// the template's centre where a window holds the same pixels, the whole fit
// where every window does.

#include <vector>

#include "precise/row_measurement.h"

namespace qova::precise {

struct LineFit {
  bool ok = false;
  double alpha = 0, beta = 0;  // x = c.x + alpha + beta·Y + curvature·Y² in the frame
  double varAlpha = 0, varBeta = 0, covAlphaBeta = 0;
  double floorVariance = 0;  // 8-bit rounding floor of alpha
  ArmQuality arms[2];        // before, after
  bool reused = false;       // the last fit of the line, moved to the new centre
};

// What the last fit of a line did: each row's window and template centre,
// the rows and windows in order, and the fit with the centre it was made
// about.
struct LineMemory {
  LineMemory(double centre, double span) : rows(centre, span) {}
  struct Window {
    int arm, y, x0, n;
  };
  RowMemory rows;
  std::vector<Window> layout;
  LineFit lastFit;
  Vec2 lastCentre;
};

// One line of the crossing at c (frame coordinates); `pool`, when given,
// collects the kept rows' profiles about the fitted line; `memory` carries
// the rows' centres from one fit of the line to the next.
LineFit FitLine(const FamilyContext& family, Vec2 c, const LineGeometry& line,
                const PreciseParams& params, const FitOptions& options, ProfilePool* pool,
                LineMemory* memory = nullptr);

// The line through a crossing's two measured arms (before, after), about
// c: each row counts when its ink exceeds a share of the median row's of
// both arms and it has a centre.
LineFit FitToArms(const MeasuredArm* const arms[2], Vec2 c, const LineGeometry& line,
                  const PreciseParams& params);

// Whether the line lies within `hold` of where every window of the arms
// was laid.
bool ArmsHold(const MeasuredArm* const arms[2], Vec2 c, const LineFit& fit, double q, double hold);

// A line fit about `from`, x = from.x + α + β·(y − from.y) + q·(y − from.y)²,
// written about c.
LineFit MovedTo(const LineFit& fit, Vec2 from, Vec2 c, double q);

}  // namespace qova::precise
