#include "core/qova_error.h"
#include "detect/grid_lines.h"
#include "detect/line_fit.h"
#include "detect/scan_sides.h"
namespace qova {
// Being built.
VT_Point FitLine(const VT_Points&) { throw QovaError("not built yet"); }
void CollectHorizontalBand(const StateRecord&, int32_t, VT_Points&, const VT_Point&, double, double, double, double) { throw QovaError("not built yet"); }
void CollectVerticalBand(const StateRecord&, int32_t, VT_Points&, const VT_Point&, double, double, double, double) { throw QovaError("not built yet"); }
void ScanSide03(StateRecord&, int32_t) { throw QovaError("not built yet"); }
void ScanSide12(StateRecord&, int32_t) { throw QovaError("not built yet"); }
void ScanSide23(StateRecord&, int32_t) { throw QovaError("not built yet"); }
void ScanSide01(StateRecord&, int32_t) { throw QovaError("not built yet"); }
bool ValidateLines(StateRecord&) { throw QovaError("not built yet"); }
void DrawGridLines(StateRecord&, Color) { throw QovaError("not built yet"); }
void FindCrossNodes(StateRecord&, int32_t) { throw QovaError("not built yet"); }
bool RefineCrossPoints(StateRecord&, int32_t) { throw QovaError("not built yet"); }
}  // namespace qova
