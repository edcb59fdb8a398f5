#include "precise/precise_refinement.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <utility>

#include "precise/coarse_snap.h"
#include "precise/completion.h"
#include "precise/corner_start.h"
#include "precise/crossing_fit.h"
#include "precise/curvature.h"
#include "precise/geometry.h"
#include "precise/grey_view.h"
#include "precise/lattice.h"
#include "precise/line_support.h"
#include "precise/line_template.h"
#include "precise/node_table.h"
#include "precise/numeric.h"
#include "precise/parallel_for.h"
#include "precise/polarity.h"
#include "precise/shared_arms.h"

namespace qova::precise {
namespace {

// A refinement failure with the reason the caller shows.
struct Failure {
  PreciseFailure why;
};

class Refinement {
 public:
  // The image read through two views of one polarity, as it is and
  // transposed.
  Refinement(const GreyView& vertical, const GreyView& horizontal, const precise::Region& region,
             const PreciseParams& params)
      : region_(region), params_(params), vertical_(vertical), horizontal_(horizontal) {}

  std::vector<PrecisePoint> FromStarts(const std::vector<Vec2>& starts, bool fromCorners) {
    fromCorners_ = fromCorners;
    Index(starts);
    MeasureSupport();
    FirstPass();
    std::set<std::pair<int, int>> tried;
    // A start that failed is predicted like a missing crossing.
    precise::CompleteLattice(
        table_, region_,
        [&](Vec2 start, const LineGeometry& v, const LineGeometry& h) {
          return SnapAndFit(start, v, h, params_.snapWindow);
        },
        basis_.pmin, regionInk_, params_, tried);
    DropDuplicates();
    if (params_.useTemplate) FitTemplates();
    FinalPass(false);
    // The bends from the final positions (the first fits' centroids carry
    // the pixel-phase bias of thin lines), and the bent lines fitted again.
    if (params_.useCurvature) {
      precise::EstimateCurvature(table_);
      FinalPass(true);
    }
    DropDuplicates();
    return Points();
  }

 private:
  // ---- Lattice ---------------------------------------------------------------

  LineGeometry GlobalVertical() const {
    return {basis_.b.x / basis_.b.y, 0, precise::Norm(basis_.b), precise::Norm(basis_.b),
            precise::Norm(basis_.a)};
  }
  LineGeometry GlobalHorizontal() const {
    return {basis_.a.y / basis_.a.x, 0, precise::Norm(basis_.a), precise::Norm(basis_.a),
            precise::Norm(basis_.b)};
  }

  // Each start snapped to the lines near it (a wide window first, as starts
  // may be a third of a pitch off), then the lattice of the snapped points.
  void Index(const std::vector<Vec2>& starts) {
    const auto rough = precise::EstimateBasis(starts, params_);
    if (!rough) throw Failure{PreciseFailure::NotALattice};
    basis_ = *rough;
    if (!(basis_.pmin >= params_.minPitch)) throw Failure{PreciseFailure::PitchTooSmall};
    std::vector<Vec2> snapped(starts.size());
    precise::ParallelFor(starts.size(), params_.threads, [&](size_t k) {
      Vec2 p = starts[k];
      // The wide window first; the narrow one re-centres the profile after a
      // move of a pixel or more, and tries where the wide one failed.
      bool again = true;
      for (double window : {params_.startSnapWindow, params_.snapWindow}) {
        if (!again) break;
        if (auto s = precise::SnapCrossing(vertical_, horizontal_, p, GlobalVertical(),
                                           GlobalHorizontal(), window, params_))
          if (precise::Distance(*s, starts[k]) <= 0.6 * basis_.pmin) {
            again = !(precise::Distance(*s, p) < params_.startResnap);
            p = *s;
          }
      }
      snapped[k] = p;
    });
    if (const auto fine = precise::EstimateBasis(snapped, params_)) basis_ = *fine;
    const precise::Lattice lattice = precise::BuildLattice(snapped, basis_, params_);
    for (const precise::LatticeNode& ln : lattice.nodes) {
      Node n;
      n.start = ln.position;
      for (int m : ln.members) n.starts.push_back(snapped[static_cast<size_t>(m)]);
      n.origin = fromCorners_            ? PointOrigin::Added
                 : ln.members.size() > 1 ? PointOrigin::Merged
                                         : PointOrigin::Found;
      n.localA = ln.localA, n.localB = ln.localB;
      table_.nodes[{ln.i, ln.j}] = n;
    }
    if (table_.nodes.empty()) throw Failure{PreciseFailure::NotALattice};
  }

  // ---- Line support ---------------------------------------------------------

  // Up to `count` nodes spread evenly over the table (in index order).
  std::vector<std::pair<int, int>> Spread(size_t count, bool acceptedOnly) const {
    std::vector<std::pair<int, int>> all;
    for (const auto& [ij, n] : table_.nodes)
      if (!acceptedOnly || n.accepted) all.push_back(ij);
    if (all.size() <= count) return all;
    std::vector<std::pair<int, int>> some;
    for (size_t k = 0; k < count; ++k) some.push_back(all[k * all.size() / count]);
    return some;
  }

  void MeasureSupport() {
    const auto sample = Spread(static_cast<size_t>(params_.supportCrossings), false);
    std::vector<Vec2> cv, ch;
    std::vector<LineGeometry> gv, gh;
    for (const auto& [i, j] : sample) {
      const Vec2 p = table_.nodes.at({i, j}).start;
      cv.push_back(p), ch.push_back(precise::InFrame(p, true));
      gv.push_back(table_.Vertical(i, j, false)), gh.push_back(table_.Horizontal(i, j, false));
    }
    // The two families side by side.
    std::optional<double> sv, sh;
    precise::ParallelFor(2, params_.threads, [&](size_t family) {
      if (family == 0)
        sv = precise::SupportHalfWidth(vertical_, cv, gv, params_);
      else
        sh = precise::SupportHalfWidth(horizontal_, ch, gh, params_);
    });
    if (!sv || !sh) throw Failure{PreciseFailure::LinesLikeBackground};
    familyV_.view = &vertical_, familyH_.view = &horizontal_;
    familyV_.support = precise::SupportFromHalfWidth(*sv, params_);
    familyH_.support = precise::SupportFromHalfWidth(*sh, params_);
    familyV_.core = precise::CoreRadius(familyV_.support, familyH_.support);
    familyH_.core = precise::CoreRadius(familyH_.support, familyV_.support);
    // Both bands and rings must fit between neighbouring lines.
    const double widest = std::max(familyV_.support.h2, familyH_.support.h2);
    if (!(2 * widest + 2 < basis_.pmin)) throw Failure{PreciseFailure::LinesTooWide};
  }

  // ---- Passes ----------------------------------------------------------------

  // The first fits only verify and place crossings for the final ones: half
  // the rows and a hundredth of a pixel do.
  precise::FitOptions FirstFits() const {
    return {params_.firstPassRowStep, params_.firstPassConvergence};
  }
  precise::FitOptions FinalFits() const { return {params_.finalRowStep, params_.convergence}; }

  CrossingFit SnapAndFit(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                         double window) const {
    Vec2 p = start;
    if (auto s = precise::SnapCrossing(vertical_, horizontal_, p, v, h, window, params_))
      if (precise::Distance(*s, start) <= params_.acceptMaxMove * basis_.pmin) p = *s;
    return precise::FitCrossing(p, v, h, familyV_, familyH_, params_, FirstFits());
  }

  // Every start refined by centroids; of several merged into one crossing
  // the one with the smallest standard error stays (averaging would be
  // wrong when one of them is a false point); then verified.
  void FirstPass() {
    std::vector<precise::CrossingTask> tasks;
    for (const auto& [ij, n] : table_.nodes)
      for (const Vec2& s : n.starts)
        tasks.push_back({ij, s, table_.Vertical(ij.first, ij.second, false),
                         table_.Horizontal(ij.first, ij.second, false)});
    // Crossings with one start share their arms with such neighbours.
    std::vector<size_t> single;
    std::vector<precise::CrossingTask> singles;
    for (size_t k = 0; k < tasks.size(); ++k)
      if (table_.nodes.at(tasks[k].node).starts.size() == 1)
        single.push_back(k), singles.push_back(tasks[k]);
    const precise::SharedArms arms =
        precise::MeasureSharedArms(singles, familyV_, familyH_, params_, FirstFits());
    std::vector<size_t> shared(tasks.size(), SIZE_MAX);
    for (size_t s = 0; s < single.size(); ++s) shared[single[s]] = s;
    std::vector<CrossingFit> fits(tasks.size());
    precise::ParallelFor(tasks.size(), params_.threads, [&](size_t k) {
      const precise::CrossingTask& t = tasks[k];
      if (shared[k] != SIZE_MAX)
        fits[k] = precise::FitFromSharedArms(arms, shared[k], t, params_, FirstFits());
      if (!fits[k].ok)
        fits[k] = precise::FitCrossing(t.start, t.vertical, t.horizontal, familyV_, familyH_,
                                       params_, FirstFits());
    });
    for (size_t k = 0; k < tasks.size(); ++k) {
      Node& n = table_.nodes[tasks[k].node];
      if (fits[k].ok && (!n.fit.ok || fits[k].standardError < n.fit.standardError)) {
        n.fit = fits[k];
        n.start = tasks[k].start;
      }
    }
    std::vector<double> ink;
    for (const auto& [ij, n] : table_.nodes)
      if (n.fit.ok) ink.push_back(precise::CrossingInk(n.fit));
    if (ink.empty()) throw Failure{PreciseFailure::NoCrossingRefined};
    regionInk_ = precise::Median(ink);
    for (auto& [ij, n] : table_.nodes) {
      const double reference =
          precise::ReferenceInk(table_, ij.first, ij.second, n.fit, regionInk_, false);
      n.accepted = precise::Verify(n.fit, n.start, reference, basis_.pmin, params_);
    }
    DropDuplicates();
  }

  // Two accepted crossings closer than the merge distance are one: the one
  // with the larger standard error goes.
  void DropDuplicates() {
    std::vector<Node*> accepted;
    for (auto& [ij, n] : table_.nodes)
      if (n.accepted) accepted.push_back(&n);
    std::vector<Vec2> at;
    for (const Node* n : accepted) at.push_back(n->fit.position);
    const precise::PointIndex index(at, basis_.pmin);
    for (size_t a = 0; a < accepted.size(); ++a)
      for (int b : index.Within(at[a], params_.mergeDistance * basis_.pmin)) {
        Node* x = accepted[a];
        Node* y = accepted[static_cast<size_t>(b)];
        if (x == y || !x->accepted || !y->accepted) continue;
        (x->fit.standardError <= y->fit.standardError ? y : x)->accepted = false;
      }
  }

  // The template of each family from the pooled profiles of up to a hundred
  // accepted crossings: once from their centroid fits, then again from
  // their template fits.
  void FitTemplates() {
    const auto sample = Spread(static_cast<size_t>(params_.templateCrossings), true);
    if (sample.empty()) return;
    std::optional<precise::TemplateShape> shapeV, shapeH;
    // A template that centres a family's lines elsewhere than their
    // centroids do (an asymmetric profile) stays when its shift from them
    // hardly changes with the sub-pixel phase, less than the shift scatters
    // from row to row (the centroids' noise): it follows the line's core at
    // every phase, and the centroids, whose band takes in whatever lies
    // beside the core (a halo, a ghost of the line), would only add noise.
    // When the shift changes with the phase more than that, the template
    // misses the line's own shape (uneven ink): the centroids.
    bool rejectV = false, rejectH = false;
    for (int round = 0; round < params_.templateRounds; ++round) {
      const FamilyContext fv = WithTemplate(familyV_, templateV_.get());
      const FamilyContext fh = WithTemplate(familyH_, templateH_.get());
      std::vector<precise::ProfilePool> poolsV(sample.size()), poolsH(sample.size());
      precise::ParallelFor(sample.size(), params_.threads, [&](size_t k) {
        const auto [i, j] = sample[k];
        poolsV[k] = PoolFor(familyV_), poolsH[k] = PoolFor(familyH_);
        precise::FitCrossing(table_.nodes.at({i, j}).fit.position, table_.Vertical(i, j, true),
                             table_.Horizontal(i, j, true), fv, fh, params_, FinalFits(),
                             &poolsV[k], &poolsH[k]);
      });
      precise::ProfilePool pv = PoolFor(familyV_), ph = PoolFor(familyH_);
      for (size_t k = 0; k < sample.size(); ++k) pv.Merge(poolsV[k]), ph.Merge(poolsH[k]);
      // Pools from template fits tell whether the template suits the line.
      rejectV = rejectV || (templateV_ && MissesTheShape(pv));
      rejectH = rejectH || (templateH_ && MissesTheShape(ph));
      // The two families' shapes and tables side by side.
      std::shared_ptr<precise::LineTemplate> nextV, nextH;
      precise::ParallelFor(2, params_.threads, [&](size_t family) {
        if (family == 0 && !rejectV)
          shapeV = FitShape(pv, familyV_, shapeV), nextV = MakeTemplate(shapeV, familyV_);
        if (family == 1 && !rejectH)
          shapeH = FitShape(ph, familyH_, shapeH), nextH = MakeTemplate(shapeH, familyH_);
      });
      templateV_ = std::move(nextV), templateH_ = std::move(nextH);
      if (!templateV_ && !templateH_) return;
    }
  }

  // Whether the template centres a family's lines elsewhere than the
  // centroids do, by more than the centroids' own uncertainty allows, and
  // by a shift that changes with the sub-pixel phase more than it scatters
  // from row to row.
  bool MissesTheShape(const precise::ProfilePool& pool) const {
    const auto shift = pool.BalancedShift();
    return shift && std::fabs(shift->mean) > params_.templateMaxShift &&
           std::fabs(shift->mean) > 4 * shift->error && !(shift->byPhase < shift->byRow);
  }

  precise::ProfilePool PoolFor(const FamilyContext& f) const {
    return precise::ProfilePool(params_.templateBin, 1.1 * f.support.h2 + 1);
  }

  std::optional<precise::TemplateShape> FitShape(
      const precise::ProfilePool& pool, const FamilyContext& f,
      const std::optional<precise::TemplateShape>& from) const {
    // Lines on whole pixels sample one phase only: the shape is undetermined.
    if (pool.Empty() || static_cast<double>(pool.rowsBetweenPixels) <
                            params_.templatePhaseShare * static_cast<double>(pool.rows))
      return std::nullopt;
    return precise::FitTemplateShape(pool, f.support.h2, from);
  }

  std::shared_ptr<precise::LineTemplate> MakeTemplate(
      const std::optional<precise::TemplateShape>& shape, const FamilyContext& f) const {
    if (!shape) return nullptr;
    const double range = 1.1 * (f.support.h1 + f.support.h2) + 2;
    return std::make_shared<precise::LineTemplate>(*shape, range, params_.templateTableStep);
  }

  static FamilyContext WithTemplate(FamilyContext f, const precise::LineTemplate* t) {
    f.lineTemplate = t;
    return f;
  }

  // Every accepted crossing (or those on bent lines) once more, with the
  // templates and the lines' bends; where the template fails or moves it
  // far, by centroids.
  void FinalPass(bool bentOnly) {
    std::vector<precise::CrossingTask> tasks;
    for (const auto& [ij, n] : table_.nodes)
      if (n.accepted && (!bentOnly || n.curveV != 0 || n.curveH != 0))
        tasks.push_back({ij, n.fit.position, table_.Vertical(ij.first, ij.second, true),
                         table_.Horizontal(ij.first, ij.second, true)});
    const FamilyContext fv = WithTemplate(familyV_, templateV_.get());
    const FamilyContext fh = WithTemplate(familyH_, templateH_.get());
    const bool anyTemplate = templateV_ || templateH_;
    const precise::SharedArms arms =
        templateV_ && templateH_ ? precise::MeasureSharedArms(tasks, fv, fh, params_, FinalFits())
                                 : precise::SharedArms{};
    std::vector<CrossingFit> fits(tasks.size());
    precise::ParallelFor(tasks.size(), params_.threads, [&](size_t k) {
      const precise::CrossingTask& t = tasks[k];
      const Node& n = table_.nodes.at(t.node);
      auto good = [&](const CrossingFit& f) {
        for (const precise::ArmQuality& a : f.arms)
          if (!(a.usable >= params_.acceptRowShare * a.rows)) return false;
        return f.ok && f.standardError <= params_.acceptMaxError &&
               precise::Distance(f.position, t.start) <= params_.templateMaxMove * basis_.pmin;
      };
      CrossingFit f;
      if (!arms.of.empty()) f = precise::FitFromSharedArms(arms, k, t, params_, FinalFits());
      // Arms that do not serve this crossing: its own, measured about it.
      if (!f.ok)
        f = precise::FitCrossing(t.start, t.vertical, t.horizontal, fv, fh, params_, FinalFits());
      if (!good(f) && anyTemplate)
        f = precise::FitCrossing(t.start, t.vertical, t.horizontal, familyV_, familyH_, params_,
                                 FinalFits());
      fits[k] = good(f) ? f : n.fit;
    });
    for (size_t k = 0; k < tasks.size(); ++k) table_.nodes[tasks[k].node].fit = fits[k];
  }

  std::vector<PrecisePoint> Points() const {
    std::vector<PrecisePoint> points;
    for (const auto& [ij, n] : table_.nodes) {
      if (!n.accepted || !region_.Contains(n.fit.position)) continue;
      points.push_back({n.fit.position.x, n.fit.position.y, n.fit.sigmaX, n.fit.sigmaY,
                        n.fit.standardError, n.origin});
    }
    return points;
  }

  const precise::Region& region_;
  const PreciseParams& params_;
  precise::GreyView vertical_, horizontal_;
  bool fromCorners_ = false;
  precise::LatticeBasis basis_;
  NodeTable table_;
  FamilyContext familyV_, familyH_;
  std::shared_ptr<precise::LineTemplate> templateV_, templateH_;
  double regionInk_ = 0;
};

}  // namespace
}  // namespace qova::precise

namespace qova {
namespace {

using precise::Failure;
using precise::Refinement;
using precise::Vec2;

// Coordinates this far outside the image are nonsense, not a region.
constexpr double kFarAway = 1e6;

bool Sane(double v) { return std::isfinite(v) && std::fabs(v) <= kFarAway; }

PreciseFailure CheckInputs(int width, int height, std::span<const VT_Point> corners) {
  if (width < 1 || height < 1) return PreciseFailure::EmptyImage;
  if (corners.size() != 4) return PreciseFailure::NotFourCorners;
  for (const VT_Point& c : corners)
    if (!Sane(c.x) || !Sane(c.y)) return PreciseFailure::CornersFarOff;
  return PreciseFailure::None;
}

// Parameters that would hang or break the method (a step of no rows, an
// empty bin) are refused rather than run.
bool ParamsSane(const PreciseParams& p) {
  auto in = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
  return in(p.snapRowStep, 1, 64) && in(p.firstPassRowStep, 1, 64) && in(p.finalRowStep, 1, 64) &&
         in(p.maxIterations, 1, 1000) && in(p.templateSteps, 1, 100) && in(p.neighbours, 2, 64) &&
         in(p.supportCrossings, 1, 1e6) && in(p.templateCrossings, 1, 1e6) &&
         in(p.templateRounds, 0, 100) && in(p.rejectRounds, 0, 100) &&
         in(p.templateTableStep, 1e-4, 0.5) && in(p.supportBin, 0.01, 10) &&
         in(p.templateBin, 0.01, 10) && in(p.mergeDistance, 0, 0.5) &&
         in(p.indexTolerance, 0.01, 0.5) && in(p.startSnapWindow, 0.05, 0.5) &&
         in(p.snapWindow, 0.05, 0.5) && in(p.startResnap, 0, 1e6) && in(p.minPitch, 1, 1e6) &&
         in(p.convergence, 1e-9, 1) && in(p.windowHold, 0, 0.5) &&
         in(p.firstPassConvergence, 1e-9, 1) && in(p.minHalfWidth, 0.5, 1e3) &&
         in(p.minRing, 0.5, 1e3) && in(p.supportWindow, 0.05, 0.5) && in(p.minRows, 2, 1e6) &&
         in(p.minRowsPerArm, 1, 1e6) && in(p.cornerMinLag, 1, 1e6);
}

PreciseResult Fail(PreciseFailure why, std::string detail = {},
                   PreciseFailure startsReason = PreciseFailure::None) {
  PreciseResult r;
  r.reason = why;
  r.startsReason = startsReason;
  r.detail = std::move(detail);
  return r;
}

// The method on the image read through views of backing (an RGB32 picture
// or the brightness a run kept of a box); black: the J of the least value
// the image uses.
template <class Backing>
PreciseResult Refine(const Backing& backing, int width, int height, double black,
                     std::span<const VT_Point> corners, std::span<const VT_Point> starts,
                     const PreciseParams& params) {
  try {
    if (!ParamsSane(params)) return Fail(PreciseFailure::ParamsOutOfRange);
    if (const PreciseFailure why = CheckInputs(width, height, corners); why != PreciseFailure::None)
      return Fail(why);
    std::vector<Vec2> cornerPoints;
    for (const VT_Point& c : corners) cornerPoints.push_back({c.x, c.y});
    const precise::Region region(cornerPoints);
    if (!(region.Area() >= 16)) return Fail(PreciseFailure::DegenerateRegion);
    const auto polarity =
        precise::MeasurePolarity(precise::GreyView(backing, false, false), black, region);
    if (!polarity) return Fail(PreciseFailure::NoImagePixels);
    if (!(polarity->p98 - polarity->p2 >= 8)) return Fail(PreciseFailure::NoContrast);
    const precise::GreyView vertical(backing, polarity->linesDark, false);
    const precise::GreyView horizontal(backing, polarity->linesDark, true);

    // The starts that can be crossings of this image at all.
    std::vector<Vec2> points;
    for (const VT_Point& s : starts)
      if (std::isfinite(s.x) && std::isfinite(s.y) && s.x >= 0 && s.y >= 0 && s.x <= width - 1 &&
          s.y <= height - 1)
        points.push_back({s.x, s.y});

    PreciseResult result;
    PreciseFailure why = PreciseFailure::None;
    if (static_cast<int>(points.size()) >= params.minStarts) {
      try {
        Refinement run(vertical, horizontal, region, params);
        result.points = run.FromStarts(points, false);
      } catch (const Failure& f) {
        why = f.why;
      }
    }
    if (result.points.empty()) {
      // No usable starts, or nothing refined from them: the corners.
      CornerStartFailure cornerWhy = CornerStartFailure::None;
      const auto fromCorners = precise::StartsFromCorners(
          vertical, std::span<const Vec2, 4>(cornerPoints.data(), 4), params, cornerWhy);
      if (!fromCorners) {
        PreciseResult failed = Fail(PreciseFailure::CornerStart, {}, why);
        failed.cornerReason = cornerWhy;
        return failed;
      }
      try {
        Refinement run(vertical, horizontal, region, params);
        result.points = run.FromStarts(*fromCorners, true);
        result.startedFromCorners = true;
      } catch (const Failure& f) {
        return Fail(f.why);
      }
    }
    if (result.points.empty()) return Fail(PreciseFailure::NoCrossingConfirmed);
    result.completed = true;
    return result;
  } catch (const OutsideKeptBox&) {
    throw;  // the caller keeps a wider box and calls again
  } catch (const std::bad_alloc&) {
    return Fail(PreciseFailure::OutOfMemory);
  } catch (const std::exception& e) {
    return Fail(PreciseFailure::Error, e.what());
  }
}

}  // namespace

PreciseResult RefinePrecise(const QImage& image, std::span<const VT_Point> corners,
                            std::span<const VT_Point> starts, const PreciseParams& params) {
  try {
    if (!ParamsSane(params)) return Fail(PreciseFailure::ParamsOutOfRange);
    if (image.isNull()) return Fail(PreciseFailure::EmptyImage);
    const QImage rgb =
        image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
            ? image
            : image.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull()) return Fail(PreciseFailure::ImageUnreadable);
    return Refine(rgb, rgb.width(), rgb.height(), 0, corners, starts, params);
  } catch (const std::bad_alloc&) {
    return Fail(PreciseFailure::OutOfMemory);
  }
}

PreciseResult RefinePrecise(const BrightnessBox& image, std::span<const VT_Point> corners,
                            std::span<const VT_Point> starts, const PreciseParams& params) {
  return Refine(image, image.ImageWidth(), image.ImageHeight(), image.Scale().black, corners,
                starts, params);
}

}  // namespace qova
