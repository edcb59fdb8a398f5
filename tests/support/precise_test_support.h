#pragma once
// For the tests and the report of the precise refinement: the detection's
// own points for a region (the starting points the precise stage gets), the
// rendered plates with known truth every precise test uses, and the scoring
// of points against that truth.

#include <QImage>
#include <QPointF>
#include <string>
#include <vector>

#include "core/data_structures.h"
#include "precise/precise_refinement.h"
#include "synth/synthetic_plate.h"

namespace qova::testing {

// The points the detection finds in one region of the image with the
// default settings. Empty when the run fails.
std::vector<VT_Point> DetectionRunPoints(const QImage& image, const std::vector<VT_Point>& corners);

struct PlateCase {
  std::string name;
  PlateParams params;
  double rmsLimit = 0.01;   // largest RMS error to the truth, pixels
  bool unmodelled = false;  // a profile the template does not model
};

// The plates of the accuracy table: clean, turned, tilted, barrel, blurred,
// noisy, unevenly lit, thin and thick lines, light lines, 8-bit palette, a
// small plate, and two profiles the template does not model.
std::vector<PlateCase> StandardPlates();

// The region of a plate: corners in the middle of cells, one cell in from
// each side, rounded to whole pixels as a click puts them.
std::vector<VT_Point> PlateRegion(const Plate& plate);

// The true crossings inside the region.
std::vector<QPointF> TruthInside(const Plate& plate, const std::vector<VT_Point>& corners);

struct Score {
  int expected = 0;        // true crossings inside the region
  int found = 0;           // of them, matched by a point
  int duplicates = 0;      // points beyond the first on one crossing
  int falsePoints = 0;     // points matching no true crossing inside the region
  double rms = 0;          // RMS distance of the first match of each found crossing, pixels
  double medianSigma = 0;  // median reported standard error (0 when none is reported)
  double sigmaRms = 0;     // RMS of the reported standard errors
};

// A point matches the nearest true crossing within `tolerance` pixels.
Score ScorePoints(const std::vector<QPointF>& truth, const std::vector<QPointF>& points,
                  const std::vector<double>& sigmas, double tolerance = 1.5);

std::vector<QPointF> PointsOf(const PreciseResult& r);
std::vector<double> SigmasOf(const PreciseResult& r);
std::vector<QPointF> PointsOf(const std::vector<VT_Point>& points);

}  // namespace qova::testing
