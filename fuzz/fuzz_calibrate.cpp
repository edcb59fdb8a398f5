// Any bytes as crossings for a calibration: points (two bytes a coordinate,
// on a 0.25 px grid), their regions and σ, the model's name and the pitch.
// The indexing and every fit must cope with nonsense point sets: a result or
// a CalibError, never a crash or a runaway.
#include <cstdint>
#include <vector>

#include "calib/calib_error.h"
#include "calib/calibrate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qova::calib;
  // Layout: model (a byte, modulo the families and auto), pitch (a byte:
  // 0 unknown), then five bytes a point: x, y (two bytes each) and its
  // region (0..3) with a σ flag in the high bits.
  if (size < 2) return 0;
  const std::vector<std::string>& names = ModelNames();
  CalibrationOptions options;
  const size_t m = data[0] % (names.size() + 1);
  options.model = m == names.size() ? "auto" : names[m];
  options.pitch = data[1] ? Pitch{data[1] / 64.0, data[1] / 50.0} : Pitch{};
  options.fit.threads = 1;
  CalibrationInput in;
  in.imageWidth = in.imageHeight = 16384;
  for (size_t at = 2; at + 5 <= size && in.points.size() < 4000; at += 5) {
    in.points.emplace_back((data[at] | data[at + 1] << 8) / 4.0,
                           (data[at + 2] | data[at + 3] << 8) / 4.0);
    in.region.push_back(data[at + 4] & 3);
    in.sigma.push_back(data[at + 4] & 4 ? Vec2(NAN, NAN)
                                        : Vec2(0.001 * (data[at + 4] >> 3), 0.003));
  }
  try {
    const Calibration c = Calibrate(in, options);
    for (const PointCalibration& p : c.points) (void)c.model.ToPlate(p.plate);
  } catch (const CalibError&) {
  }
  return 0;
}
