// Any bytes as a model file: the reader must refuse what is not a model file
// or is damaged with a CalibError, and what it accepts must evaluate, invert
// and write back to the same text. Nothing may crash or run away.
#include <cstdint>
#include <string>
#include <string_view>

#include "calib/calib_error.h"
#include "calib/model_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qova::calib;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const Model model = ModelFromText(text);
    for (const Vec2& uv : {Vec2(0, 0), Vec2(1.5, -2), Vec2(1e3, 1e3)}) {
      const Vec2 xy = model.ToImage(uv);
      (void)model.ToPlate(xy);
      (void)model.PredictSigmaAtPlate(uv);
      (void)model.Jacobian(uv);
    }
    const std::string written = ModelFileText(model);
    if (ModelFileText(ModelFromText(written)) != written) __builtin_trap();
  } catch (const CalibError&) {
  }
  return 0;
}
