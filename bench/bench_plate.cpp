#include "bench/bench_plate.h"

#include <cmath>

#include "platform/scripted_platform.h"

namespace qova {

PlateParams BenchPlateParams(int megapixels) {
  PlateParams params;
  const int side = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6)));
  params.width = side;
  params.height = side;
  params.pitch = 100;
  params.lineWidth = 3;
  params.angleDeg = 1;
  params.originX = 0.37;
  params.originY = -0.21;
  params.noise = 2;
  params.seed = 11;
  return params;
}

std::vector<QPointF> BenchRegion(const Plate& plate) {
  const int lines = static_cast<int>(plate.crossings.size());
  // One cell in from each side, crossings not on the border; on a plate so
  // large that the grid's turn carries those corners off the image, as many
  // more cells in as keep them on it.
  std::vector<QPointF> first;
  for (int in = 1; 2 * in + 2 < lines; ++in) {
    std::vector<QPointF> corners =
        RegionInCells(plate, in, in, lines - 2 * in - 2, lines - 2 * in - 2);
    bool inside = true;
    for (QPointF& c : corners) {
      c = QPointF(std::round(c.x()), std::round(c.y()));
      inside = inside && c.x() >= 1 && c.y() >= 1 && c.x() <= plate.params.width - 2 &&
               c.y() <= plate.params.height - 2;
    }
    if (inside) return corners;
    if (first.empty()) first = corners;
  }
  return first;
}

void OpenAndMark(TVazeZududi_Form& form, ScriptedPlatform& desktop, const std::string& imagePath,
                 const std::vector<QPointF>& region) {
  desktop.openAnswers.push_back(imagePath);
  form.Begin1Click();
  std::vector<VT_Point> corners;
  for (const QPointF& c : region) corners.emplace_back(c.x(), c.y());
  form.AppendClosedRegion(corners);
}

}  // namespace qova
