// Any bytes as an image file: opened as the window opens it, then a detection
// run over a region derived from the input. Nothing may crash, read outside
// an image or array, or run away, with the precise stage or without.
#include <unistd.h>

#include <QImageReader>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/form.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qova;
  if (size < 8) return 0;
  static FuzzFolder folder;
  const std::string path = folder.Write("input.img", data, size - 8);
  // Keep each input fast: the detection itself is exercised on small images.
  const QSize declared = QImageReader(QString::fromStdString(path)).size();
  if (declared.isValid() && static_cast<int64_t>(declared.width()) * declared.height() > 1 << 18)
    return 0;

  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  desktop.openAnswers.push_back(path);
  form.Guarded([&] { form.Begin1Click(); });
  if (form.ImageWidth == 0) return 0;
  AddRegionFromBytes(form, data + size - 8);
  form.PreciseRefinement = (data[size - 8] & 1) != 0;  // half the inputs with the precise stage
  form.Guarded([&] { form.N4Click(); });
  return 0;
}
