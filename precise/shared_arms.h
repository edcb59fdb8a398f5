#pragma once
// Crossings fitted side by side share their arms: the arm after a crossing
// along a line is the arm before the next crossing on it. When both are
// fitted in the same pass, the arm is measured once (its rows' windows,
// background, centroids and template centres) and each crossing fits its
// lines through the arms it is given.

#include <array>
#include <span>
#include <utility>
#include <vector>

#include "precise/crossing_fit.h"

namespace qova::precise {

// One crossing to fit: its lattice index, where its fit starts (image
// coordinates) and its two lines.
struct CrossingTask {
  std::pair<int, int> node;
  Vec2 start;
  LineGeometry vertical, horizontal;
};

// The arms of crossings fitted together, each measured once. of[k]: the
// indices in `all` of crossing k's arms (vertical before, after; horizontal
// before, after).
struct SharedArms {
  std::vector<MeasuredArm> all;
  std::vector<std::array<size_t, 4>> of;
};

// The arms of the tasks (one task per lattice index), measured about each
// task's start; on params.threads threads.
SharedArms MeasureSharedArms(std::span<const CrossingTask> tasks, const FamilyContext& vertical,
                             const FamilyContext& horizontal, const PreciseParams& params,
                             const FitOptions& options);

// Crossing k of the shared arms, from `task` (the task it was measured for,
// or another start of the same crossing).
CrossingFit FitFromSharedArms(const SharedArms& arms, size_t k, const CrossingTask& task,
                              const PreciseParams& params, const FitOptions& options);

}  // namespace qova::precise
