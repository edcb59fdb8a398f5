#include "calib/calib_error.h"

namespace qova::calib {

std::string_view CauseName(CalibCause cause) {
  switch (cause) {
    case CalibCause::BadInput:
      return "bad-input";
    case CalibCause::BadPitch:
      return "bad-pitch";
    case CalibCause::UnknownModel:
      return "unknown-model";
    case CalibCause::TooFewPoints:
      return "too-few-points";
    case CalibCause::Collinear:
      return "collinear";
    case CalibCause::NotDetermined:
      return "not-determined";
    case CalibCause::NoLattice:
      return "no-lattice";
    case CalibCause::FitFailed:
      return "fit-failed";
    case CalibCause::NotAModelFile:
      return "not-a-model-file";
    case CalibCause::DamagedModelFile:
      return "damaged-model-file";
    case CalibCause::Cancelled:
      return "cancelled";
  }
  return "unknown";
}

}  // namespace qova::calib
