#include "precise/line_template.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <utility>

namespace qova::precise {
namespace {

double Phi(double z) { return 0.5 * std::erfc(-z / std::numbers::sqrt2); }
double Psi(double z) {
  return z * Phi(z) + std::exp(-0.5 * z * z) / std::sqrt(2 * std::numbers::pi);
}

// Box ⊗ Gaussian σc ⊗ unit pixel, and its slope (σc = 0: the sharp box's ramps).
double Continuous(double w, double sc, double s) {
  const double e[4] = {s + 0.5 + w / 2, s + 0.5 - w / 2, s - 0.5 + w / 2, s - 0.5 - w / 2};
  if (sc <= 0) {
    auto r = [](double x) { return x > 0 ? x : 0.0; };
    return r(e[0]) - r(e[1]) - r(e[2]) + r(e[3]);
  }
  return sc * (Psi(e[0] / sc) - Psi(e[1] / sc) - Psi(e[2] / sc) + Psi(e[3] / sc));
}
double ContinuousSlope(double w, double sc, double s) {
  const double e[4] = {s + 0.5 + w / 2, s + 0.5 - w / 2, s - 0.5 + w / 2, s - 0.5 - w / 2};
  if (sc <= 0) {
    auto h = [](double x) { return x > 0 ? 1.0 : x == 0 ? 0.5 : 0.0; };
    return h(e[0]) - h(e[1]) - h(e[2]) + h(e[3]);
  }
  return Phi(e[0] / sc) - Phi(e[1] / sc) - Phi(e[2] / sc) + Phi(e[3] / sc);
}

// The sampled Gaussian's taps, normalised; one tap of 1 for σd = 0.
std::vector<double> Taps(double sd) {
  if (sd <= 0) return {1.0};
  const int reach = static_cast<int>(std::ceil(4 * sd));
  std::vector<double> g;
  double total = 0;
  for (int k = -reach; k <= reach; ++k) total += g.emplace_back(std::exp(-0.5 * k * k / (sd * sd)));
  for (double& v : g) v /= total;
  return g;
}

// One shape's T and T' at any s: the filter's taps are worked out once, not
// at every evaluation (the fits of the shape evaluate it a million times).
class Evaluator {
 public:
  explicit Evaluator(const TemplateShape& t) : t_(t), taps_(Taps(t.sigmaD)) {}
  double Value(double s) const {
    return Filtered(s, [&](double x) { return Continuous(t_.w, t_.sigmaC, x); });
  }
  double Slope(double s) const {
    return Filtered(s, [&](double x) { return ContinuousSlope(t_.w, t_.sigmaC, x); });
  }

 private:
  template <class F>
  double Filtered(double s, F f) const {
    const int reach = static_cast<int>(taps_.size() / 2);
    double sum = 0;
    for (int k = -reach; k <= reach; ++k) sum += taps_[static_cast<size_t>(k + reach)] * f(s - k);
    return sum;
  }
  TemplateShape t_;
  std::vector<double> taps_;
};

}  // namespace

double TemplateValue(const TemplateShape& t, double s) { return Evaluator(t).Value(s); }

double TemplateSlope(const TemplateShape& t, double s) { return Evaluator(t).Slope(s); }

LineTemplate::LineTemplate(const TemplateShape& shape, double range, double requestedStep)
    : shape_(shape), range_(range), perPixel_(std::max(1.0, std::round(1 / requestedStep))) {
  const double step = 1 / perPixel_;
  pixelsPerNode_ = step;
  const size_t n = static_cast<size_t>(std::ceil(2 * range * perPixel_)) + 2;
  last_ = static_cast<double>(n - 2);
  // The sharp template's slope has steps: tabulate the slope as the
  // difference of the values, so that T' is T's derivative between nodes.
  // The values at the nodes and half-way between serve both.
  const Evaluator t(shape);
  std::vector<double> half(2 * n + 1);
  for (size_t k = 0; k < half.size(); ++k) half[k] = t.Value(-range + step / 2 * (double(k) - 1));
  std::vector<double> values(n), slopes(n);
  for (size_t i = 0; i < n; ++i) {
    values[i] = half[2 * i + 1];
    slopes[i] = (half[2 * i + 2] - half[2 * i]) / step;
  }
  const size_t phases = static_cast<size_t>(perPixel_);
  pixels_ = (n - 2) / phases + 1;
  quads_.assign(4 * phases * pixels_, 0.0);
  for (size_t k = 0; k + 1 < n; ++k) {
    double* q = &quads_[4 * ((k % phases) * pixels_ + k / phases)];
    q[0] = values[k], q[1] = slopes[k], q[2] = values[k + 1], q[3] = slopes[k + 1];
  }
}

TemplateSums LineTemplate::StepSumsAtEnds(double s0, int n, const double* d) const {
  TemplateSums s;
  for (int i = 0; i < n; ++i) {
    double t, p;
    At(s0 + i, t, p);
    s.t += t, s.p += p, s.tt += t * t, s.tp += t * p, s.pp += p * p;
    s.dt += d[i] * t, s.dp += d[i] * p;
  }
  return s;
}

ProfilePool::ProfilePool(double binWidth, double halfRange) : bin(binWidth), range(halfRange) {
  const size_t n = static_cast<size_t>(std::ceil(2 * halfRange / binWidth)) + 1;
  sumS.assign(n, 0), sumValue.assign(n, 0), count.assign(n, 0);
}

void ProfilePool::Add(double s, double value) {
  const double t = std::floor((s + range) / bin);
  if (!(t >= 0 && t < static_cast<double>(count.size()))) return;
  const size_t b = static_cast<size_t>(t);
  sumS[b] += s, sumValue[b] += value, count[b] += 1;
}

void ProfilePool::AddRow(double linePosition) {
  const double phase = linePosition - std::floor(linePosition);
  ++rows;
  if (phase >= 0.15 && phase <= 0.85) ++rowsBetweenPixels;
}

void ProfilePool::AddShift(double linePosition, double shift) {
  const double phase = linePosition - std::floor(linePosition);
  const size_t b = std::min<size_t>(9, static_cast<size_t>(phase * 10));
  shiftSum[b] += shift, shiftSquares[b] += shift * shift, shiftCount[b] += 1;
}

void ProfilePool::Merge(const ProfilePool& o) {
  if (count.empty()) {
    *this = o;
    return;
  }
  for (size_t b = 0; b < count.size() && b < o.count.size(); ++b)
    sumS[b] += o.sumS[b], sumValue[b] += o.sumValue[b], count[b] += o.count[b];
  rows += o.rows, rowsBetweenPixels += o.rowsBetweenPixels;
  for (size_t b = 0; b < 10; ++b) {
    shiftSum[b] += o.shiftSum[b], shiftSquares[b] += o.shiftSquares[b];
    shiftCount[b] += o.shiftCount[b];
  }
}

std::optional<ProfilePool::Shift> ProfilePool::BalancedShift() const {
  double sum = 0, variance = 0, squares = 0, spreads = 0;
  int phases = 0;
  for (size_t b = 0; b < 10; ++b) {
    const double n = shiftCount[b];
    if (n < 2) continue;
    const double mean = shiftSum[b] / n;
    const double spread = std::max(0.0, shiftSquares[b] / n - mean * mean);
    sum += mean, variance += spread / n, ++phases;
    squares += mean * mean, spreads += spread;
  }
  if (phases < 8) return std::nullopt;
  Shift s{sum / phases, std::sqrt(variance) / phases};
  s.byPhase = std::sqrt(std::max(0.0, squares / phases - s.mean * s.mean));
  s.byRow = std::sqrt(spreads / phases);
  return s;
}

namespace {

struct Bins {
  std::vector<double> s, v, n;
};

Bins BinsOf(const ProfilePool& pool) {
  Bins b;
  for (size_t i = 0; i < pool.count.size(); ++i)
    if (pool.count[i] > 0) {
      b.s.push_back(pool.sumS[i] / pool.count[i]);
      b.v.push_back(pool.sumValue[i] / pool.count[i]);
      b.n.push_back(pool.count[i]);
    }
  return b;
}

// Weighted least squares of v ≈ β + A·T(s): the misfit left.
double Misfit(const Bins& b, const TemplateShape& t) {
  const Evaluator shape(t);
  double sw = 0, st = 0, stt = 0, sv = 0, stv = 0, svv = 0;
  for (size_t i = 0; i < b.s.size(); ++i) {
    const double w = b.n[i], x = shape.Value(b.s[i]), v = b.v[i];
    sw += w, st += w * x, stt += w * x * x, sv += w * v, stv += w * x * v, svv += w * v * v;
  }
  const double det = sw * stt - st * st;
  if (!(det > 1e-12 * sw * stt)) return INFINITY;
  const double a = (sw * stv - st * sv) / det;
  const double beta = (sv - a * st) / sw;
  if (!(a > 0)) return INFINITY;
  // Σw(v − β − A·T)² expanded.
  return svv - 2 * beta * sv - 2 * a * stv + beta * beta * sw + 2 * beta * a * st + a * a * stt;
}

struct Candidate {
  TemplateShape shape;
  double misfit = INFINITY;
};

// Pattern search in (w, σ) of one blur kind: steps along both axes and both
// anti-diagonals (width and blur trade against each other), halving down
// to 0.003 px.
Candidate PatternSearch(const Bins& bins, Candidate start, bool optical) {
  auto sigma = [&](TemplateShape& t) -> double& { return optical ? t.sigmaC : t.sigmaD; };
  Candidate best = start;
  for (double step = 0.1; step >= 0.003;) {
    bool moved = false;
    const std::array<std::pair<double, double>, 6> moves = {
        {{step, 0}, {-step, 0}, {0, step}, {0, -step}, {step, -step}, {-step, step}}};
    for (const auto& [dw, ds] : moves) {
      Candidate c = best;
      c.shape.w += dw;
      sigma(c.shape) += ds;
      if (c.shape.w < 0.05 || sigma(c.shape) < 0) continue;
      // A continuous blur this small is the sharp box to the last digit.
      if (optical && c.shape.sigmaC > 0 && c.shape.sigmaC < 1e-3) c.shape.sigmaC = 0;
      c.misfit = Misfit(bins, c.shape);
      if (c.misfit < best.misfit) best = c, moved = true;
    }
    if (!moved) step /= 2;
  }
  return best;
}

}  // namespace

std::optional<TemplateShape> FitTemplateShape(const ProfilePool& pool, double h2,
                                              const std::optional<TemplateShape>& from) {
  const Bins bins = BinsOf(pool);
  if (bins.s.size() < 6) return std::nullopt;
  std::vector<Candidate> optical, digital;
  if (from) {
    Candidate c{*from, Misfit(bins, *from)};
    (from->sigmaD > 0 ? digital : optical).push_back(c);
  } else {
    for (double w = 0.25; w <= 1.6 * h2; w += 0.25) {
      for (double sc : {0.0, 0.3, 0.6, 0.9, 1.2, 1.6, 2.0, 2.5, 3.2, 4.0}) {
        const TemplateShape t{w, sc, 0};
        optical.push_back({t, Misfit(bins, t)});
      }
      for (double sd : {0.4, 0.7, 1.0, 1.3, 1.6, 2.0}) {
        const TemplateShape t{w, 0, sd};
        digital.push_back({t, Misfit(bins, t)});
      }
    }
  }
  Candidate best;
  for (bool isOptical : {true, false}) {
    std::vector<Candidate>& list = isOptical ? optical : digital;
    std::stable_sort(list.begin(), list.end(),
                     [](const Candidate& a, const Candidate& b) { return a.misfit < b.misfit; });
    for (size_t k = 0; k < std::min<size_t>(2, list.size()); ++k) {
      if (!std::isfinite(list[k].misfit)) continue;
      const Candidate c = PatternSearch(bins, list[k], isOptical);
      if (c.misfit < best.misfit) best = c;
    }
  }
  if (!std::isfinite(best.misfit)) return std::nullopt;
  return best.shape;
}

}  // namespace qova::precise
