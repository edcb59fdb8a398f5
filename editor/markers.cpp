#include "editor/markers.h"
namespace qova {
// Being built.
void DrawOverlayMarker(StateRecord&, Color, int32_t, int32_t, int32_t) {}
void DrawPictureMarker(StateRecord&, Color, int32_t, int32_t) {}
void OverlayLine(StateRecord&, Color, int32_t, int32_t, int32_t, int32_t) {}
void PictureLine(StateRecord&, Color, int32_t, int32_t, int32_t, int32_t) {}
void RedrawOverlay(StateRecord&) {}
}  // namespace qova
