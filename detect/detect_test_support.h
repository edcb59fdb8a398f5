#pragma once
// The detection stages under the names of the window's record, on a mask set
// pixel by pixel, for the detection tests and benchmark: the record holds
// the mask, the regions, the parameters and every stage's result, and each
// stage is called on what it reads and fills what it produces.

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "detect/cross_nodes.h"
#include "detect/refine_cross_points.h"
#include "detect/scan_sides.h"
#include "detect/validate_lines.h"
#include "tests/support/recording_observer.h"
#include "tests/support/regions.h"

namespace qova::testing {

struct DetectRecord : DetectionParams, BorderPoints, GridLines {
  int32_t ImageWidth = 0, ImageHeight = 0;
  PixelArray<uint8_t> BinaryMask;
  RegionList Regions;
  DynamicArray<CrossNode> CrossNodes;
  VT_Points FoundPoints{1};

  MaskView Mask() const { return ViewOf(BinaryMask, ImageWidth, ImageHeight); }
};

struct DetectState {
  RecordingObserver observer;
  DetectRecord s;

  explicit DetectState(int32_t width = 0, int32_t height = 0) {
    s.ImageWidth = width;
    s.ImageHeight = height;
    s.BinaryMask.Allocate(width, height);
  }

  void Set(int32_t x, int32_t y) { s.BinaryMask.At(x, y) = 1; }
  void SetRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {  // inclusive
    for (int32_t x = x0; x <= x1; ++x)
      for (int32_t y = y0; y <= y1; ++y) Set(x, y);
  }
  void SetAll() { SetRect(0, 0, s.ImageWidth - 1, s.ImageHeight - 1); }

  int32_t AddRegion(Corners corners) {
    s.Regions.Append(MakeRegion(corners));
    return s.Regions.Length() - 1;
  }

  // The stages, as a run calls them for region r.
  void ScanSide03(int32_t r) {
    qova::ScanSide03(s.Mask(), *s.Regions[r], s, observer, s.SidePoints03);
  }
  void ScanSide12(int32_t r) {
    qova::ScanSide12(s.Mask(), *s.Regions[r], s, observer, s.SidePoints12);
  }
  void ScanSide23(int32_t r) {
    qova::ScanSide23(s.Mask(), *s.Regions[r], s, observer, s.SidePoints23);
  }
  void ScanSide01(int32_t r) {
    qova::ScanSide01(s.Mask(), *s.Regions[r], s, observer, s.SidePoints01);
  }
  bool ValidateLines() { return qova::ValidateLines(s, s.MaxAngle, observer, s); }
  void FindCrossNodes(int32_t r) {
    s.CrossNodes = qova::FindCrossNodes(s, *s.Regions[r], observer);
  }
  bool RefineCrossPoints(int32_t r) {
    return qova::RefineCrossPoints(s.Mask(), s.CrossNodes, s.HorizontalLines.Count(), *s.Regions[r],
                                   s, observer, s.FoundPoints);
  }
};

using PointList = std::vector<std::pair<double, double>>;

// Replaces the list's points with these.
inline void Fill(VT_Points& list, std::initializer_list<std::pair<double, double>> points) {
  list.Clear();
  for (const auto& [x, y] : points) list.AddNew(x, y);
}

// The coordinates of a list's points, in order.
inline PointList Points(const VT_Points& list) {
  PointList out;
  for (int32_t k = 0; k < list.Count(); ++k) out.emplace_back(list.Get(k)->x, list.Get(k)->y);
  return out;
}

}  // namespace qova::testing
