#pragma once
// Shared by the binarization tests: regions from corner lists; the state of a
// run before its first region comes from tests/support/run_state.h.

#include <QImage>
#include <initializer_list>
#include <memory>
#include <utility>

#include "state/state_record.h"
#include "tests/support/run_state.h"

namespace qova {

using Corners = std::initializer_list<std::pair<double, double>>;

inline std::unique_ptr<SearchRegion> MakeRegion(Corners corners) {
  auto region = std::make_unique<SearchRegion>(1);
  for (const auto& [x, y] : corners) region->AddNew(x, y);
  return region;
}

}  // namespace qova
