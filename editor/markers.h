#pragma once
// The cross markers and lines of both layers and the full redraw of the
// overlay. Each drawing is kept on its layer as a shape (state/layers.h);
// the view draws the shapes over the part it shows.

#include <QRect>
#include <QRegion>
#include <cstdint>
#include <optional>

#include "state/state_record.h"

namespace qova {

// The text cell of a marker's label on the overlay: its top-left corner at
// (x + 10, y + CrossSize - 10), as wide and high as the number's text in
// IndexFont. nullopt when it lies wholly outside the overlay or no fonts are
// available (no GUI application).
std::optional<QRect> LabelCell(const StateRecord& s, int32_t x, int32_t y, int32_t label);

// A cross on the overlay, with the label drawn in IndexFont unless label is -1.
void DrawOverlayMarker(StateRecord& s, Color color, int32_t x, int32_t y, int32_t label);

// The same cross in the picture layer, never labelled.
void DrawPictureMarker(StateRecord& s, Color color, int32_t x, int32_t y);

// A one-pixel line on the overlay in the pen colour, the end point not drawn.
void OverlayLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// A one-pixel line in the picture layer, the end point not drawn.
void PictureLine(StateRecord& s, Color color, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// A grid line across the whole picture layer: the pixel at the rounded
// y = slope·x + offset of every column x (rows), or at the rounded
// x = slope·y + offset of every row y.
void PictureGridLine(StateRecord& s, Color color, bool rows, double slope, double offset);

// Clears the overlay and draws every region: numbered corner markers and the
// closed outline.
void RedrawOverlay(StateRecord& s);

// The same as RedrawOverlay, and the image pixels whose colour it can have
// changed since the last full redraw: the markers and edges of corners that
// moved, and what was drawn on top since. nullopt when it cannot tell what
// changed (a region or corner added or removed, new marker settings, the
// overlay changed elsewhere), and then it drew nothing.
std::optional<QRegion> RedrawOverlayChanges(StateRecord& s);

// The image pixels drawn on the overlay since its last full or partial
// redraw; nullopt when it cannot tell (then anything may have changed).
std::optional<QRegion> OverlayDrawnSinceRedraw(const StateRecord& s);

// The image pixels a marker with this label can cover.
QRegion MarkerArea(const StateRecord& s, int32_t x, int32_t y, int32_t label);

}  // namespace qova
