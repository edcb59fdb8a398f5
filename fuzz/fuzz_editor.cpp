// Random sequences of presses, moves, releases and keys on the region editor
// of a small image, with the editor's invariants checked after every event.
#include <cstdint>
#include <cstdlib>

#include "app/form.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckInvariants(const qova::TVazeZududi_Form& form) {
  const bool none = form.SelectedRegion == -1 && form.SelectedCorner == -1;
  bool valid = false;
  if (form.SelectedRegion >= 0 && form.SelectedRegion < form.Regions.Length()) {
    const auto& region = *form.Regions[form.SelectedRegion];
    valid = form.SelectedCorner >= 0 && form.SelectedCorner < region.Count();
  }
  if (!none && !valid) std::abort();  // a selection that names no corner
  if (!form.RegionClosed && form.Regions.Length() == 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qova;
  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  OpenBlankImage(form, 64, 48);
  for (size_t i = 0; i + 3 <= size; i += 3) {
    const uint8_t kind = data[i] % 6;
    const bool ctrl = data[i] & 0x80;
    // Positions reach a little past the image on every side.
    const int x = static_cast<int>(data[i + 1] % 80) - 8;
    const int y = static_cast<int>(data[i + 2] % 64) - 8;
    const MouseButton button = (data[i] & 0x40) ? MouseButton::Right : MouseButton::Left;
    switch (kind) {
      case 0:
        form.Guarded([&] { form.Image1MouseDown(button, ctrl, x, y); });
        break;
      case 1:
      case 2:
        form.Guarded([&] { form.CrossImage1MouseMove(ctrl, x, y); });
        break;
      case 3:
        form.Guarded([&] { form.CrossImage1MouseUp(button, ctrl, x, y); });
        break;
      case 4:
        form.Guarded([&] { form.FormKeyDown(37 + data[i + 1] % 4); });
        break;
      case 5:
        form.Guarded([&] { form.FormKeyUp(37 + data[i + 1] % 4); });
        break;
    }
    if (!desktop.errors.empty()) std::abort();  // the editor reports nothing
    CheckInvariants(form);
  }
  return 0;
}
