#pragma once
// One calibration worked on a thread of its own, so that a long fit (a
// spline with its cross-validation on thousands of crossings) leaves the
// window free. Its end is handed back to the interface thread through the
// platform; destroying the job stops the fit at its next check, waits for
// the thread, and drops an end that was handed back but not yet taken.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "calib/calib_error.h"
#include "calib/calibrate.h"
#include "output/distortion_form.h"
#include "platform/platform.h"

namespace qova {

// What a calibration came to: what the window shows of it, made on the
// job's thread too.
struct CalibrationOutcome {
  std::shared_ptr<const DistortionContent> content;        // null when it failed
  calib::CalibCause cause = calib::CalibCause::FitFailed;  // why not
  std::string message;                                     // the library's words
};

// The work of a job: the calibration, with the flag to stop it.
using CalibrationWork = std::function<CalibrationOutcome(const std::atomic<bool>& stop)>;

// The usual work: calib::Calibrate on these points with these options, and
// the window's content of it (the image's name and the settings given).
CalibrationWork CalibrateWork(calib::CalibrationInput input, calib::CalibrationOptions options,
                              DistortionContent described);

class CalibrationJob {
 public:
  // Starts work on its own thread; done is called on the interface thread
  // with its outcome, unless the job is destroyed first.
  CalibrationJob(Platform& desktop, CalibrationWork work,
                 std::function<void(CalibrationOutcome)> done);
  // Stops the fit and waits for it (at most one step of the fit).
  ~CalibrationJob();
  CalibrationJob(const CalibrationJob&) = delete;
  CalibrationJob& operator=(const CalibrationJob&) = delete;

  // Whether the work has handed its outcome back (it may not be taken yet).
  bool Finished() const { return shared_->finished.load(); }
  // Waits for the thread (tests; the outcome still comes through the platform).
  void Wait();

 private:
  struct Shared {
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    bool abandoned = false;  // interface thread only
  };
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace qova
