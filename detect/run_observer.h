#pragma once
// What a detection run shows and asks while it works. The window shows step
// mode's pictures in its picture layer and asks the user in message boxes;
// the batch command prints the questions and answers them from its command
// line; tests record everything. Every method has a default that shows
// nothing and answers yes, so an observer overrides only what it shows.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/search_region.h"
#include "detect/grid_lines.h"
#include "precise/precise_refinement.h"
#include "state/picture_source.h"
#include "state/stage_clock.h"

namespace qova {

// What is known of one point beyond its coordinates.
struct PointDetail {
  bool precise = false;                     // refined by the precise stage; the rest is then known
  double sigmaX = 0, sigmaY = 0;            // standard errors from the fit, pixels
  double standardError = 0;                 // √(sigmaX² + sigmaY²)
  PointOrigin origin = PointOrigin::Found;  // Added: a crossing the detection had not found
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
  virtual bool Confirm(const std::string& /*text*/) { return true; }

  // --- Every run --------------------------------------------------------------
  // A question with Yes and No; false (No) ends the run.
  virtual bool Ask(const std::string& /*question*/) { return true; }
  // An error a stage reports before the run goes on without what it lacks.
  virtual void Report(const std::string& /*error*/) {}
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
