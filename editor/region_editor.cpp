#include "editor/region_editor.h"
namespace qova {
// Being built.
void Image1MouseDown(StateRecord&, MouseButton, bool, int32_t, int32_t) {}
void CrossImage1MouseMove(StateRecord&, bool, int32_t, int32_t) {}
void CrossImage1MouseUp(StateRecord&, MouseButton, bool, int32_t, int32_t) {}
void EditorKeyDown(StateRecord&, int) {}
void EditorKeyUp(StateRecord&, int) {}
void MoveSelectedCorner(StateRecord&, int32_t, int32_t) {}
void DeleteCornerAt(StateRecord&, int32_t, int32_t) {}
}  // namespace qova
