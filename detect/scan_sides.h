#pragma once
// The four directional scans: border points where grid lines cross the sides
// of a binarized region.

#include "core/search_region.h"
#include "detect/band.h"
#include "detect/grid_lines.h"
#include "detect/step_marker.h"
#include "state/detection_params.h"

namespace qova {

// Each scan steps a window of SearchWindowWidth × SearchWindowHeight along one
// side of region (four corners) over the mask and replaces its list of
// points with where the lines it crosses meet that side. In step mode each
// point is shown through marker as soon as it is found.
void ScanSide03(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints03);
void ScanSide12(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints12);
void ScanSide23(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints23);
void ScanSide01(const MaskView& mask, const SearchRegion& region, const DetectionParams& params,
                const StepMarker& marker, VT_Points& SidePoints01);

}  // namespace qova
