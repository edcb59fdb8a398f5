#pragma once
// The plates of the benchmark: square, about 100 px pitch, turned by 1°, with
// one region covering most of the plate. Deterministic, so that a test can
// hold the coordinate file of the 1 MP plate fixed while the run gets faster.

#include <QPointF>
#include <string>
#include <vector>

#include "app/form.h"
#include "platform/scripted_platform.h"
#include "synth/synthetic_plate.h"

namespace qova {

// A plate of about `megapixels` million pixels.
PlateParams BenchPlateParams(int megapixels);

// The region: whole-pixel corners in the middle of cells, one cell in from
// every side of the plate (more, where the plate's turn would carry those
// corners off the image).
std::vector<QPointF> BenchRegion(const Plate& plate);

// Opens the image file in the form as the window does (open dialog answered
// with the path) and marks the region as if clicked and closed.
void OpenAndMark(TVazeZududi_Form& form, ScriptedPlatform& desktop, const std::string& imagePath,
                 const std::vector<QPointF>& region);

}  // namespace qova
