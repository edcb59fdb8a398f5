// Any bytes as a settings file, read with ReadSettings, then a detection run
// on a small synthetic plate with the settings it produced (zero, negative
// and huge window sizes, NaN-producing values, odd fragment counts).
#include <cstdint>
#include <string>

#include "app/form.h"
#include "fuzz/fuzz_support.h"
#include "settings/settings_file.h"
#include "synth/synthetic_plate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qova;
  static FuzzFolder folder;
  static const std::string plate = [] {
    PlateParams params;
    params.width = 160;
    params.height = 140;
    params.pitch = 30;
    params.angleDeg = 2;
    const std::string path = folder.Path("plate.bmp");
    RenderPlate(params).image.save(QString::fromStdString(path), "BMP");
    return path;
  }();
  const std::string ini = folder.Write("settings.ini", data, size);

  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  desktop.openAnswers.push_back(plate);
  form.Guarded([&] { form.Begin1Click(); });
  if (form.ImageWidth == 0) return 0;
  form.Guarded([&] { ReadSettings(form, ini); });
  // Step mode stays as the file sets it: its pictures draw the mask and the
  // lines, and the scripted platform confirms every step.
  const uint8_t corners[8] = {30, 25, 135, 28, 132, 118, 28, 115};
  AddRegionFromBytes(form, corners);
  form.Guarded([&] { form.N4Click(); });
  return 0;
}
