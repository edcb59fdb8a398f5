#pragma once
// The editor of search regions on the overlay: corners placed by clicking,
// picked, dragged, nudged with the arrow keys and deleted with Ctrl+click.

#include <cstdint>

#include "state/state_record.h"

namespace qova {

// Other: back, forward and any further button; only its release matters,
// which ends a drag like every release.
enum class MouseButton { Left, Right, Middle, Other };

// Key codes the editor knows.
inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyLeft = 37;
inline constexpr int kKeyUp = 38;
inline constexpr int kKeyRight = 39;
inline constexpr int kKeyDown = 40;

void Image1MouseDown(StateRecord& s, MouseButton button, bool ctrl, int32_t x, int32_t y);
void CrossImage1MouseMove(StateRecord& s, bool ctrl, int32_t x, int32_t y);
void CrossImage1MouseUp(StateRecord& s, MouseButton button, bool ctrl, int32_t x, int32_t y);
// The arrow keys nudge the selected corner; other keys do nothing here (the
// main window handles Enter).
void EditorKeyDown(StateRecord& s, int key);
void EditorKeyUp(StateRecord& s, int key);

void MoveSelectedCorner(StateRecord& s, int32_t x, int32_t y);
void DeleteCornerAt(StateRecord& s, int32_t x, int32_t y);

}  // namespace qova
