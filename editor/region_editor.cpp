#include "editor/region_editor.h"

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "core/checked_math.h"
#include "editor/markers.h"

namespace qova {

namespace {

// What a plain left press does depends on the editor's state and on the
// corner the pick returns:
//
//   state     | picks nothing          | picks a corner 0            | picks another corner
//   ----------+------------------------+-----------------------------+---------------------
//   Closed    | starts a new region    | selects it                  | selects it
//   Building  | adds a corner to the   | closes the last region when | selects it
//             | last region            | within CrossSize of its     |
//             |                        | corner 0, else adds a       |
//             |                        | corner; the pick stays      |
//             |                        | selected                    |
//
// Every release clears Dragging; in the Building state a release that finds
// four corners closes the region. Ctrl+click deletes in both states.
enum class EditorState { Closed, Building };

// Building means the last region is under construction. A record that has
// never had a region is Closed whatever RegionClosed says, so the first click
// always has a region to put its corner in.
EditorState StateOf(const StateRecord& s) {
  return (!s.RegionClosed && s.Regions.Length() > 0) ? EditorState::Building : EditorState::Closed;
}

constexpr double kDeleteHalfWidth = 10.0;
constexpr int32_t kAutoCloseCorners = 4;

// A corner: its region's index in Regions and its index in the region.
struct CornerRef {
  int32_t region = -1;
  int32_t corner = -1;
  bool found() const { return region != -1; }
};

// Visits every corner in list order and returns the last one that matches, so
// of two overlapping corners the later one wins.
template <class Matches>
CornerRef LastCornerWhere(const StateRecord& s, Matches matches) {
  CornerRef last;
  for (int32_t i = 0; i < s.Regions.Length(); ++i) {
    const SearchRegion& region = *s.Regions[i];
    for (int32_t j = 0; j < region.Count(); ++j)
      if (matches(*region.Get(j))) last = {i, j};
  }
  return last;
}

// The pick square of presses: both differences below CrossSize.
CornerRef PickAt(const StateRecord& s, int32_t x, int32_t y) {
  const double half = s.CrossSize;
  return LastCornerWhere(
      s, [&](const VT_Point& c) { return std::fabs(c.x - x) < half && std::fabs(c.y - y) < half; });
}

// The hover square: the same, on differences truncated toward zero.
CornerRef HoverAt(const StateRecord& s, int32_t x, int32_t y) {
  const int64_t half = s.CrossSize;
  return LastCornerWhere(s, [&](const VT_Point& c) {
    const int64_t dx = Trunc(c.x - x);
    const int64_t dy = Trunc(c.y - y);
    return (dx < 0 ? -dx : dx) < half && (dy < 0 ? -dy : dy) < half;
  });
}

// The delete square: 10 pixels whatever CrossSize is.
CornerRef DeletePickAt(const StateRecord& s, int32_t x, int32_t y) {
  return LastCornerWhere(s, [&](const VT_Point& c) {
    return std::fabs(c.x - x) < kDeleteHalfWidth && std::fabs(c.y - y) < kDeleteHalfWidth;
  });
}

struct Pixel {
  int32_t x;
  int32_t y;
};

Pixel CornerPixel(const SearchRegion& region, int32_t corner) {
  const VT_Point* p = region.Get(corner);
  return {Trunc(p->x), Trunc(p->y)};
}

void Edge(StateRecord& s, Color color, Pixel from, Pixel to) {
  OverlayLine(s, color, from.x, from.y, to.x, to.y);
}

// The selected corner's marker with its number: ActiveColor highlights it,
// PassiveColor takes the highlight back.
void DrawSelectedCorner(StateRecord& s, Color color) {
  const Pixel c = CornerPixel(*s.Regions[s.SelectedRegion], s.SelectedCorner);
  DrawOverlayMarker(s, color, c.x, c.y, s.SelectedCorner + 1);
}

// Closes the region under construction: the edge from its last corner back
// to corner 0, and detection becomes possible.
void CloseLastRegion(StateRecord& s) {
  const SearchRegion& region = *s.Regions[s.Regions.Length() - 1];
  s.RegionClosed = true;
  if (region.Count() > 0)
    Edge(s, s.PassiveColor, CornerPixel(region, 0), CornerPixel(region, region.Count() - 1));
  s.RegionMarked = true;
  s.UpdateActions();
}

// Whether (x, y) lies within the close radius of the region's first corner,
// measured as a straight distance. A region without corners is never closed.
bool NearFirstCorner(const SearchRegion& region, int32_t x, int32_t y, int32_t radius) {
  if (region.Count() == 0) return false;
  const VT_Point* first = region.Get(0);
  const double dx = x - first->x;
  const double dy = y - first->y;
  return Sqrt(dx * dx + dy * dy) < radius;
}

// A press that goes to the region under construction: near its corner 0 it
// closes the region, anywhere else it adds a corner.
void PressOnLastRegion(StateRecord& s, int32_t x, int32_t y) {
  SearchRegion& region = *s.Regions[s.Regions.Length() - 1];
  if (NearFirstCorner(region, x, y, s.CrossSize)) {
    CloseLastRegion(s);
    return;
  }
  region.AddNew(x, y);
  const int32_t n = region.Count();
  DrawOverlayMarker(s, s.PassiveColor, x, y, n);
  if (n >= 2) Edge(s, s.PassiveColor, CornerPixel(region, n - 2), CornerPixel(region, n - 1));
}

void StartRegion(StateRecord& s) {
  s.Regions.Append(std::make_unique<SearchRegion>(1));
  s.RegionClosed = false;
}

std::string CornerHint(const char* what, int32_t x, int32_t y) {
  return std::string(what) + std::to_string(x) + " - " + std::to_string(y) + "    ";
}

// Keeps a coordinate one pixel inside the image. An image of fewer than three
// pixels has no such range; the coordinate then stays on the image at least,
// so no stage is handed a corner outside it.
int32_t ClampCoordinate(int32_t v, int32_t size) {
  int32_t r = v;
  if (v < 1)
    r = 1;
  else if (int64_t{v} > int64_t{size} - 2)
    r = size - 2;
  if (r > size - 1) r = size - 1;
  if (r < 0) r = 0;
  return r;
}

// Puts on the screen what a press, a release or a key drew: only those
// pixels when the overlay's note can tell them.
void RepaintDrawn(StateRecord& s) {
  if (const std::optional<QRegion> drawn = OverlayDrawnSinceRedraw(s))
    s.Desktop.RepaintImageRegion(*drawn);
  else
    s.Desktop.Repaint();
}

}  // namespace

void Image1MouseDown(StateRecord& s, MouseButton button, bool ctrl, int32_t x, int32_t y) {
  if (s.ImageWidth == 0 || button != MouseButton::Left) return;
  if (ctrl) {
    DeleteCornerAt(s, x, y);  // Dragging stays as it was
    return;
  }
  s.Dragging = true;
  const CornerRef picked = PickAt(s, x, y);
  s.SelectedRegion = picked.region;
  s.SelectedCorner = picked.corner;

  switch (StateOf(s)) {
    case EditorState::Closed:
      if (picked.found()) {
        DrawSelectedCorner(s, s.ActiveColor);
      } else {
        StartRegion(s);
        PressOnLastRegion(s, x, y);
      }
      break;
    case EditorState::Building:
      if (picked.found() && picked.corner > 0)
        DrawSelectedCorner(s, s.ActiveColor);
      else
        PressOnLastRegion(s, x, y);  // a picked corner 0 stays selected
      break;
  }
  RepaintDrawn(s);
}

void CrossImage1MouseMove(StateRecord& s, bool ctrl, int32_t x, int32_t y) {
  if (s.Dragging && !ctrl) MoveSelectedCorner(s, x, y);  // Ctrl freezes the drag
  s.Desktop.SetStatusText(0, "X= " + std::to_string(x));
  s.Desktop.SetStatusText(1, "Y= " + std::to_string(y));
  const CornerRef hover = HoverAt(s, x, y);
  if (!hover.found()) {
    s.Desktop.SetStatusText(2, CornerHint("Отметить угол области поиска: ", x, y));
    return;
  }
  const Pixel c = CornerPixel(*s.Regions[hover.region], hover.corner);
  s.Desktop.SetStatusText(
      2, CornerHint(ctrl ? "Удалить угол области поиска: " : "Угол области поиска: ", c.x, c.y));
}

void CrossImage1MouseUp(StateRecord& s, MouseButton, bool, int32_t, int32_t) {
  s.Dragging = false;
  if (StateOf(s) == EditorState::Building &&
      s.Regions[s.Regions.Length() - 1]->Count() == kAutoCloseCorners) {
    s.SelectedRegion = s.Regions.Length() - 1;
    s.SelectedCorner = 0;
    CloseLastRegion(s);
  }
  if (s.SelectedRegion != -1) DrawSelectedCorner(s, s.PassiveColor);
  RepaintDrawn(s);
}

void EditorKeyDown(StateRecord& s, int key) {
  if (key < kKeyLeft || key > kKeyDown || s.SelectedRegion == -1) return;
  const Pixel c = CornerPixel(*s.Regions[s.SelectedRegion], s.SelectedCorner);
  switch (key) {
    case kKeyLeft:
      MoveSelectedCorner(s, c.x - 1, c.y);
      break;
    case kKeyUp:
      MoveSelectedCorner(s, c.x, c.y - 1);
      break;
    case kKeyRight:
      MoveSelectedCorner(s, c.x + 1, c.y);
      break;
    case kKeyDown:
      MoveSelectedCorner(s, c.x, c.y + 1);
      break;
  }
}

void EditorKeyUp(StateRecord& s, int) {
  if (s.SelectedRegion == -1) return;
  DrawSelectedCorner(s, s.PassiveColor);
  RepaintDrawn(s);
}

void MoveSelectedCorner(StateRecord& s, int32_t x, int32_t y) {
  if (s.SelectedRegion == -1) return;
  VT_Point* corner = s.Regions[s.SelectedRegion]->Get(s.SelectedCorner);
  corner->x = ClampCoordinate(x, s.ImageWidth);
  corner->y = ClampCoordinate(y, s.ImageHeight);
  // A drag or a nudge moves one corner: only its marker, its two edges and
  // the highlight drawn since are redrawn, and only they are repainted, so
  // that a move costs the same on a scan of any size.
  const std::optional<QRegion> changed = RedrawOverlayChanges(s);
  if (!changed) RedrawOverlay(s);
  DrawSelectedCorner(s, s.ActiveColor);
  if (changed) {
    const Pixel c = CornerPixel(*s.Regions[s.SelectedRegion], s.SelectedCorner);
    s.Desktop.RepaintImageRegion(*changed + MarkerArea(s, c.x, c.y, s.SelectedCorner + 1));
  } else {
    s.Desktop.Repaint();
  }
}

void DeleteCornerAt(StateRecord& s, int32_t x, int32_t y) {
  const CornerRef hit = DeletePickAt(s, x, y);
  if (!hit.found()) return;
  SearchRegion& region = *s.Regions[hit.region];
  const int32_t n = region.Count();
  const int32_t c = hit.corner;
  const Pixel corner = CornerPixel(region, c);

  // Erase the corner and its edges in white.
  DrawOverlayMarker(s, kWhite, corner.x, corner.y, c + 1);
  const int32_t p = c == 0 ? n - 1 : c - 1;  // always a corner: n >= 1
  Edge(s, kWhite, CornerPixel(region, p), corner);
  int32_t q = c + 1;
  if (q == n && s.RegionClosed) q = 0;
  if (q < n) Edge(s, kWhite, CornerPixel(region, q), corner);
  // Bridge the gap, except while the only region is still being built; the
  // next full redraw shows every outline closed in any case.
  if (q < n && (s.RegionClosed || s.Regions.Length() > 1))
    Edge(s, s.PassiveColor, CornerPixel(region, p), CornerPixel(region, q));

  region.Delete(c);
  if (region.Count() == 0) {
    s.Regions.RemoveAt(hit.region);
    s.RegionClosed = true;
  }
  s.SelectedRegion = -1;
  s.SelectedCorner = -1;
  RepaintDrawn(s);
}

}  // namespace qova
