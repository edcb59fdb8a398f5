#pragma once
// A whole detection over the regions of an image: for every region in turn
// its binarization (whole or fragment by fragment), the four scans, the
// pairing of border points into lines, their crossings and the refinement of
// each crossing; then the count check. The window, the batch command and the
// Python module all run it. Reading settings and images is the caller's, and
// so are the words: the result says what ended a failed run, and
// run/run_messages.h says it as the program always has.

#include <QImage>
#include <optional>
#include <string>
#include <vector>

#include "binarize/binarization.h"
#include "core/search_region.h"
#include "detect/grid_lines.h"
#include "detect/refine_cross_points.h"
#include "precise/precise_refinement.h"
#include "run/image_source.h"
#include "run/point_detail.h"
#include "run/run_calibration.h"
#include "run/run_observer.h"
#include "state/detection_params.h"

namespace qova {

// What one region produced.
struct RegionResult {
  RegionList Fragments;                        // empty when binarized whole
  std::vector<GradientStatistics> statistics;  // of each fragment, or of the region
  BorderPoints border;
  GridLines lines;
  DynamicArray<CrossNode> CrossNodes;
  int32_t firstPoint = 0;  // the region's points are FoundPoints[firstPoint, firstPoint + points)
  int32_t points = 0;
  // Complete, or an error stopped the refinement at one crossing: the later
  // ones of the region were not refined.
  RefineOutcome refinement = RefineOutcome::Complete;
  // With the precise stage: why the detection of the region failed (it then
  // started from the corners), and whether the precise stage refined it.
  std::string detectionError;
  bool precise = false;
};

enum class RunStatus { Completed, Failed };

// What ended a failed run.
enum class RunFailure {
  None,           // it completed
  Cancelled,      // No to a question or Cancel in step mode; also an arithmetic error
                  // in the pairing of lines, which has always ended a run so
  OutOfMemory,    // for the image's pixels or the working arrays; error says how much the
                  // run needs when it was refused before it started
  StageError,     // a stage raised an error: error holds its text
  PreciseFailed,  // a region's detection failed, and the precise stage could not
                  // start from its corners either: precise says why
};

struct DetectionResult {
  RunStatus status = RunStatus::Failed;
  RunFailure failure = RunFailure::None;
  std::string error;                 // StageError: the error's text
  PreciseResult precise;             // PreciseFailed: the precise stage's refusal
  VT_Points FoundPoints{1};          // every region's points in order, column by column
  std::vector<PointDetail> details;  // one per point of FoundPoints
  // The regions worked on, in order; a failed run's last one may be partial.
  std::vector<RegionResult> regions;
  // The statistics window's lines: those of the last region binarized.
  std::vector<std::string> statisticsLines;
  // When the caller asked for one after the run (CalibrateRun, ApplyModel):
  // the calibration of its points. The detection never reads it.
  std::optional<RunCalibration> calibration;

  bool Completed() const { return status == RunStatus::Completed; }
};

// The stages read the image from source: each region's binarization as the
// source's pixels are when it starts; after a region's crossings are found
// the run reads its image again (the window reads its file again then, and a
// file source is read again from the file) before a later stage reads it.
// Every error and every cancellation ends the run with status Failed; the
// working arrays live only while it works. With params.PreciseRefinement
// the precise stage refines each region's points (precise gives its
// tunables); where the detection of a region fails it starts from the
// region's corners, and the run fails only when that fails too.
// Cancellations end the run either way.
[[nodiscard]] DetectionResult DetectCrossings(const ImageSource& source, const RegionList& regions,
                                              const DetectionParams& params, RunObserver& observer,
                                              const PreciseParams& precise = {});

// The same on a picture in memory (any format, alpha ignored), read through
// the reference: an observer may replace it between regions by a picture of
// the same size.
[[nodiscard]] DetectionResult DetectCrossings(const QImage& image, const RegionList& regions,
                                              const DetectionParams& params, RunObserver& observer,
                                              const PreciseParams& precise = {});

// The median standard error of the points the precise stage refined; none
// when it refined none.
std::optional<double> MedianStandardError(const DetectionResult& result);

}  // namespace qova
