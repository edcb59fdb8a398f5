#include "precise/line_fit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "precise/numeric.h"
#include "precise/robust_line.h"

namespace qova::precise {
namespace {

// Whether the rows and windows are those of the last fit.
bool SameLayout(const std::vector<MeasuredRow>& rows, const LineMemory& memory) {
  if (rows.size() != memory.layout.size()) return false;
  for (size_t r = 0; r < rows.size(); ++r) {
    const LineMemory::Window& w = memory.layout[r];
    if (rows[r].arm != w.arm || rows[r].y != w.y || rows[r].x0 != w.x0 || rows[r].n != w.n)
      return false;
  }
  return true;
}

LineFit Recentred(const LineMemory& memory, Vec2 c, double q) {
  return MovedTo(memory.lastFit, memory.lastCentre, c, q);
}

void Remember(const FamilyContext& family, Vec2 c, const LineFit& fit, const RowScratch& scratch,
              LineMemory& memory) {
  memory.layout.clear();
  for (const MeasuredRow& row : scratch.rows) {
    memory.layout.push_back({row.arm, row.y, row.x0, row.n});
    RowMemory::Entry e{row.x0, row.n, row.laidAt, NAN, 0};
    if (family.lineTemplate) {
      const RowMemory::Entry* last = memory.rows.Find(row.y);
      if (row.valid)
        e.centre = row.xk + row.centre, e.floor = row.floor;
      else if (last && last->x0 == row.x0 && last->n == row.n)
        e.centre = last->centre, e.floor = last->floor;  // the same pixels' fit
    }
    memory.rows.Set(row.y, e);
  }
  memory.lastFit = fit;
  memory.lastCentre = c;
}

// The kept rows' profiles about the fitted line, over their ink.
void PoolRows(const FamilyContext& family, Vec2 c, double q, const StraightFit& f,
              const RowScratch& scratch, ProfilePool& pool) {
  for (const MeasuredRow& row : scratch.rows) {
    if (!row.inlier) continue;
    const double fitted = c.x + f.alpha + f.beta * row.dy + q * row.dy * row.dy;
    const double offset = fitted - row.xk;
    const double* d = scratch.samples.data() + row.first;
    for (int i = 0; i < row.n; ++i) pool.Add(row.x0 + i - row.xk - offset, d[i] / row.mass);
    pool.AddRow(fitted);
    if (family.lineTemplate) pool.AddShift(fitted, row.centre - row.centroid);
  }
}

}  // namespace

// A line fit about c', x = c'.x + α + β·(y − c'.y) + q·(y − c'.y)², written
// about c.
LineFit MovedTo(const LineFit& fit, Vec2 from, Vec2 c, double q) {
  LineFit same = fit;
  const double shift = c.y - from.y;
  same.alpha = from.x - c.x + same.alpha + same.beta * shift + q * shift * shift;
  same.beta += 2 * q * shift;
  same.reused = true;
  return same;
}

LineFit FitLine(const FamilyContext& family, Vec2 c, const LineGeometry& line,
                const PreciseParams& params, const FitOptions& options, ProfilePool* pool,
                LineMemory* memory) {
  const Band band = BandOf(family, line);
  LineFit fit;
  RowScratch& scratch = ThreadScratch();
  scratch.rows.clear(), scratch.samples.clear();
  LayRows(*family.view, family.core, c, line, band, options.rowStep,
          memory ? &memory->rows : nullptr, params.windowHold, scratch, fit.arms);
  // The same pixels in every window give every row the same template fit
  // and the line the same place: the last fit, about the new centre.
  if (memory && family.lineTemplate && memory->lastFit.ok && SameLayout(scratch.rows, *memory))
    return Recentred(*memory, c, band.q);

  Gather(*family.view, scratch);
  bool planeOk[2] = {false, false};
  SubtractBackground(*family.view, band, scratch, planeOk);
  MeasureRows(family, band, params, memory ? &memory->rows : nullptr, planeOk, scratch, fit.arms);
  const StraightFit f = RobustLine(c, band.q, params, scratch);
  if (!f.ok || !CountRows(c, band.q, f, params, scratch, fit.arms, fit.floorVariance)) return fit;
  fit.alpha = f.alpha, fit.beta = f.beta;
  fit.varAlpha = f.varAlpha, fit.varBeta = f.varBeta, fit.covAlphaBeta = f.cov;
  fit.ok = std::isfinite(fit.varAlpha) && std::isfinite(fit.floorVariance);
  if (memory) Remember(family, c, fit, scratch, *memory);
  if (pool && fit.ok) PoolRows(family, c, band.q, f, scratch, *pool);
  return fit;
}

LineFit FitToArms(const MeasuredArm* const arms[2], Vec2 c, const LineGeometry& line,
                  const PreciseParams& params) {
  LineFit fit;
  RowScratch& scratch = ThreadScratch();
  scratch.rows.clear(), scratch.values.clear();
  for (int arm = 0; arm < 2; ++arm) {
    for (const MeasuredArm::Row& measured : arms[arm]->rows) {
      MeasuredRow& row = scratch.rows.emplace_back();
      row.arm = arm, row.y = measured.y, row.dy = row.y - c.y;
      row.xk = measured.at, row.centre = 0;
      row.floor = measured.floor, row.mass = measured.mass;
      row.planeOk = measured.planeOk, row.measured = measured.measured;
    }
    fit.arms[arm].rows = static_cast<int>(arms[arm]->rows.size());
    fit.arms[arm].medianMass = arms[arm]->medianMass;
  }
  scratch.values.clear();
  // A row counts when its ink exceeds a share of the median of both arms'
  // inks. That median lies between the two arms' medians, so only a row
  // between the shares of those needs it worked out.
  const double share = params.rowMassShare;
  double low = 0, high = 0;
  if (arms[0]->planeOk || arms[1]->planeOk) {
    const double m0 = arms[0]->planeOk ? arms[0]->medianMass : arms[1]->medianMass;
    const double m1 = arms[1]->planeOk ? arms[1]->medianMass : arms[0]->medianMass;
    low = std::min(m0, m1), high = std::max(m0, m1);
  }
  bool undecided = false;
  for (const MeasuredRow& row : scratch.rows)
    undecided = undecided || (row.planeOk && row.measured && row.mass > share * low &&
                              !(row.mass > share * high));
  double medianMass = low;
  if (undecided) {
    for (const MeasuredRow& row : scratch.rows)
      if (row.planeOk) scratch.values.push_back(row.mass);
    medianMass = MedianOfFirst(scratch.values, scratch.values.size());
  }
  for (MeasuredRow& row : scratch.rows)
    row.inlier = row.valid = row.planeOk && row.mass > share * medianMass && row.measured;
  const double q = line.curvature;
  const StraightFit f = RobustLine(c, q, params, scratch);
  if (!f.ok || !CountRows(c, q, f, params, scratch, fit.arms, fit.floorVariance)) return fit;
  fit.alpha = f.alpha, fit.beta = f.beta;
  fit.varAlpha = f.varAlpha, fit.varBeta = f.varBeta, fit.covAlphaBeta = f.cov;
  fit.ok = std::isfinite(fit.varAlpha) && std::isfinite(fit.floorVariance);
  return fit;
}

bool ArmsHold(const MeasuredArm* const arms[2], Vec2 c, const LineFit& fit, double q, double hold) {
  for (int arm = 0; arm < 2; ++arm)
    for (const MeasuredArm::Row& row : arms[arm]->rows) {
      const double dy = row.y - c.y;
      if (!(std::fabs(c.x + fit.alpha + fit.beta * dy + q * dy * dy - row.laidAt) <= hold))
        return false;
    }
  return true;
}

}  // namespace qova::precise
