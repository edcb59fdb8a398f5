// The edge mask of whole regions and of fragments on synthetic grid plates.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "binarize/binarization.h"
#include "binarize/fragmentation.h"
#include "core/checked_math.h"
#include "synth/synthetic_plate.h"
#include "tests/support/regions.h"
#include "tests/support/run_arrays.h"

namespace qova {
namespace {

// What the mask shows of the plate inside a region: for every grid line that
// crosses a row (or column) of the region away from the other family's lines,
// whether a pixel is marked on each of its two edges; and whether anything is
// marked in the flat inside of the cells.
struct MaskReport {
  int edgesChecked = 0;
  int edgesMissedLeftHalf = 0;   // left half of the image
  int edgesMissedRightHalf = 0;  // right half
  int flatChecked = 0;
  int flatMarked = 0;
};

std::ostream& operator<<(std::ostream& out, const MaskReport& r) {
  return out << "edges " << r.edgesChecked << " missed left " << r.edgesMissedLeftHalf << " right "
             << r.edgesMissedRightHalf << "; flat " << r.flatChecked << " marked " << r.flatMarked;
}

class PlateMask : public testing::Test {
 protected:
  void Open(const PlateParams& params) {
    plate = RenderPlate(params);
    run = std::make_unique<RunArrays>(plate.image);
    regions.SetLength(0);
  }

  int32_t AddRegion(const std::vector<QPointF>& corners) {
    auto region = std::make_unique<SearchRegion>(1);
    for (const QPointF& p : corners) region->AddNew(p.x(), p.y());
    regions.Append(std::move(region));
    return regions.Length() - 1;
  }

  // Binarization of one region as a run does it.
  void Binarize(int32_t r, int32_t fragments = -1) {
    if (fragments == -1) {
      run->Binarize(*regions[r]);
      return;
    }
    const RegionList parts = FragmentRegion(*regions[r], fragments, fragments);
    for (const auto& f : parts) run->Statistics(*f);
    for (const auto& f : parts) run->BinarizeAt(*f, Trunc(run->Threshold(*f)));
  }
  bool Marked(int x, int y) const { return run->work.BinaryMask[x][y] != 0; }

  // Signed distance of pixel (x, y) from the nearest line of a family (normal
  // `normal`), and that line's index.
  double Offset(int x, int y, const QPointF& normal, int* line) const {
    const double u = (x - plate.anchor.x()) * normal.x() + (y - plate.anchor.y()) * normal.y();
    *line = static_cast<int>(std::floor(u / plate.params.pitch + 0.5));
    return u - *line * plate.params.pitch;
  }

  MaskReport Inspect(int32_t r) const {
    const SearchRegion& region = *regions[r];
    const double reach = plate.params.lineWidth / 2 + 0.5;  // beyond it the cell is flat
    MaskReport report;
    // Per line crossing a run of pixels: centre seen, left edge seen and marked, right edge seen
    // and marked.
    struct Crossing {
      bool centre = false, leftSeen = false, leftMarked = false, rightSeen = false,
           rightMarked = false, leftHalf = false;
    };
    auto finish = [&](const std::map<int, Crossing>& crossings) {
      for (const auto& [line, c] : crossings) {
        if (!c.centre || !c.leftSeen || !c.rightSeen) continue;
        report.edgesChecked += 2;
        const int missed = !c.leftMarked + !c.rightMarked;
        (c.leftHalf ? report.edgesMissedLeftHalf : report.edgesMissedRightHalf) += missed;
      }
    };
    auto visit = [&](std::map<int, Crossing>& crossings, double d, int line, bool marked, int x) {
      Crossing& c = crossings[line];
      c.leftHalf = x < plate.params.width / 2;
      if (std::fabs(d) < 0.5) c.centre = true;
      if (d <= -0.5 && d >= -reach - 1) c.leftSeen = true, c.leftMarked |= marked;
      if (d >= 0.5 && d <= reach + 1) c.rightSeen = true, c.rightMarked |= marked;
    };
    // Vertical lines along rows, horizontal lines along columns.
    for (int y = 0; y < plate.image.height(); ++y) {
      std::map<int, Crossing> crossings;
      for (int x = 0; x < plate.image.width(); ++x) {
        if (!PointInRegion(x, y, region)) continue;
        int k, l;
        const double du = Offset(x, y, plate.across, &k), dv = Offset(x, y, plate.down, &l);
        if (std::fabs(dv) > reach + 3) visit(crossings, du, k, Marked(x, y), x);
        if (std::fabs(du) > reach + 1.5 && std::fabs(dv) > reach + 1.5) {
          ++report.flatChecked;
          report.flatMarked += Marked(x, y);
        }
      }
      finish(crossings);
    }
    for (int x = 0; x < plate.image.width(); ++x) {
      std::map<int, Crossing> crossings;
      for (int y = 0; y < plate.image.height(); ++y) {
        if (!PointInRegion(x, y, region)) continue;
        int k, l;
        const double du = Offset(x, y, plate.across, &k), dv = Offset(x, y, plate.down, &l);
        if (std::fabs(du) > reach + 3) visit(crossings, dv, l, Marked(x, y), x);
      }
      finish(crossings);
    }
    return report;
  }

  Plate plate;
  std::unique_ptr<RunArrays> run;
  RegionList regions;
};

TEST_F(PlateMask, WholeRegionMarksBothEdgesOfEveryLineAndNoCell) {
  for (double angle : {0.0, 1.5, -4.0}) {
    PlateParams params;
    params.width = 400;
    params.height = 300;
    params.pitch = 40;
    params.lineWidth = 3;
    params.angleDeg = angle;
    params.originX = 0.3;
    params.originY = 0.6;
    Open(params);
    const int32_t r = AddRegion(RegionInCells(plate, 1, 1, 7, 5));
    Binarize(r);
    const MaskReport report = Inspect(r);
    SCOPED_TRACE(testing::Message() << "angle " << angle << ": " << report);
    // 7 vertical lines over some 140 rows, 5 horizontal ones over some 210
    // columns, two edges each.
    EXPECT_GT(report.edgesChecked, 2 * (7 * 140 + 5 * 210));
    EXPECT_EQ(report.edgesMissedLeftHalf + report.edgesMissedRightHalf, 0);
    EXPECT_GT(report.flatChecked, 20000);
    EXPECT_EQ(report.flatMarked, 0);
  }
}

TEST_F(PlateMask, FragmentsFollowBrightnessThatHalvesAcrossThePlate) {
  PlateParams params;
  params.width = 400;
  params.height = 300;
  params.pitch = 24;  // dense enough for the edges to raise the mean gradient
  params.lineWidth = 3;
  params.brightnessFalloff = 0.5;
  params.originX = 0.3;
  params.originY = 0.6;
  Open(params);
  const int32_t r = AddRegion(RegionInCells(plate, 0, 0, 14, 9));

  // One threshold for the whole region: too high for the dark half.
  Binarize(r);
  const MaskReport whole = Inspect(r);
  SCOPED_TRACE(testing::Message() << "whole: " << whole);
  EXPECT_EQ(whole.edgesMissedLeftHalf, 0);
  EXPECT_GT(whole.edgesMissedRightHalf, whole.edgesChecked / 10);

  // A threshold per fragment follows the brightness.
  Open(params);
  const int32_t f = AddRegion(RegionInCells(plate, 0, 0, 14, 9));
  Binarize(f, 4);
  const MaskReport fragmented = Inspect(f);
  SCOPED_TRACE(testing::Message() << "4 x 4: " << fragmented);
  EXPECT_EQ(fragmented.edgesChecked, whole.edgesChecked);
  EXPECT_EQ(fragmented.edgesMissedLeftHalf + fragmented.edgesMissedRightHalf, 0);
  EXPECT_EQ(fragmented.flatMarked, 0);
}

}  // namespace
}  // namespace qova
