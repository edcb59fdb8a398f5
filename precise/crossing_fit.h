#pragma once
// One crossing, refined: on every whole row of both arms of each line (from
// the crossing's core out to the next crossing's core) the line's centre is
// measured in a window of the line's support with a background plane
// subtracted; a straight (or fixed-bend) line is fitted robustly through the
// row centres of both arms; the two lines are intersected and the windows
// moved to the new crossing, until it moves less than a ten-thousandth of a
// pixel. The covariance of the two line fits gives the standard error.

#include <algorithm>
#include <cmath>
#include <vector>

#include "precise/grey_view.h"
#include "precise/line_frame.h"
#include "precise/line_support.h"
#include "precise/line_template.h"
#include "precise/precise_refinement.h"

namespace qova::precise {

// What all crossings share for one family of lines.
struct FamilyContext {
  const GreyView* view = nullptr;              // the image in this family's frame
  LineSupport support;                         // band and ring half-widths
  double core = 0;                             // core radius of this family's lines
  const LineTemplate* lineTemplate = nullptr;  // row centres by template; null: centroids
};

// The rows of one arm: how many had their window inside the image, how many
// gave a centre that the line fit kept, and the median ink of a row.
struct ArmQuality {
  int rows = 0;
  int usable = 0;
  double medianMass = 0;
};

// A row of one arm of a line, as a fit measured it.
struct MeasuredRow {
  int arm = 0;            // 0: before the crossing, 1: after
  int y = 0;              // the row
  double dy = 0;          // Y, the row's offset from the crossing
  double xk = 0;          // the line in this row when it was measured
  int x0 = 0, n = 0;      // first pixel and count of the window
  double laidAt = 0;      // the line in this row when the window was laid
  int bandFrom = 0;       // the window's pixels bandFrom ... bandTo lie within the band,
  int bandTo = -1;        // the others in the background ring
  size_t first = 0;       // its first sample in the fit's buffer
  double mass = 0;        // Σω·D
  double sum = 0;         // ΣD over the window
  double centre = 0;      // the line's centre, from xk
  double centroid = 0;    // the centroid's centre, from xk
  double floor = 0;       // the centre's rounding floor
  bool planeOk = false;   // its arm's background plane was fitted
  bool measured = false;  // a shared arm's row: its centre lies in the band (and the
                          // template, where there is one, fitted it)
  bool valid = false, inlier = false;
};

struct LineFit {
  bool ok = false;
  double alpha = 0, beta = 0;  // x = c.x + alpha + beta·Y + curvature·Y² in the frame
  double varAlpha = 0, varBeta = 0, covAlphaBeta = 0;
  double floorVariance = 0;  // 8-bit rounding floor of alpha
  ArmQuality arms[2];        // before, after
  bool reused = false;       // the last fit of the line, moved to the new centre
};

// What the last fit of a line did in each row (rows within `span` of row
// `centre`): the window it read and where the line lay when the window was
// laid, and the template's centre. The next fit of the same line keeps a
// row's window while the line stays near where it was laid, and the
// template's centre where the window is kept; when every window is kept the
// last fit stands, moved to the new centre.
class RowMemory {
 public:
  struct Entry {
    int x0 = 0, n = 0;    // the window
    double laidAt = NAN;  // the line in that row when the window was laid; NAN: no window
    double centre = NAN;  // the template's centre of the line in that row, pixels; NAN: none
    double floor = 0;     // its rounding floor
  };
  RowMemory(double centre, double span)
      : base_(static_cast<long>(std::floor(std::clamp(centre, -1e6, 1e6))) -
              static_cast<long>(std::clamp(span, 0.0, 1e5)) - 2),
        at_(static_cast<size_t>(2 * static_cast<long>(std::clamp(span, 0.0, 1e5)) + 5)) {}
  const Entry* Find(int row) const {
    const size_t i = Index(row);
    return i < at_.size() ? &at_[i] : nullptr;
  }
  void Set(int row, const Entry& e) {
    if (Index(row) < at_.size()) at_[Index(row)] = e;
  }

  // The rows and windows of the last fit, and the fit with the centre it
  // was made about.
  struct Window {
    int arm, y, x0, n;
  };
  std::vector<Window> layout;
  LineFit lastFit;
  Vec2 lastCentre;

 private:
  size_t Index(int row) const { return static_cast<size_t>(static_cast<long>(row) - base_); }
  long base_;
  std::vector<Entry> at_;
};

// How thoroughly a crossing is fitted: every row or every n-th, and until
// it moves less than how much.
struct FitOptions {
  int rowStep = 1;
  double convergence = 1e-4;
};

// One line of the crossing at c (frame coordinates); `pool`, when given,
// collects the kept rows' profiles about the fitted line; `memory` carries
// the rows' centres from one fit of the line to the next.
LineFit FitLine(const FamilyContext& family, Vec2 c, const LineGeometry& line,
                const PreciseParams& params, const FitOptions& options, ProfilePool* pool,
                RowMemory* memory = nullptr);

struct CrossingFit {
  bool ok = false;
  Vec2 position;
  double sigmaX = 0, sigmaY = 0, standardError = 0;
  ArmQuality arms[4];  // vertical line before, after; horizontal line before, after
  double slopeV = 0, slopeH = 0;
  int iterations = 0;
};

// The crossing near start (image coordinates) of the vertical line v and
// the horizontal line h (each in its own frame).
CrossingFit FitCrossing(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                        const FamilyContext& vertical, const FamilyContext& horizontal,
                        const PreciseParams& params, const FitOptions& options,
                        ProfilePool* poolV = nullptr, ProfilePool* poolH = nullptr);

// One arm of a line, measured once for both crossings it joins (the arm
// after one crossing is the arm before the next): every row's window, ink,
// centroid and, with a template, template centre, with the arm's background
// plane. `arm`: 0 before the crossing at c, 1 after.
struct MeasuredArm {
  struct Row {
    int y = 0;              // the row
    bool planeOk = false;   // its arm's background plane was fitted
    bool measured = false;  // it has a centre (see MeasuredRow)
    double at = 0;          // the line's centre in the row, pixels
    double floor = 0;       // its rounding floor
    double mass = 0;        // its ink
    double laidAt = 0;      // the line in the row when the window was laid
  };
  std::vector<Row> rows;
  bool planeOk = false;   // its background plane was fitted
  double medianMass = 0;  // the median ink of its rows
};
MeasuredArm MeasureArm(const FamilyContext& family, Vec2 c, const LineGeometry& line, int arm,
                       const PreciseParams& params, const FitOptions& options);

// The crossing near start from its four measured arms (vertical before and
// after, horizontal before and after; each measured about either crossing
// it joins). Not ok when the lines fitted through them lie further than
// params.windowHold from where an arm's windows were laid: then the arms
// do not serve this crossing and FitCrossing must measure it.
CrossingFit FitCrossingFromArms(Vec2 start, const LineGeometry& v, const LineGeometry& h,
                                const MeasuredArm* const armsV[2],
                                const MeasuredArm* const armsH[2], const PreciseParams& params,
                                const FitOptions& options);

}  // namespace qova::precise
