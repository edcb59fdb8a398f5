#pragma once
// What is known of one point of a run beyond its coordinates.

#include "precise/precise_refinement.h"

namespace qova {

struct PointDetail {
  bool precise = false;                     // refined by the precise stage; the rest is then known
  double sigmaX = 0, sigmaY = 0;            // standard errors from the fit, pixels
  double standardError = 0;                 // √(sigmaX² + sigmaY²)
  PointOrigin origin = PointOrigin::Found;  // Added: a crossing the detection had not found
};

// The origin by the name the CSV and JSON forms and the Python module give
// it: "found", "merged" or "added".
const char* OriginName(PointOrigin origin);

}  // namespace qova
