#pragma once
// Fitting a model to indexed crossings: the robust loop (iteratively
// reweighted least squares with Huber's weights, the scale from the median
// absolute deviation, crossings beyond a few robust σ left out), the
// cross-validated RMS, and `auto`, which fits every family and takes the
// simplest whose cross-validated RMS is within a few percent of the best.

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "calib/calib_error.h"
#include "calib/model.h"

namespace qova::calib {

// Settings of a fit.
struct FitParams {
  bool robust = true;          // Huber reweighting and outliers; false: one weighted fit
  double huberK = 1.345;       // Huber's constant, robust σ
  double outlierSigmas = 5;    // a crossing farther than this many robust σ is an outlier
  int robustIterations = 8;    // at most this many reweighted fits
  int folds = 10;              // cross-validation folds of the projective and radial models
  int foldBlock = 3;           // a fold is drawn in blocks of this many columns and rows
  int minTrainingPoints = 20;  // a fold that leaves fewer crossings to fit on is skipped
  int foldSteps = 1;  // projective, radial: a fold's fit by this many Gauss–Newton steps from
                      // the whole fit, its normal equations those of the whole fit less the
                      // fold's; 0: Levenberg–Marquardt to convergence on the fold's crossings
  double centreDetermined = 0.1;  // radial: the centre is fitted when its standard errors are
                                  // below this fraction of the image's width and height
  double autoTolerance = 0.05;    // auto: within this fraction of the smallest CV RMS ...
  double autoFloor = 1e-4;        // ... or within this many px of it: CV RMS that differ by less
                                  // are not told apart (on crossings nearly free of noise,
                                  // a few 1e-5 px, every family fits to the positions' own
                                  // rounding, and 5 % of that would pick by it)
  int threads = 0;  // auto: families fitted side by side on this many threads (0: one a
                    // core), and the spline's trials of λ likewise; each family's fit is
                    // the same on any number
  // Set (from any thread) to stop a fit the caller no longer wants, as the
  // window does when its image changes: looked at before each family, each
  // reweighted fit and each fold, after which the fit throws CalibError
  // Cancelled. Null: never stopped.
  const std::atomic<bool>* cancel = nullptr;
};

// Throws CalibError Cancelled when params.cancel is set.
void StopIfCancelled(const FitParams& params);

// What a fit reads: the crossings of one lattice frame.
struct FitData {
  std::vector<Vec2> uv;                  // plate, mm (cells when the pitch is unknown)
  std::vector<Vec2> xy;                  // image, px
  std::vector<double> weight;            // 1/σ² (σ floored), or all 1
  std::vector<std::array<int, 2>> cell;  // column and row
  Pitch pitch;
  int imageWidth = 0, imageHeight = 0;
};

struct FitResult {
  Model model;
  std::vector<Vec2> residual;    // observed − model, px, every crossing (outliers too)
  std::vector<bool> outlier;     // left out of the fit
  std::vector<double> weight;    // the final weights: 1/σ² times Huber's
  std::vector<double> z;         // |residual| in robust σ
  std::vector<Vec2> cvResidual;  // cross-validation residuals, px; NaN where not predicted
  double rms = 0;                // of the residuals of the crossings fitted, px
  double maxResidual = 0;        // the largest of those, px
  double cvRms = 0;              // of the cross-validation residuals, px
  double parameters = 0;         // the number of parameters (the spline: 2 tr S)
  double robustScale = 0;        // 1.4826 × the median of |r|·√w
  int iterations = 0;            // reweighted fits made
};

// One family. Throws CalibError: TooFewPoints (fewer crossings than
// parameters), Collinear, NotDetermined, FitFailed.
FitResult FitModel(ModelKind kind, const FitData& data, const FitParams& params = {});

struct Candidate {
  std::string name;
  bool fitted = false;
  FitResult fit;      // when fitted
  std::string error;  // why not, otherwise
  CalibCause cause = CalibCause::FitFailed;
};

struct AutoResult {
  std::vector<Candidate> candidates;  // every family, in the order of ModelNames()
  int chosen = -1;                    // the one taken
};

// Every family; the one with the fewest parameters whose CV RMS is within
// autoTolerance of the smallest. Throws the first family's CalibError when
// none can be fitted.
AutoResult FitAuto(const FitData& data, const FitParams& params = {});

// The checks every fit makes first: finite numbers, sizes that agree, two
// lattice directions. Throws CalibError.
void CheckFitData(const FitData& data);

}  // namespace qova::calib
