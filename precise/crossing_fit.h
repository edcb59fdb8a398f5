#pragma once
// One crossing, refined: its two lines fitted (line_fit), intersected, and
// the lines fitted again about the intersection until it moves less than a
// ten-thousandth of a pixel. The covariance of the two line fits through
// the intersection gives the standard error.

#include "precise/line_fit.h"

namespace qova::precise {

struct CrossingFit {
  bool ok = false;
  Vec2 position;
  double sigmaX = 0, sigmaY = 0, standardError = 0;
  ArmQuality arms[4];  // vertical line before, after; horizontal line before, after
  double slopeV = 0, slopeH = 0;
  int iterations = 0;
};

// The crossing near start (image coordinates) of the vertical line v and
// the horizontal line h (each in its own frame). poolV and poolH, when
// given, collect the rows' profiles of the last fit of each line.
CrossingFit FitCrossing(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                        const FamilyContext& vertical, const FamilyContext& horizontal,
                        const PreciseParams& params, const FitOptions& options,
                        ProfilePool* poolV = nullptr, ProfilePool* poolH = nullptr);

// The crossing near start from its four measured arms (vertical before and
// after, horizontal before and after; each measured about either crossing
// it joins). Not ok when the lines fitted through them lie further than
// params.windowHold from where an arm's windows were laid: then the arms
// do not serve this crossing and FitCrossing must measure it.
CrossingFit FitCrossingFromArms(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                                const MeasuredArm* const armsV[2],
                                const MeasuredArm* const armsH[2], const PreciseParams& params,
                                const FitOptions& options);

}  // namespace qova::precise
