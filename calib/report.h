#pragma once
// The calibration report: every figure of the fit (share/qova-calib-report.schema.json).
// Lengths on the image are pixels, on the plate millimetres (cells when the
// pitch is unknown) or micrometres; angles are degrees; each figure derived
// from the model carries its standard error.

#include <optional>
#include <string>
#include <vector>

#include "calib/figures.h"
#include "calib/json.h"
#include "calib/lattice_index.h"
#include "calib/model.h"

namespace qova::calib {

inline constexpr std::string_view kReportSchema = "qova-calib-report";
inline constexpr int kReportVersion = 1;

// One family's fit, as `auto` compared them.
struct CandidateFigures {
  std::string name;
  bool fitted = false;
  bool chosen = false;
  std::string error;                                              // why it could not be fitted
  double parameters = std::numeric_limits<double>::quiet_NaN();   // the spline: 2 tr S
  double rms = std::numeric_limits<double>::quiet_NaN();          // px
  double maxResidual = std::numeric_limits<double>::quiet_NaN();  // px
  double cvRms = std::numeric_limits<double>::quiet_NaN();        // px
  int outliers = 0;
};

// A crossing left out of the fit.
struct OutlierEntry {
  std::vector<int> points;  // its input points
  int column = 0, row = 0;
  Vec2 residual = Vec2::Zero();  // observed − model, px
  double sigmas = 0;             // |residual| in robust σ
};

struct ResidualFigures {
  double rmsPx = 0, maxPx = 0;  // of the crossings fitted
  double rmsUm = std::numeric_limits<double>::quiet_NaN(), maxUm = rmsUm;  // on the plate
  double cvRmsPx = 0;                                                      // cross-validated
  double cvRmsUm = std::numeric_limits<double>::quiet_NaN();
  std::string crossValidation;  // "leave-one-out" or "10-fold lattice blocks"
};

struct ParameterEntry {
  std::string name;
  double value = 0, standardError = 0;  // in the model's normalised units
};

struct CalibReport {
  std::string requested;                     // the model asked for ("auto" or a family)
  std::string model;                         // the model taken
  std::vector<CandidateFigures> candidates;  // every family fitted (one unless auto)
  Pitch pitch;
  int imageWidth = 0, imageHeight = 0;

  // The lattice.
  int points = 0;     // input points
  int indexed = 0;    // of them with an index
  int crossings = 0;  // crossings of the model's frame (duplicates merged)
  int fitted = 0;     // crossings the model was fitted to (outliers left out)
  int frames = 0;
  std::vector<RegionIndexing> regions;
  std::vector<int> unindexed;                // input points without an index
  std::vector<std::vector<int>> duplicates;  // input points that share a crossing
  std::vector<OutlierEntry> outliers;

  // The figures.
  ScaleFigures scale;  // at the centre of the crossings' extent
  ResidualFigures residuals;
  NonlinearityPair nonlinearity;
  std::vector<ParameterEntry> parameters;
  bool radialCentreFitted = false;
  Vec2 radialCentre = Vec2::Zero();       // px
  Vec2 radialCentreSigma = Vec2::Zero();  // px (0 when fixed)
  std::optional<SplineGrid> spline;
  std::vector<std::string> notes;  // what a reader should know: fixed centre, extrapolated
                                   // corners, regions in frames of their own, unknown pitch
};

Json ReportToJson(const CalibReport& report);
std::string ReportText(const CalibReport& report);
// Written safely; throws QovaError naming the path when it cannot.
void SaveReport(const CalibReport& report, const std::string& path);

}  // namespace qova::calib
