#include "binarize/fragmentation.h"

#include <memory>
#include <string>
#include <vector>

#include "binarize/fragment_grid.h"
#include "core/checked_math.h"
#include "core/qova_error.h"

namespace qova {

namespace {

// Only a hand-edited settings file can give other counts than 2 or 4. A count
// below 1 describes no grid at all, and beyond a few hundred the fragments are
// far too small to have statistics while the node table would take gigabytes:
// such values are refused with a message rather than half computed.
constexpr int32_t kMaxFragmentCount = 256;

void CheckFragmentCounts(int32_t nW, int32_t nH) {
  if (nW < 1 || nH < 1 || nW > kMaxFragmentCount || nH > kMaxFragmentCount)
    throw QovaError("Wrong fragmentation parameters: FragmentationWidth = " + std::to_string(nW) +
                    ", FragmentationHeight = " + std::to_string(nH) + " (allowed: 1 to " +
                    std::to_string(kMaxFragmentCount) + " each, or -1 for no fragmentation)");
}

GridPoint Corner(const SearchRegion& region, int32_t i) {
  const VT_Point* p = region.Get(i);
  return {p->x, p->y};
}

}  // namespace

RegionList FragmentRegion(const SearchRegion& region, int32_t nW, int32_t nH) {
  CheckFragmentCounts(nW, nH);
  const GridPoint p0 = Corner(region, 0), p1 = Corner(region, 1), p2 = Corner(region, 2),
                  p3 = Corner(region, 3);

  const std::vector<GridPoint> top = DivideSide(p0, p1, nW);
  const std::vector<GridPoint> right = DivideSide(p1, p2, nH);
  const std::vector<GridPoint> bottom = DivideSide(p3, p2, nW);
  const std::vector<GridPoint> left = DivideSide(p0, p3, nH);

  std::vector<GridLine> rows, columns;
  for (int32_t r = 0; r <= nH; ++r) rows.push_back(LineThrough(left[r], right[r]));
  for (int32_t c = 0; c <= nW; ++c) columns.push_back(LineThrough(top[c], bottom[c]));

  const size_t stride = static_cast<size_t>(nW) + 1;
  std::vector<GridPoint> nodes;
  nodes.reserve((static_cast<size_t>(nH) + 1) * stride);
  for (int32_t r = 0; r <= nH; ++r)
    for (int32_t c = 0; c <= nW; ++c) nodes.push_back(CrossLines(rows[r], columns[c]));
  auto node = [&](int32_t r, int32_t c) { return nodes[static_cast<size_t>(r) * stride + c]; };

  RegionList fragments;
  for (int32_t r = 0; r < nH; ++r) {
    for (int32_t c = 0; c < nW; ++c) {
      auto fragment = std::make_unique<SearchRegion>(1);
      for (const GridPoint& n : {node(r, c), node(r, c + 1), node(r + 1, c + 1), node(r + 1, c)})
        fragment->AddNew(n.x, n.y);
      fragments.Append(std::move(fragment));
    }
  }
  return fragments;
}

}  // namespace qova
