#pragma once
// A state record on the scripted platform with a mask of a given size, for the
// detection tests and benchmark.

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "platform/scripted_platform.h"
#include "state/state_record.h"
#include "tests/support/run_state.h"

namespace qova::testing {

struct DetectState {
  ScriptedPlatform desktop;
  StateRecord s{desktop};

  DetectState(int32_t width, int32_t height) {
    s.ImageWidth = width;
    s.ImageHeight = height;
    s.BinaryMask.Allocate(width, height);
    s.ArrayWidth = width;
    s.ArrayHeight = height;
  }

  void Set(int32_t x, int32_t y) { s.BinaryMask.At(x, y) = 1; }
  void SetRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {  // inclusive
    for (int32_t x = x0; x <= x1; ++x)
      for (int32_t y = y0; y <= y1; ++y) Set(x, y);
  }
  void SetAll() { SetRect(0, 0, s.ImageWidth - 1, s.ImageHeight - 1); }

  int32_t AddRegion(std::initializer_list<std::pair<double, double>> corners) {
    auto region = std::make_unique<SearchRegion>(1);
    for (const auto& [x, y] : corners) region->AddNew(x, y);
    s.Regions.Append(std::move(region));
    return s.Regions.Length() - 1;
  }
};

using PointList = std::vector<std::pair<double, double>>;

// The coordinates of a list's points, in order.
inline PointList Points(const VT_Points& list) {
  PointList out;
  for (int32_t k = 0; k < list.Count(); ++k) out.emplace_back(list.Get(k)->x, list.Get(k)->y);
  return out;
}

using qova::PrepareForRun;

}  // namespace qova::testing
