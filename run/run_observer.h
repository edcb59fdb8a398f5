#pragma once
// What a detection run shows and asks while it works. The window shows step
// mode's pictures in its picture layer and asks the user in message boxes;
// the batch command prints the questions and answers them from its command
// line; tests record everything. Every method has a default that shows
// nothing and answers yes, so an observer overrides only what it shows.
//
// The run passes reasons, not sentences: each caller puts them into words
// (run/run_messages.h holds the program's own).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/search_region.h"
#include "detect/grid_lines.h"
#include "run/point_detail.h"
#include "state/picture_source.h"
#include "state/stage_clock.h"

namespace qova {

// A stage of step mode that has just ended; the user confirms it (OK) or
// cancels the run.
enum class StepDone { Binarized, Scanned, LinesFound };

// A question of the run; No ends it.
struct RunQuestion {
  enum class Kind {
    UnreliablePoints,  // a border point found no partner to make a line with
    PointCount,        // the run found another number of points than was set
  };
  Kind kind = Kind::UnreliablePoints;
  int32_t found = 0;   // PointCount: the points found ...
  int32_t wanted = 0;  // ... and the number set
};

// An error a stage reports before the run goes on without what it lacks.
enum class StageError {
  NoCrossings,  // two parallel lines: the crossings after them are not searched
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // --- Step mode only -------------------------------------------------------
  // The picture layer shows picture from now on (the gradient picture, the
  // binary image, of the image's size); the calls below draw on it.
  virtual void ShowPicture(std::shared_ptr<const PictureSource> /*picture*/) {}
  // A cross marker at pixel (x, y), shown at once (a border point or a
  // refined point as soon as it is found).
  virtual void ShowMarker(int32_t /*x*/, int32_t /*y*/) {}
  // The outlines of the fragments a region was divided into.
  virtual void ShowFragments(const RegionList& /*fragments*/) {}
  // Every grid line of a region, across the whole picture.
  virtual void ShowLines(const GridLines& /*lines*/) {}
  // The statistics window with these lines, modally; false when the user
  // cancels the run there.
  virtual bool ShowStatistics(const std::vector<std::string>& /*lines*/) { return true; }
  // A confirmation after a stage (OK or Cancel); false ends the run.
  virtual bool Confirm(StepDone /*step*/) { return true; }

  // --- Every run --------------------------------------------------------------
  // A question with Yes and No; false (No) ends the run.
  virtual bool Ask(const RunQuestion& /*question*/) { return true; }
  // An error a stage reports before the run goes on without what it lacks.
  virtual void Report(StageError /*error*/) {}
  // The crossings of a region are about to be refined: the picture layer
  // shows the image again.
  virtual void RefinementStarts() {}
  // Every point of the run, before the count check asks about them; details
  // has one entry a point.
  virtual void ShowPoints(const VT_Points& /*points*/,
                          const std::vector<PointDetail>& /*details*/) {}
  // The decimal separator of the statistics lines.
  virtual char DecimalSeparator() { return '.'; }
  // Where the run's time goes (the benchmark); null otherwise.
  virtual StageClock* Clock() { return nullptr; }
};

}  // namespace qova
