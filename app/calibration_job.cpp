#include "app/calibration_job.h"

#include <new>
#include <utility>

namespace qova {

CalibrationWork CalibrateWork(calib::CalibrationInput input, calib::CalibrationOptions options,
                              DistortionContent described) {
  return [input = std::move(input), options = std::move(options),
          described = std::move(described)](const std::atomic<bool>& stop) {
    CalibrationOutcome out;
    calib::CalibrationOptions stoppable = options;
    stoppable.fit.cancel = &stop;
    try {
      auto content = std::make_shared<DistortionContent>(described);
      auto calibration =
          std::make_shared<const calib::Calibration>(calib::Calibrate(input, stoppable));
      content->picture = MakeDistortionPicture(*calibration, input.points);
      content->calibration = std::move(calibration);
      out.content = std::move(content);
    } catch (const calib::CalibError& e) {
      out.cause = e.cause();
      out.message = e.what();
    } catch (const std::bad_alloc&) {
      out.message = "not enough memory for the calibration";
    } catch (const std::exception& e) {
      out.message = e.what();
    }
    return out;
  };
}

CalibrationJob::CalibrationJob(Platform& desktop, CalibrationWork work,
                               std::function<void(CalibrationOutcome)> done)
    : shared_(std::make_shared<Shared>()) {
  thread_ = std::thread(
      [shared = shared_, &desktop, work = std::move(work), done = std::move(done)]() mutable {
        CalibrationOutcome outcome = work(shared->stop);
        shared->finished = true;
        // Taken on the interface thread, where the job is destroyed too: an
        // outcome handed back after that finds the job abandoned.
        desktop.RunLater([shared, done = std::move(done), outcome = std::move(outcome)]() mutable {
          if (!shared->abandoned) done(std::move(outcome));
        });
      });
}

CalibrationJob::~CalibrationJob() {
  shared_->abandoned = true;
  shared_->stop = true;
  if (thread_.joinable()) thread_.join();
}

void CalibrationJob::Wait() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace qova
