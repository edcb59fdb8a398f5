#pragma once
// What can go wrong in a calibration, as a cause a caller can act on (the
// batch command maps it to its exit status, the Python module to an
// exception type) and a message a person can read.

#include <string>
#include <string_view>

#include "core/qova_error.h"

namespace qova::calib {

enum class CalibCause {
  BadInput,          // sizes that disagree, a coordinate that is not a number
  BadPitch,          // a pitch <= 0, not a number, or only one of the two known
  UnknownModel,      // a model name the library does not know
  TooFewPoints,      // fewer crossings than the model has parameters
  Collinear,         // every crossing on one lattice line (or the lattice not two-dimensional)
  NotDetermined,     // the crossings do not determine the model (too few columns or rows)
  NoLattice,         // the points show no two lattice directions
  FitFailed,         // the fit did not converge to finite numbers
  NotAModelFile,     // a JSON file that is not one of our model files
  DamagedModelFile,  // our model file, but unreadable, cut short or inconsistent
  Cancelled,         // the caller asked the fit to stop (FitParams::cancel)
};

// "bad-input", "bad-pitch", ...: the cause as it appears in reports.
std::string_view CauseName(CalibCause cause);

class CalibError : public QovaError {
 public:
  CalibError(CalibCause cause, const std::string& message) : QovaError(message), cause_(cause) {}
  CalibCause cause() const { return cause_; }

 private:
  CalibCause cause_;
};

}  // namespace qova::calib
