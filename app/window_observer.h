#pragma once
// The window's view of a detection run: step mode's pictures in the picture
// layer, the questions in message boxes, the statistics in their window, the
// image read again from its file before each refinement, and the markers of
// the points found.

#include "run/run_observer.h"

namespace qova {

class TVazeZududi_Form;

class WindowObserver : public RunObserver {
 public:
  explicit WindowObserver(TVazeZududi_Form& form) : f_(form) {}

  void ShowPicture(std::shared_ptr<const PictureSource> picture) override;
  void ShowMarker(int32_t x, int32_t y) override;
  void ShowFragments(const RegionList& fragments) override;
  void ShowLines(const GridLines& lines) override;
  bool ShowStatistics(const std::vector<std::string>& lines) override;
  bool Confirm(StepDone step) override;
  bool Ask(const RunQuestion& question) override;
  void Report(StageError error) override;
  void RefinementStarts() override;
  void ShowPoints(const VT_Points& points, const std::vector<PointDetail>& details) override;
  char DecimalSeparator() override;
  StageClock* Clock() override;

 private:
  TVazeZududi_Form& f_;
};

}  // namespace qova
