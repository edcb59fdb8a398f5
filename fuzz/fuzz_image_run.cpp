// Any bytes as an image file: opened as the window opens it, then a detection
// run over a region derived from the input; and read as qova-detect and
// Python read it, streamed at its own depth, then the same run. Nothing may
// crash, read outside an image or array, or run away, with the precise stage
// or without.
#include <unistd.h>

#include <QImageReader>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/form.h"
#include "fuzz/fuzz_support.h"
#include "run/detect_crossings.h"
#include "run/image_source.h"
#include "run/regions.h"
#include "run/script_observer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qova;
  if (size < 8) return 0;
  static FuzzFolder folder;
  const std::string path = folder.Write("input.img", data, size - 8);
  // Keep each input fast: the detection itself is exercised on small images.
  const QSize declared = QImageReader(QString::fromStdString(path)).size();
  if (declared.isValid() && static_cast<int64_t>(declared.width()) * declared.height() > 1 << 18)
    return 0;

  const bool precise = (data[size - 8] & 1) != 0;  // half the inputs with the precise stage
  try {
    const auto source = OpenImageSource(path);
    const ImageInfo& info = source->Info();
    if (info.width > 0 && info.height > 0 && info.width * info.height <= 1 << 18) {
      CheckBeforeRun(*source);
      const uint8_t* b = data + size - 8;
      std::vector<RegionCorners> corners(1);
      for (int k = 0; k < 4; ++k) {
        corners[0][size_t(2 * k)] = static_cast<double>(b[2 * k] % info.width);
        corners[0][size_t(2 * k + 1)] = static_cast<double>(b[2 * k + 1] % info.height);
      }
      DetectionParams params;
      params.PreciseRefinement = precise;
      ScriptObserver observer(true);
      (void)DetectCrossings(*source, MarkedRegions(corners), params, observer);
    }
  } catch (const QovaError&) {
  }

  ScriptedPlatform desktop;
  TVazeZududi_Form form(desktop);
  desktop.openAnswers.push_back(path);
  form.Guarded([&] { form.Begin1Click(); });
  if (form.ImageWidth == 0) return 0;
  AddRegionFromBytes(form, data + size - 8);
  form.PreciseRefinement = precise;
  form.Guarded([&] { form.N4Click(); });
  return 0;
}
