#include "precise/shared_arms.h"

#include <map>

#include "precise/parallel_for.h"

namespace qova::precise {

SharedArms MeasureSharedArms(std::span<const CrossingTask> tasks, const FamilyContext& vertical,
                             const FamilyContext& horizontal, const PreciseParams& params,
                             const FitOptions& options) {
  std::map<std::pair<int, int>, size_t> index;
  for (size_t k = 0; k < tasks.size(); ++k) index[tasks[k].node] = k;
  struct ArmTask {
    size_t crossing;
    bool horizontal;
    int arm;
  };
  std::vector<ArmTask> armTasks;
  SharedArms arms;
  arms.of.resize(tasks.size());
  // Every crossing measures its arms after; its arms before only where
  // the previous crossing is not refitted too.
  for (size_t k = 0; k < tasks.size(); ++k) {
    const auto [i, j] = tasks[k].node;
    arms.of[k][1] = armTasks.size(), armTasks.push_back({k, false, 1});
    arms.of[k][3] = armTasks.size(), armTasks.push_back({k, true, 1});
    if (!index.count({i, j - 1}))
      arms.of[k][0] = armTasks.size(), armTasks.push_back({k, false, 0});
    if (!index.count({i - 1, j})) arms.of[k][2] = armTasks.size(), armTasks.push_back({k, true, 0});
  }
  for (size_t k = 0; k < tasks.size(); ++k) {
    const auto [i, j] = tasks[k].node;
    if (const auto above = index.find({i, j - 1}); above != index.end())
      arms.of[k][0] = arms.of[above->second][1];
    if (const auto left = index.find({i - 1, j}); left != index.end())
      arms.of[k][2] = arms.of[left->second][3];
  }
  arms.all.resize(armTasks.size());
  ParallelFor(armTasks.size(), params.threads, [&](size_t t) {
    const ArmTask& a = armTasks[t];
    const CrossingTask& task = tasks[a.crossing];
    arms.all[t] = a.horizontal
                      ? MeasureArm(horizontal, InFrame(task.start, true), task.horizontal, a.arm,
                                   params, options)
                      : MeasureArm(vertical, task.start, task.vertical, a.arm, params, options);
  });
  return arms;
}

CrossingFit FitFromSharedArms(const SharedArms& arms, size_t k, const CrossingTask& task,
                              const PreciseParams& params, const FitOptions& options) {
  const MeasuredArm* armsV[2] = {&arms.all[arms.of[k][0]], &arms.all[arms.of[k][1]]};
  const MeasuredArm* armsH[2] = {&arms.all[arms.of[k][2]], &arms.all[arms.of[k][3]]};
  return FitCrossingFromArms(task.start, task.vertical, task.horizontal, armsV, armsH, params,
                             options);
}

}  // namespace qova::precise
