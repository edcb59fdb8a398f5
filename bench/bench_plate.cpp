#include "bench/bench_plate.h"

#include <cmath>

#include "app/platform/scripted_platform.h"

namespace qova {

PlateSpec BenchPlateSpec(int megapixels) {
  PlateSpec spec;
  const int side = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6)));
  spec.width = side;
  spec.height = side;
  spec.pitch = 100;
  spec.lineWidth = 3;
  spec.angleDeg = 1;
  spec.originX = 0.37;
  spec.originY = -0.21;
  spec.noise = 2;
  spec.seed = 11;
  return spec;
}

std::vector<QPointF> BenchRegion(const Plate& plate) {
  const int lines = static_cast<int>(plate.crossings.size());
  const int cells = lines - 4;  // one cell in from each side, crossings not on the border
  std::vector<QPointF> corners = RegionInCells(plate, 1, 1, cells, cells);
  for (QPointF& c : corners) c = QPointF(std::round(c.x()), std::round(c.y()));
  return corners;
}

void OpenAndMark(TVazeZududi_Form& form, ScriptedPlatform& desktop, const std::string& imagePath,
                 const std::vector<QPointF>& region) {
  desktop.openAnswers.push_back(imagePath);
  form.Begin1Click();
  auto r = std::make_unique<SearchRegion>(1);
  for (const QPointF& c : region) r->AddNew(c.x(), c.y());
  form.Regions.Append(std::move(r));
  form.RegionClosed = true;
  form.SetCommandStates(true, form.SaveEnabled);
}

}  // namespace qova
