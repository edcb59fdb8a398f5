#pragma once
// Search regions for tests: from a list of corners, or as a person clicks
// them (whole pixels), and a region list of one region.

#include <cmath>
#include <initializer_list>
#include <memory>
#include <utility>

#include "core/search_region.h"

namespace qova {

using Corners = std::initializer_list<std::pair<double, double>>;

inline std::unique_ptr<SearchRegion> MakeRegion(Corners corners) {
  auto region = std::make_unique<SearchRegion>(1);
  for (const auto& [x, y] : corners) region->AddNew(x, y);
  return region;
}

// The region of these corners rounded to whole pixels, as clicked.
template <class Points>
std::unique_ptr<SearchRegion> ClickedRegion(const Points& corners) {
  auto region = std::make_unique<SearchRegion>(1);
  for (const auto& p : corners) region->AddNew(std::round(p.x()), std::round(p.y()));
  return region;
}

// A region list holding these regions, in order.
inline RegionList Regions(std::unique_ptr<SearchRegion> region) {
  RegionList list;
  list.Append(std::move(region));
  return list;
}

}  // namespace qova
