#include "precise/crossing_fit.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qova::precise {
namespace {

// The crossing's standard errors and arms from its two final line fits,
// `move` being the last intersection's offset from the centre they were
// fitted about.
void Conclude(Vec2 c, Intersection move, const LineFit& lv, const LineFit& lh,
              CrossingFit& result) {
  // The covariance of the crossing through the intersection's Jacobian; each
  // line's rounding floor joins its intercept.
  const double d = 1 - lv.beta * lh.beta;
  const double x = move.x, y = move.y;
  const double varAv = lv.varAlpha + lv.floorVariance, varAh = lh.varAlpha + lh.floorVariance;
  const double lineV = varAv + y * y * lv.varBeta + 2 * y * lv.covAlphaBeta;
  const double lineH = varAh + x * x * lh.varBeta + 2 * x * lh.covAlphaBeta;
  const double varX = (lineV + lv.beta * lv.beta * lineH) / (d * d);
  const double varY = (lineH + lh.beta * lh.beta * lineV) / (d * d);
  result.sigmaX = std::sqrt(std::max(0.0, varX));
  result.sigmaY = std::sqrt(std::max(0.0, varY));
  result.standardError = std::sqrt(result.sigmaX * result.sigmaX + result.sigmaY * result.sigmaY);
  result.position = c;
  result.arms[0] = lv.arms[0], result.arms[1] = lv.arms[1];
  result.arms[2] = lh.arms[0], result.arms[3] = lh.arms[1];
  result.slopeV = lv.beta, result.slopeH = lh.beta;
  result.ok = std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(result.standardError);
}

// The fine loop: the two lines about the current centre (`linesAbout(c,
// it)` fits them afresh or moves the last ones there), their intersection
// the next centre, until it moves less than the convergence. false when a
// line fails, the lines do not cross or the centre wanders half a spacing
// from start; else c is the crossing, `move` its last step and lv, lh the
// lines it came from.
template <class LinesAbout>
bool Iterate(Vec2 start, const LineGeometry& v, const LineGeometry& h, const PreciseParams& params,
             const FitOptions& options, LinesAbout&& linesAbout, const LineFit& lv,
             const LineFit& lh, Vec2& c, Intersection& move, CrossingFit& result) {
  c = start;
  move = {0, 0};
  const double wander = 0.5 * std::min(v.spacing, h.spacing);
  for (int it = 1; it <= params.maxIterations; ++it) {
    linesAbout(c, it);
    if (!lv.ok || !lh.ok) return false;
    if (!Intersect(lv.alpha, lv.beta, v.curvature, lh.alpha, lh.beta, h.curvature, move))
      return false;
    c = c + Vec2{move.x, move.y};
    result.iterations = it;
    if (!(Distance(c, start) <= wander)) return false;
    if (std::hypot(move.x, move.y) < options.convergence) break;
  }
  return true;
}

}  // namespace

CrossingFit FitCrossingFromArms(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                                const MeasuredArm* const armsV[2],
                                const MeasuredArm* const armsH[2], const PreciseParams& params,
                                const FitOptions& options) {
  CrossingFit result;
  // The same rows give the same lines: fitted once about start, then moved
  // to each new centre.
  Vec2 fittedAt = start;
  LineFit lv = FitToArms(armsV, start, v, params);
  LineFit lh = FitToArms(armsH, InFrame(start, true), h, params);
  auto linesAbout = [&](Vec2 c, int it) {
    if (it == 1) return;
    lv = MovedTo(lv, fittedAt, c, v.curvature);
    lh = MovedTo(lh, InFrame(fittedAt, true), InFrame(c, true), h.curvature);
    fittedAt = c;
  };
  Vec2 c;
  Intersection move;
  if (!Iterate(start, v, h, params, options, linesAbout, lv, lh, c, move, result)) return result;
  if (!ArmsHold(armsV, fittedAt, lv, v.curvature, params.windowHold) ||
      !ArmsHold(armsH, InFrame(fittedAt, true), lh, h.curvature, params.windowHold))
    return result;
  Conclude(c, move, lv, lh, result);
  return result;
}

CrossingFit FitCrossing(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                        const FamilyContext& vertical, const FamilyContext& horizontal,
                        const PreciseParams& params, const FitOptions& options, ProfilePool* poolV,
                        ProfilePool* poolH) {
  CrossingFit result;
  // Each fit starts from the slopes the last one found.
  LineGeometry gv = v, gh = h;
  LineFit lv, lh;
  ProfilePool lastV, lastH;
  LineMemory memoryV(start.y, std::max(v.armBefore, v.armAfter));
  LineMemory memoryH(start.x, std::max(h.armBefore, h.armAfter));
  auto linesAbout = [&](Vec2 c, int it) {
    if (it > 1) gv.slope = lv.beta, gh.slope = lh.beta;
    ProfilePool nextV, nextH;
    if (poolV) nextV = ProfilePool(poolV->bin, poolV->range);
    if (poolH) nextH = ProfilePool(poolH->bin, poolH->range);
    lv = FitLine(vertical, c, gv, params, options, poolV ? &nextV : nullptr, &memoryV);
    lh = FitLine(horizontal, InFrame(c, true), gh, params, options, poolH ? &nextH : nullptr,
                 &memoryH);
    // A line fitted again brings its rows' profiles; a reused one keeps the last.
    if (poolV && !lv.reused) lastV = std::move(nextV);
    if (poolH && !lh.reused) lastH = std::move(nextH);
  };
  Vec2 c;
  Intersection move;
  if (!Iterate(start, v, h, params, options, linesAbout, lv, lh, c, move, result)) return result;
  Conclude(c, move, lv, lh, result);
  if (result.ok && poolV) poolV->Merge(lastV);
  if (result.ok && poolH) poolH->Merge(lastH);
  return result;
}

}  // namespace qova::precise
