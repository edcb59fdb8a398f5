#pragma once
// The rows of one line of a crossing, measured: on every whole row of both
// arms (from the crossing's core out to the next crossing's core) a window
// of the line's support; per arm a background plane fitted to the ring
// beside the band and subtracted; per row the ink, the tapered centroid
// and, with a template, the template's shift. What a row's centre is worth
// (its rounding floor) comes with it. The line through the centres is
// robust_line's; the loop over a crossing is crossing_fit's.

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

// How thoroughly a crossing is fitted: every row or every n-th, and until
// it moves less than how much.
struct FitOptions {
  int rowStep = 1;
  double convergence = 1e-4;
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

// The rows of the line being fitted and their grey levels: one per thread,
// reused by every line it fits.
struct RowScratch {
  std::vector<MeasuredRow> rows;
  std::vector<double> samples, z, values;
};
RowScratch& ThreadScratch();

// What the last fit of a line measured in each row (rows within `span` of
// row `centre`): the window it read, where the line lay when the window was
// laid, and the template's centre. The next fit of the same line keeps a
// row's window while the line stays near where it was laid, and the
// template's centre where the window is kept.
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

 private:
  size_t Index(int row) const { return static_cast<size_t>(static_cast<long>(row) - base_); }
  long base_;
  std::vector<Entry> at_;
};

// A line's band in its rows (row units: widths stretched by √(1 + b²)):
// the centroid's taper ends at `inner`, the window at `outer`, a centre
// counts within `limit`; q is the bend held.
struct Band {
  double inner, outer, limit, q;
};
Band BandOf(const FamilyContext& family, const LineGeometry& line);

// The rows of both arms (or of arm `onlyArm` alone), from the crossing's
// core out to the next one's, with their windows (the last fit's where the
// line stayed within `hold` of where it was laid), appended to
// scratch.rows with room for their grey levels in scratch.samples; each
// arm's count of rows added to arms[arm].rows.
void LayRows(const GreyView& view, double core, Vec2 c, const LineGeometry& line, const Band& band,
             int rowStep, const RowMemory* memory, double hold, RowScratch& scratch,
             ArmQuality arms[2], int onlyArm = -1);

// The grey levels of every row's window into scratch.samples.
void Gather(const GreyView& view, RowScratch& scratch);

// Per arm the background plane B0 + B1·s + B2·Y fitted to the ring beside
// the band and subtracted from the grey levels; planeOk[arm] when it could
// be fitted.
void SubtractBackground(const GreyView& view, const Band& band, RowScratch& scratch,
                        bool planeOk[2]);

// The background-subtracted centroid of a row with the tapered band weight,
// its ink and (when `floor`) its rounding floor, from the standard deviation
// rounding adds to a pixel (GreyView::RoundingSigma).
void Centroid(MeasuredRow& row, const double* d, double inner, bool floor,
              double roundingSigma = kUniformRoundingSigma * kThirds);

// The shift d minimising Σ(D − β − A·T(s − d))² over the row's window,
// started at `d`; false when the fit leaves the band (|d| >= limit) or
// finds no positive line. Sets the row's centre and rounding floor.
bool TemplateCentre(MeasuredRow& row, const double* d, const LineTemplate& t, double start,
                    double limit, const PreciseParams& params,
                    double roundingSigma = kUniformRoundingSigma * kThirds);

// Each row's centre (the centroid, then with a template the template's
// shift, started where the last fit of the row ended), its ink, and
// whether it counts: ink above a share of the median row's, centre within
// the band. Also each arm's median row ink into arms[arm].medianMass.
void MeasureRows(const FamilyContext& family, const Band& band, const PreciseParams& params,
                 const RowMemory* memory, const bool planeOk[2], RowScratch& scratch,
                 ArmQuality arms[2]);

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

}  // namespace qova::precise
