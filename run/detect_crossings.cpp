#include "run/detect_crossings.h"

#include <algorithm>
#include <exception>
#include <new>
#include <utility>

#include "binarize/compact_binarization.h"
#include "binarize/fragmentation.h"
#include "binarize/step_pictures.h"
#include "core/checked_math.h"
#include "core/qova_error.h"
#include "detect/cross_nodes.h"
#include "detect/refine_cross_points.h"
#include "detect/scan_sides.h"
#include "detect/validate_lines.h"
#include "image/qt_image.h"
#include "precise/numeric.h"
#include "run/run_memory.h"
#include "run/run_messages.h"
#include "run/run_pixels.h"

namespace qova {

namespace {

// The precise stage refused a region whose detection had failed: the run
// ends with its reason.
struct PreciseRefused {
  PreciseResult result;
};

// One run: the image, the working arrays and where the results go.
struct Run {
  RunPixels image;
  const DetectionParams& params;
  const PreciseParams& precise;
  RunObserver& observer;
  CompactWork work;
  DetectionResult& result;
  MaskBounds occupied;                 // where the mask may hold 1s: the boxes binarized
  BoxBounds sumsBox;                   // the colour sums the region in work reads
  const SearchRegion* next = nullptr;  // the region after the one in work

  StageClock* Clock() { return observer.Clock(); }
  MaskView Mask() const { return ViewOf(work.BinaryMask, image.Width(), image.Height()); }
  // The colour sums the binarization of the region in work reads.
  const BrightnessBox& Sums() { return image.DetectionSums(sumsBox); }
  // The region in work, whose mask may hold 1s within b from now on.
  void Start(const SearchRegion& region) {
    const BoxBounds b = sumsBox = SumsBoxOf(region, params, image.Width(), image.Height());
    occupied = occupied.x1 <= occupied.x0
                   ? MaskBounds{b.x0, b.y0, b.x1, b.y1}
                   : MaskBounds{std::min(occupied.x0, b.x0), std::min(occupied.y0, b.y0),
                                std::max(occupied.x1, b.x1), std::max(occupied.y1, b.y1)};
  }
};

// A step-mode confirmation: Cancel ends the run.
void Confirm(Run& run, StepDone step) {
  if (!run.observer.Confirm(step)) throw RunCancelled();
}

// Step mode: the gradient picture under the statistics window, whose Cancel
// ends the run.
void ShowStatistics(Run& run) {
  run.observer.ShowPicture(GradientPicture(run.work.WorkBitmap));
  if (!run.observer.ShowStatistics(run.result.statisticsLines)) throw RunCancelled();
}

void BinarizeWhole(Run& run, const SearchRegion& region, RegionResult& out) {
  run.result.statisticsLines.clear();
  const GradientStatistics statistics = Timed(run.Clock(), "ComputeGradientStatistics", [&] {
    return ComputeGradientStatistics(run.Sums(), region, run.work);
  });
  out.statistics.push_back(statistics);
  AddStatisticsLines(statistics, false, run.observer.DecimalSeparator(),
                     run.result.statisticsLines);
  if (run.params.Steps) ShowStatistics(run);
  // Nothing between the statistics and the threshold writes GradientArray.
  Timed(run.Clock(), "Threshold and binarization", [&] {
    const int32_t t = Trunc(ThresholdOfStatistics(run.params, statistics));
    BinarizeRegion(run.Sums(), region, t, run.work);
  });
}

void BinarizeFragments(Run& run, const SearchRegion& region, RegionResult& out) {
  out.Fragments = Timed(run.Clock(), "FragmentRegion", [&] {
    return FragmentRegion(region, run.params.FragmentationWidth, run.params.FragmentationHeight);
  });
  if (run.params.Steps) run.observer.ShowFragments(out.Fragments);
  // Each fragment's mean and variance, for its threshold below. A later
  // fragment rewrites the G on the edges it shares with an earlier one, with
  // the same values (G depends on the image alone), so they still hold.
  run.result.statisticsLines.clear();
  for (const auto& fragment : out.Fragments) {
    out.statistics.push_back(Timed(run.Clock(), "ComputeGradientStatistics", [&] {
      return ComputeGradientStatistics(run.Sums(), *fragment, run.work);
    }));
    AddStatisticsLines(out.statistics.back(), true, run.observer.DecimalSeparator(),
                       run.result.statisticsLines);
  }
  if (run.params.Steps) ShowStatistics(run);
  for (int32_t i = 0; i < out.Fragments.Length(); ++i)
    Timed(run.Clock(), "Threshold and binarization", [&] {
      const int32_t t = Trunc(ThresholdOfStatistics(run.params, out.statistics[size_t(i)]));
      BinarizeRegion(run.Sums(), *out.Fragments[i], t, run.work);
    });
}

void Binarize(Run& run, const SearchRegion& region, RegionResult& out) {
  run.Start(region);
  if (run.params.FragmentationWidth == -1)
    BinarizeWhole(run, region, out);
  else
    BinarizeFragments(run, region, out);
  run.image.ReleaseSums();  // a later stage reads the image again
  if (run.params.Steps) {
    run.observer.ShowPicture(
        BinaryPicture(run.work.BinaryMask, region, run.image.Width(), run.image.Height()));
    Confirm(run, StepDone::Binarized);
  }
}

void Scan(Run& run, const SearchRegion& region, BorderPoints& border) {
  const MaskView mask = run.Mask();
  const DetectionParams& p = run.params;
  const StepMarker o = [&](int32_t x, int32_t y) { run.observer.ShowMarker(x, y); };
  Timed(run.Clock(), "ScanSide03", [&] { ScanSide03(mask, region, p, o, border.SidePoints03); });
  Timed(run.Clock(), "ScanSide12", [&] { ScanSide12(mask, region, p, o, border.SidePoints12); });
  Timed(run.Clock(), "ScanSide23", [&] { ScanSide23(mask, region, p, o, border.SidePoints23); });
  Timed(run.Clock(), "ScanSide01", [&] { ScanSide01(mask, region, p, o, border.SidePoints01); });
  if (p.Steps) Confirm(run, StepDone::Scanned);
}

void FindLines(Run& run, const BorderPoints& border, GridLines& lines) {
  const auto goOn = [&] { return run.observer.Ask({RunQuestion::Kind::UnreliablePoints}); };
  // An arithmetic error in the pairing has always ended the run as a
  // cancellation would; scripts read that cause, so it stays.
  if (Timed(run.Clock(), "ValidateLines", [&] {
        return ValidateLines(border, run.params.MaxAngle, goOn, lines);
      }) != LinesOutcome::Paired)
    throw RunCancelled();
  if (run.params.Steps) {
    run.observer.ShowLines(lines);
    Confirm(run, StepDone::LinesFound);
  }
}

// The detection of one region, stage by stage.
void DetectRegion(Run& run, const SearchRegion& region, RegionResult& out) {
  out.firstPoint = run.result.FoundPoints.Count();
  Binarize(run, region, out);
  Scan(run, region, out.border);
  FindLines(run, out.border, out.lines);
  CrossNodes nodes =
      Timed(run.Clock(), "FindCrossNodes", [&] { return FindCrossNodes(out.lines, region); });
  out.CrossNodes = std::move(nodes.nodes);
  if (nodes.outcome == NodesOutcome::StoppedByError) run.observer.Report(StageError::NoCrossings);
  run.observer.RefinementStarts();
  run.image.ReadAgain();
  VT_Points& found = run.result.FoundPoints;
  // An error inside the refinement ends only the region's refinement: the
  // points refined before it stay, and the run goes on.
  const StepMarker marker = [&](int32_t x, int32_t y) { run.observer.ShowMarker(x, y); };
  out.refinement = Timed(run.Clock(), "RefineCrossPoints", [&] {
    return RefineCrossPoints(run.Mask(), out.CrossNodes, out.lines.HorizontalLines.Count(), region,
                             run.params, marker, found, &run.occupied);
  });
  out.points = found.Count() - out.firstPoint;
}

// The optional check of the number of points; No ends the run.
void CheckCount(Run& run) {
  const int32_t found = run.result.FoundPoints.Count();
  if (!run.params.NeedPointsControl || found == run.params.NeedPointsCount) return;
  if (!run.observer.Ask({RunQuestion::Kind::PointCount, found, run.params.NeedPointsCount}))
    throw RunCancelled();
}

// The precise stage on the brightness kept of a box about the region, at the
// image's own depth: the region's box widened by a margin the method's reach
// rarely leaves; where it reads beyond, a wider box is read and the stage
// starts again, so the result is what it is on the whole image. The same
// pass reads the colour sums the next region's binarization needs.
PreciseResult RefineOnKeptLevels(Run& run, const SearchRegion& region,
                                 std::span<const VT_Point> corners,
                                 std::span<const VT_Point> starts) {
  const int32_t w = run.image.Width(), h = run.image.Height();
  std::optional<BoxBounds> next;
  if (run.next) {
    try {
      next = SumsBoxOf(*run.next, run.params, w, h);
    } catch (const std::exception&) {
      // A region its binarization will refuse: nothing to read for it.
    }
  }
  for (int64_t margin = FirstPreciseMargin(region);; margin *= 4) {
    const BoxBounds box = LevelsBoxOf(region, margin, w, h);
    const BrightnessBox& levels = run.image.PreciseLevels(box, next ? &*next : nullptr);
    try {
      const PreciseResult refined = RefinePrecise(levels, corners, starts, run.precise);
      run.image.ReleaseLevels();
      return refined;
    } catch (const OutsideKeptBox&) {
      if (levels.Bounds().Contains(BoxBounds{0, 0, w, h})) throw;  // cannot be: the whole image
    }
  }
}

// The precise stage over the region's points (the last ones of FoundPoints),
// which it replaces. Where it refines nothing the detection's points stay,
// and when there are none either the run fails with its reason.
void RefineRegionPrecisely(Run& run, const SearchRegion& region, RegionResult& out) {
  VT_Points& found = run.result.FoundPoints;
  std::vector<VT_Point> corners, starts;
  for (int32_t k = 0; k < region.Count(); ++k) corners.push_back(*region.Get(k));
  for (int32_t k = out.firstPoint; k < found.Count(); ++k) starts.push_back(*found.Get(k));
  const PreciseResult refined = Timed(run.Clock(), "Precise refinement", [&] {
    return RefineOnKeptLevels(run, region, corners, starts);
  });
  if (!refined.completed) {
    if (!out.detectionError.empty()) throw PreciseRefused{refined};
    return;
  }
  while (found.Count() > out.firstPoint) found.Delete(found.Count() - 1);
  run.result.details.resize(static_cast<size_t>(out.firstPoint));
  for (const PrecisePoint& p : refined.points) {
    found.AddNew(p.x, p.y);
    run.result.details.push_back({true, p.sigmaX, p.sigmaY, p.standardError, p.origin});
  }
  out.points = found.Count() - out.firstPoint;
  out.precise = true;
}

// One region, and with the precise stage its refinement. A failed detection
// then leaves the precise stage to start from the corners; a cancellation
// still ends the run.
void DetectAndRefine(Run& run, const SearchRegion& region, RegionResult& out) {
  if (!run.params.PreciseRefinement) {
    DetectRegion(run, region, out);
    return;
  }
  try {
    DetectRegion(run, region, out);
  } catch (const RunCancelled&) {
    throw;
  } catch (const std::exception& e) {
    out.detectionError = e.what();
    out.points = 0;
  }
  RefineRegionPrecisely(run, region, out);
}

// The run's stages in the order they run: the working arrays, every region
// detected (and refined on its grey levels), then all the points shown and
// their number checked.
void DetectAll(Run& run, const RegionList& regions) {
  Timed(run.Clock(), "PrepareRun",
        [&] { run.work.Allocate(run.image.Width(), run.image.Height(), run.params.Steps); });
  for (int32_t r = 0; r < regions.Length(); ++r) {
    const auto& region = regions[r];
    run.next = r + 1 < regions.Length() ? regions[r + 1].get() : nullptr;
    run.result.regions.emplace_back();
    DetectAndRefine(run, *region, run.result.regions.back());
    // The detection's own points carry nothing beyond their coordinates.
    run.result.details.resize(static_cast<size_t>(run.result.FoundPoints.Count()));
  }
  run.observer.ShowPoints(run.result.FoundPoints, run.result.details);
  CheckCount(run);
}

}  // namespace

DetectionResult DetectCrossings(const ImageSource& source, const RegionList& regions,
                                const DetectionParams& params, RunObserver& observer,
                                const PreciseParams& precise) {
  DetectionResult result;
  Run run{RunPixels(source), params, precise, observer, {}, result, {}, {}, nullptr};
  // Every error and every cancellation ends the run here.
  try {
    // An image the stages cannot measure, or a run the machine has not the
    // memory for, is refused before any stage runs.
    CheckBeforeRun(source);
    CheckRunMemory(source, regions, params);
    if (source.Info().decoded_by_qt) AllowQtAllocation(RunMemoryNeed(source, regions, params));
    DetectAll(run, regions);
    result.status = RunStatus::Completed;
  } catch (const RunCancelled&) {
    result.failure = RunFailure::Cancelled;
  } catch (const NotEnoughMemory& e) {
    result.failure = RunFailure::OutOfMemory;
    result.error = e.what();
  } catch (const PreciseRefused& refused) {
    result.failure = RunFailure::PreciseFailed;
    result.precise = refused.result;
  } catch (const std::bad_alloc&) {
    result.failure = RunFailure::OutOfMemory;
  } catch (const std::exception& e) {
    result.failure = RunFailure::StageError;
    result.error = e.what();
  }
  return result;
}

DetectionResult DetectCrossings(const QImage& image, const RegionList& regions,
                                const DetectionParams& params, RunObserver& observer,
                                const PreciseParams& precise) {
  const QImageSource source(image, "");
  return DetectCrossings(source, regions, params, observer, precise);
}

std::optional<double> MedianStandardError(const DetectionResult& result) {
  std::vector<double> errors;
  for (const PointDetail& d : result.details)
    if (d.precise) errors.push_back(d.standardError);
  if (errors.empty()) return std::nullopt;
  return precise::Median(std::move(errors));
}

}  // namespace qova
