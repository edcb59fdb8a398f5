#pragma once
// The line profile template: a box of width w, blurred by a continuous
// Gaussian σc (the optics, before sampling), integrated over the unit pixel,
// then filtered by a sampled Gaussian σd (processing after sampling). With
// Ψ(z) = zΦ(z) + φ(z),
//   Tc(s) = σc·[Ψ((s+½+w/2)/σc) − Ψ((s+½−w/2)/σc) − Ψ((s−½+w/2)/σc) + Ψ((s−½−w/2)/σc)],
//   T(s)  = Σk g_k·Tc(s − k), g ∝ exp(−k²/2σd²) over |k| <= 4σd,
// and T' the same with Φ for Ψ. A row's centre is the shift d of A·T(s − d)
// + β that fits the row's background-subtracted profile best: unlike a
// centroid it has no pixel-phase bias on sharp lines.
//
// The shape (w, σc, σd) of a family is fitted once to the pooled profiles of
// many crossings (s relative to each row's fitted line, values over the row's
// ink), in fine bins each placed at the mean s of its samples.

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "precise/row_kernels.h"

namespace qova::precise {

struct TemplateShape {
  double w = 0;       // box width, pixels along the row
  double sigmaC = 0;  // continuous Gaussian blur, pixels
  double sigmaD = 0;  // sampled Gaussian filter, pixels
};

// T(s) and T'(s) of a shape, in closed form.
double TemplateValue(const TemplateShape& shape, double s);
double TemplateSlope(const TemplateShape& shape, double s);

// T and T' tabulated on [−range, range] at a fine step (a whole number of
// nodes per pixel), linearly interpolated. A row's samples lie whole pixels
// apart, all at one phase between two nodes: the table is kept phase by
// phase, so that a row reads neighbouring memory.
class LineTemplate {
 public:
  LineTemplate(const TemplateShape& shape, double range, double step);
  const TemplateShape& Shape() const { return shape_; }
  // T(s) and T'(s); beyond the range the end values.
  void At(double s, double& value, double& slope) const {
    double t = (s + range_) * perPixel_;
    t = std::clamp(t, 0.0, last_);
    const size_t i = static_cast<size_t>(t);
    const double f = t - static_cast<double>(i);
    const double* a = Quad(i);
    value = a[0] + f * (a[2] - a[0]);
    slope = a[1] + f * (a[3] - a[1]);
  }

  // T and T' at s0, s0 + 1, ..., s0 + n − 1.
  void Run(double s0, int n, double* value, double* slope) const {
    for (int i = 0; i < n; ++i) At(s0 + i, value[i], slope[i]);
  }

  // The sums of a Gauss-Newton step over the samples d[0 .. n) at s0,
  // s0 + 1, ...: whole pixels apart, so every sample falls at the same place
  // between two nodes and one weight serves.
  TemplateSums StepSums(double s0, int n, const double* d) const {
    const double t0 = (s0 + range_) * perPixel_;
    const double end = t0 + static_cast<double>(n - 1) * perPixel_;
    if (!(t0 >= 0 && end < last_)) return StepSumsAtEnds(s0, n, d);
    const size_t first = static_cast<size_t>(t0);
    return TemplateStepSums(QuadFast(first), t0 - static_cast<double>(first), d, n);
  }

 private:
  // T and T' at node k and at node k + 1 (k <= last_), four doubles; the
  // quads of nodes a pixel apart follow one another.
  const double* Quad(size_t k) const {
    const size_t phases = static_cast<size_t>(perPixel_);
    return &quads_[4 * ((k % phases) * pixels_ + k / phases)];
  }
  // The same without an integer division (tens of cycles, twice a row).
  const double* QuadFast(size_t k) const {
    const long phases = static_cast<long>(perPixel_);
    long pixel = static_cast<long>(static_cast<double>(k) * pixelsPerNode_);
    long phase = static_cast<long>(k) - pixel * phases;
    if (phase < 0) --pixel, phase += phases;  // the product rounded either way
    if (phase >= phases) ++pixel, phase -= phases;
    return &quads_[4 * (static_cast<size_t>(phase) * pixels_ + static_cast<size_t>(pixel))];
  }
  // The same where some samples lie beyond the table: their end values.
  TemplateSums StepSumsAtEnds(double s0, int n, const double* d) const;

  TemplateShape shape_;
  double range_, perPixel_, last_;  // perPixel_: nodes per pixel, a whole number
  double pixelsPerNode_;            // 1 / perPixel_
  size_t pixels_;                   // quads per phase
  std::vector<double> quads_;
};

// Pooled row profiles of one family: per bin the sum of s, of the values and
// the count; also how many rows lay at sub-pixel phases away from whole
// pixels (the shape is undetermined when nearly none do), and, per tenth of
// a pixel of phase, how far the template's row centres lay from the rows'
// centroids.
struct ProfilePool {
  double bin = 0.1, range = 0;
  std::vector<double> sumS, sumValue, count;
  long rows = 0, rowsBetweenPixels = 0;
  std::array<double, 10> shiftSum{}, shiftSquares{}, shiftCount{};

  ProfilePool() = default;
  ProfilePool(double binWidth, double halfRange);
  void Add(double s, double value);
  void AddRow(double linePosition);
  // A row whose line lies at linePosition, centred by the template `shift`
  // pixels from its centroid.
  void AddShift(double linePosition, double shift);
  void Merge(const ProfilePool& other);
  bool Empty() const { return rows == 0; }

  // The template's shift from the centroids, averaged over the phases so
  // that the centroids' pixel-phase bias (zero over a whole pixel) drops
  // out, and its standard error; empty when fewer than 8 of the 10 phases
  // hold rows (then the centroids cannot be a reference). Also how much the
  // shift changes with the phase (the RMS of the phases' means about their
  // mean) and how much it scatters from row to row at one phase (the RMS of
  // the phases' standard deviations: mostly the centroids' noise).
  struct Shift {
    double mean = 0, error = 0;
    double byPhase = 0, byRow = 0;
  };
  std::optional<Shift> BalancedShift() const;
};

// The shape with the least weighted squared misfit to the pooled profile,
// offset and scale free: a coarse grid over w (0.25 to 1.6·h2) with either
// σc or σd, then a pattern search from the two best of each kind. `from`,
// when given, replaces the grid by a search from it alone.
std::optional<TemplateShape> FitTemplateShape(const ProfilePool& pool, double h2,
                                              const std::optional<TemplateShape>& from);

}  // namespace qova::precise
