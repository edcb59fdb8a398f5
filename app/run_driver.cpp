// "Найти координаты": the detection over the user's regions, shown in the
// window as it works, its results kept in the record, and every error and
// every cancellation ended through one failure path.
#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <utility>

#include "app/form.h"
#include "app/window_observer.h"
#include "core/qova_error.h"
#include "run/detect_crossings.h"
#include "run/image_source.h"
#include "run/run_calibration.h"
#include "run/run_messages.h"

namespace qova {

namespace {

// The wait cursor for as long as the run works, restored on every way out.
// The platform gives every box and dialog the ordinary pointer while they
// are open (the stages' own questions too): the user has to point and click.
class BusyCursor {
 public:
  explicit BusyCursor(Platform& desktop) : desktop_(desktop) { desktop_.SetBusy(true); }
  ~BusyCursor() { desktop_.SetBusy(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  Platform& desktop_;
};

// The status bar's report of a run with the precise stage: the points and the
// median of their standard errors, "Точный режим: 35 точек, медиана σ 0,004
// пикс." with the user's decimal separator; empty without the stage.
std::string PreciseSummary(const DetectionResult& result, char separator) {
  const std::optional<double> median = MedianStandardError(result);
  if (!median) return {};
  // Not printf, whose separator is the C library's locale: the platform's
  // separator is the one the coordinate file and the statistics use.
  char text[32];
  char* end = std::to_chars(text, text + sizeof text, *median, std::chars_format::fixed, 3).ptr;
  std::string number(text, end);
  std::replace(number.begin(), number.end(), '.', separator);
  return "Точный режим: " + std::to_string(result.details.size()) + " точек, медиана σ " + number +
         " пикс.";
}

}  // namespace

void TVazeZududi_Form::PrepareRun() {
  StageTimer timer(StageTimes, "PrepareRun");
  RunCompleted = false;  // the points are about to go
  FoundPoints.Clear();
  HorizontalLines.Clear();
  VerticalLines.Clear();
  SidePoints03.Clear();
  SidePoints12.Clear();
  SidePoints01.Clear();
  SidePoints23.Clear();
  Fragments.SetLength(0);
  // A failed reload in an earlier run may have left no source image; the
  // stages read its pixels, so it must be there before they start.
  if (!SourceBitmap || SourceBitmap->Width() != ImageWidth || SourceBitmap->Height() != ImageHeight)
    ReadImageAgain();
}

void TVazeZududi_Form::KeepResults(DetectionResult& result) {
  FoundPoints = std::move(result.FoundPoints);
  if (result.regions.empty()) return;
  MessForm.ListBox1 = result.statisticsLines;
  RegionResult& last = result.regions.back();
  Fragments = std::move(last.Fragments);
  SidePoints03 = std::move(last.border.SidePoints03);
  SidePoints12 = std::move(last.border.SidePoints12);
  SidePoints23 = std::move(last.border.SidePoints23);
  SidePoints01 = std::move(last.border.SidePoints01);
  HorizontalLines = std::move(last.lines.HorizontalLines);
  VerticalLines = std::move(last.lines.VerticalLines);
  CrossNodes = std::move(last.CrossNodes);
}

void TVazeZududi_Form::N4Click() {
  // The points are about to go, and the calibration of them with them.
  ForgetCalibration();
  // Fitted after the run, off the interface thread: the run's busy pointer
  // has gone by then, the calibration's own comes.
  if (RunDetection()) StartCalibration();
}

bool TVazeZududi_Form::RunDetection() {
  BusyCursor busy(Desktop);
  std::unique_ptr<ImageSource> image;
  try {
    PrepareRun();
    image = RunSource();
  } catch (const std::exception&) {
    FailRun();
    return false;
  }
  OverlayVisible = false;
  Desktop.Repaint();
  WindowObserver observer(*this);
  // The observer reads the file again (same size) before each refinement,
  // as the window always has; the run reads the picture as it then is.
  DetectionResult result = DetectCrossings(*image, Regions, Params(), observer);
  calibrationInput_ = result.Completed() && Calibration.WantsModel()
                          ? CalibrationInputOf(result, Regions, ImageWidth, ImageHeight)
                          : calib::CalibrationInput{};
  KeepResults(result);
  if (!result.Completed()) {
    FailRun();
    return false;
  }
  ResultsSaved = false;
  RunCompleted = true;
  UpdateActions();
  runSummary_ = PreciseSummary(result, Desktop.DecimalSeparator());
  Desktop.SetStatusText(kRunPanel, runSummary_);
  return true;
}

void TVazeZududi_Form::FailRun() {
  Desktop.MessageBox(kRunFailedText, kErrorCaption, MsgButtons::Ok);
  Desktop.SetStatusText(kRunPanel, "");
  // The picture without intermediate drawings and markers. When the file
  // cannot be read any more, the rest of the path still runs: the overlay
  // must come back and the commands must match the deleted regions, or the
  // window would be left without a way to edit.
  std::string readError;
  try {
    ReadImageAgain();
    Image1.Show(SourceBitmap);
  } catch (const std::bad_alloc&) {
    readError = "Out of memory";
  } catch (const std::exception& e) {
    readError = e.what();
  }
  OverlayVisible = true;
  RunCompleted = false;
  ResetRegions();
  UpdateActions();
  Desktop.Repaint();
  if (!readError.empty()) Desktop.ShowErrorBox(ErrorDisplayText(readError));
}

}  // namespace qova
