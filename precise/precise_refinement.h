#pragma once
// The precise refinement: every crossing of a search region, once, from the
// grey levels, to a hundredth of a pixel or better, with its standard error.
//
// From starting points (the crossings the detection found, or the region's
// corners when it found fewer than five) it indexes the lattice of crossings,
// measures each line's centre row by row on both arms of every crossing (a
// background-subtracted centroid, then a fitted line profile template),
// fits the two lines, intersects them, iterates, verifies every crossing by
// its four arms and completes the lattice inside the region. The files of
// this folder hold one idea each; this one is the driver.

#include <QImage>
#include <span>
#include <string>
#include <vector>

#include "core/brightness_box.h"
#include "core/data_structures.h"

namespace qova {

// Every tunable of the method. Lengths are in pixels unless a fraction of
// the pitch (the shorter lattice vector, pmin) or of a line spacing is named.
struct PreciseParams {
  // Threads that refine crossings side by side; 0: one per core. The result
  // is the same for any number.
  int threads = 0;

  // --- Lattice from the starting points ----------------------------------
  int minStarts = 5;              // fewer starting points: start from the region's corners
  int neighbours = 8;             // nearest neighbours whose directions vote for the lattice
  double angleSmoothBins = 1.5;   // σ of the smoothing of the 1° direction histogram, bins
  double secondAxisMinDeg = 30;   // the second lattice direction lies this far from the first
  double axisToleranceDeg = 10;   // a neighbour vector belongs to a direction within this
  double basisTolerance = 0.2;    // ... and within this share of its median length
  double mergeDistance = 0.25;    // starting points closer than this·pmin are one crossing
  double indexTolerance = 0.3;    // a lattice step lands within this·pitch of its prediction
  double startSnapWindow = 0.45;  // first snap of a starting point: ± this·spacing
  double startResnap = 1;         // ... then one in the narrow snapWindow unless the first
                                  // moved it less than this (it would find the same lines),
                                  // pixels
  double minPitch = 8;            // a lattice finer than this is refused, pixels

  // --- Line support -------------------------------------------------------
  int supportCrossings = 60;    // crossings pooled for each family's profile
  double supportWindow = 0.35;  // pooled pixels within ± this·spacing of the line
  double supportBin = 0.25;     // bin of the pooled profile, pixels
  double supportLevel = 0.02;   // the support ends where the profile falls below this·peak
  double minHalfWidth = 1.5;    // least band half-width h1, pixels
  double minRing = 2;           // least width of the background ring h2 − h1, pixels

  // --- One crossing --------------------------------------------------------
  double snapArmFrom = 0.2;  // coarse snap: rows from this·P + 1 ...
  double snapArmTo = 0.8;    // ... to this·P − 1 along each arm (P: to the next crossing)
  double snapWindow = 0.3;   // coarse snap: mean profile over ± this·spacing
  int snapRowStep = 3;       // coarse snap: every this-th row
  int firstPassRowStep = 3;  // first fits (verification, completion): every this-th row
  double firstPassConvergence = 0.01;  // ... until the crossing moves less than this, pixels
  int finalRowStep = 1;       // final fits: every this-th row (2: about half the cost, the noise's
                              // share of the error √2 larger)
  double windowHold = 0.2;    // a row keeps its window while its line stays within this of
                              // where the window was laid, pixels (then its fit stands)
  int maxIterations = 12;     // fine loop: at most this many fits ...
  double convergence = 1e-4;  // ... until the crossing moves less than this, pixels
  double rowMassShare = 0.3;  // a row counts when its ink exceeds this·median row ink
  double rejectSigmas = 3.5;  // row centres beyond this many robust σ are dropped
  double rejectFloor = 0.02;  // ... but rows within this of the line are kept, pixels
  int rejectRounds = 4;       // rounds of rejection
  int minRowsPerArm = 2;      // a line needs this many rows on each arm ...
  int minRows = 4;            // ... and this many in all

  // --- Line profile template ---------------------------------------------
  bool useTemplate = true;           // false: background-subtracted centroids only
  int templateSteps = 4;             // Gauss-Newton steps per row
  double templateStepClip = 0.5;     // largest step of a row centre, pixels
  double templateTableStep = 0.002;  // tabulation of the template, pixels
  int templateCrossings = 40;        // crossings pooled to fit the template
  double templateBin = 0.1;          // bin of the pooled profile, pixels
  double templatePhaseShare = 0.1;   // least share of rows at sub-pixel phases 0.15-0.85
  int templateRounds = 2;            // fits of the template, each from the last positions
  double templateMaxMove = 0.1;      // the template may move a crossing at most this·pmin
  double templateMaxShift = 0.005;   // a template that centres the rows further than this from
                                     // their centroids on average (over whole pixels of phase,
                                     // beyond 4 standard errors), by a shift that changes
                                     // with the phase more than from row to row, misses the
                                     // profile (uneven ink): centroids instead, pixels

  // --- Verification, completion, curvature --------------------------------
  double acceptRowShare = 0.5;  // each arm keeps at least this share of its rows ...
  double acceptArmMass = 0.35;  // ... and this share of the local reference ink
  double acceptMaxError = 0.5;  // largest standard error of an accepted crossing, pixels
  double acceptMaxMove = 0.3;   // largest move from its start or prediction, ·pmin
  bool useCurvature = true;     // fit each line's bend from its neighbouring crossings

  // --- Start from the region's corners ------------------------------------
  double cornerMinLag = 4;  // shortest period looked for, pixels
};

enum class PointOrigin {
  Found,   // one starting point, refined
  Merged,  // several starting points merged into one crossing
  Added,   // added by completion or by the start from the corners
};

struct PrecisePoint {
  double x, y;            // pixel (i, j) is the point (i, j), x to the right, y down
  double sigmaX, sigmaY;  // standard errors from the fit, pixels
  double standardError;   // sqrt(sigmaX^2 + sigmaY^2)
  PointOrigin origin;
};

// Why nothing could be refined; the callers put it into words.
enum class PreciseFailure {
  None,
  ParamsOutOfRange,     // a tunable outside its limits
  EmptyImage,           // an image of no pixels
  NotFourCorners,       // a region of other than four corners
  CornersFarOff,        // a corner that is no finite number near the image
  DegenerateRegion,     // a region of less than 16 square pixels
  ImageUnreadable,      // the image could not be converted to 32-bit pixels
  NoImagePixels,        // the region covers no pixel of the image
  NoContrast,           // its grey levels vary too little
  NotALattice,          // the starting points form no lattice
  PitchTooSmall,        // the lattice is finer than minPitch
  LinesLikeBackground,  // the lines do not stand out of the background
  LinesTooWide,         // the lines are too wide for the pitch
  NoCrossingRefined,    // no crossing could be fitted
  NoCrossingConfirmed,  // none was verified
  CornerStart,          // the start from the corners failed too: cornerReason says why
  OutOfMemory,
  Error,  // another error: detail holds its text
};

// Why the start from a region's corners found no starting points.
enum class CornerStartFailure {
  None,
  NotAQuadrilateral,  // the corners do not span a quadrilateral
  RegionSize,         // too small or too large to search for the lattice
  OutsideImage,       // the region reaches outside the image
  NoPeriodicLines,    // no periodic lines show in the region
  UnderTwoCells,      // fewer than two cells along a side
};

struct PreciseResult {
  bool completed = false;  // false: no crossing could be refined; reason says why
  PreciseFailure reason = PreciseFailure::None;
  // With CornerStart: why the starting points failed before (None when there
  // were too few, or they gave no crossing).
  PreciseFailure startsReason = PreciseFailure::None;
  CornerStartFailure cornerReason = CornerStartFailure::None;  // with CornerStart
  std::string detail;                                          // Error: the error's text
  bool startedFromCorners = false;
  std::vector<PrecisePoint> points;  // column by column (left to right), each top to bottom
};

// The crossings of one search region, refined on the grey levels of image
// (any format; brightness (r + g + b)/3 as a double). corners: the region's
// 4 corners in the order clicked (top-left, top-right, bottom-right,
// bottom-left; they lie in cell centres). starts: the detection's points for
// this region (may be empty, have duplicates, miss rows, be off by up to 0.3
// pitch); fewer than params.minStarts: start from the corners. Only points
// inside the region are returned. Never throws for bad input: the result
// says why nothing could be refined.
[[nodiscard]] PreciseResult RefinePrecise(const QImage& image, std::span<const VT_Point> corners,
                                          std::span<const VT_Point> starts,
                                          const PreciseParams& params = {});

// The same on the brightness a run kept of a box of the image, at the
// image's own depth (its scale says what a grey level is). A read outside
// the box throws OutsideKeptBox: the caller keeps a wider box and calls
// again, with the same result as on the whole image.
[[nodiscard]] PreciseResult RefinePrecise(const BrightnessBox& image,
                                          std::span<const VT_Point> corners,
                                          std::span<const VT_Point> starts,
                                          const PreciseParams& params = {});

}  // namespace qova
