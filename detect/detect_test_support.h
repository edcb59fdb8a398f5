#pragma once
// The detection stages under the names of the window's record, on a mask set
// pixel by pixel, for the detection tests and benchmark: the record holds
// the mask, the regions, the parameters and every stage's result, and each
// stage is called on what it reads and fills what it produces.

#include <deque>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "detect/cross_nodes.h"
#include "detect/refine_cross_points.h"
#include "detect/scan_sides.h"
#include "detect/validate_lines.h"
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

// What the stages showed and asked: the markers of step mode, and the
// question whether to go on with a point without a partner, answered from a
// queue (yes when it is empty).
struct StageRecord {
  std::vector<std::pair<int32_t, int32_t>> markers;
  std::deque<bool> answers;
  int questions = 0;

  StepMarker Marker() {
    return [this](int32_t x, int32_t y) { markers.emplace_back(x, y); };
  }
  bool GoOn() {
    ++questions;
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

struct DetectState {
  StageRecord shown;
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
    qova::ScanSide03(s.Mask(), *s.Regions[r], s, shown.Marker(), s.SidePoints03);
  }
  void ScanSide12(int32_t r) {
    qova::ScanSide12(s.Mask(), *s.Regions[r], s, shown.Marker(), s.SidePoints12);
  }
  void ScanSide23(int32_t r) {
    qova::ScanSide23(s.Mask(), *s.Regions[r], s, shown.Marker(), s.SidePoints23);
  }
  void ScanSide01(int32_t r) {
    qova::ScanSide01(s.Mask(), *s.Regions[r], s, shown.Marker(), s.SidePoints01);
  }
  LinesOutcome ValidateLines() {
    return qova::ValidateLines(
        s, s.MaxAngle, [this] { return shown.GoOn(); }, s);
  }
  NodesOutcome FindCrossNodes(int32_t r) {
    CrossNodes found = qova::FindCrossNodes(s, *s.Regions[r]);
    s.CrossNodes = std::move(found.nodes);
    return found.outcome;
  }
  RefineOutcome RefineCrossPoints(int32_t r) {
    return qova::RefineCrossPoints(s.Mask(), s.CrossNodes, s.HorizontalLines.Count(), *s.Regions[r],
                                   s, shown.Marker(), s.FoundPoints);
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
