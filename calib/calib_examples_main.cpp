// Writes a model file and a report for a few calibrations of rendered point
// plates into a folder, for the test that checks them against the JSON
// Schemas in share/:
//
//   calib-examples FOLDER
#include <cstdio>
#include <string>

#include "calib/calib_error.h"
#include "calib/calibrate.h"
#include "calib/model_file.h"
#include "tests/support/calib_plates.h"

namespace {

using namespace qova;
using namespace qova::calib;

void Write(const std::string& folder, const std::string& name, const Calibration& c) {
  SaveModel(c.model, folder + "/" + name + ".model.json");
  SaveReport(c.report, folder + "/" + name + ".report.json");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: calib-examples FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  try {
    // Every family through auto, with dust, duplicates, missing crossings and
    // an outlier, the pitch known.
    {
      auto setup = test::StandardPlate("radial");
      setup.dust = 5, setup.duplicates = 0.02, setup.missing = 0.03;
      auto points = MakeLatticePoints(setup);
      // Duplicates reported at the same place; one crossing off by 0.5 px.
      for (size_t i = 1; i < points.size(); ++i)
        if (points[i].duplicate) points[i].x = points[i - 1].x, points[i].y = points[i - 1].y;
      points[40].x += 0.5;
      CalibrationInput in = test::InputOf(setup, points);
      CalibrationOptions options;
      options.pitch = {0.5, 0.5};
      Write(folder, "auto", Calibrate(in, options));
      for (const std::string& name : ModelNames()) {
        options.model = name;
        Write(folder, name, Calibrate(in, options));
      }
    }
    // The pitch unknown, no standard errors.
    {
      const auto setup = test::StandardPlate("stepping");
      CalibrationInput in = test::InputOf(setup, MakeLatticePoints(setup));
      in.sigma.clear();
      CalibrationOptions options;
      options.model = "spline";
      Write(folder, "cells", Calibrate(in, options));
    }
    // Two regions of the plate at 30° and a third of another plate.
    {
      auto setup = test::StandardPlate("rotated");
      const auto points = MakeLatticePoints(setup);
      CalibrationInput in;
      in.imageWidth = setup.distortion.width, in.imageHeight = setup.distortion.height;
      for (const auto& p : points) {
        if (p.column >= 12 && p.column < 14) continue;
        in.points.emplace_back(p.x, p.y);
        in.region.push_back(p.column < 12 ? 0 : 1);
      }
      auto other = test::StandardPlate("warp");
      other.columns = 6, other.rows = 6, other.distortion.angleDeg = 9;
      other.distortion.originX = 1500, other.distortion.originY = 1100;
      for (const auto& p : MakeLatticePoints(other))
        in.points.emplace_back(p.x, p.y), in.region.push_back(2);
      CalibrationOptions options;
      options.pitch = {1, 1.25};
      options.model = "projective";
      Write(folder, "regions", Calibrate(in, options));
    }
  } catch (const QovaError& e) {
    std::fprintf(stderr, "calib-examples: %s\n", e.what());
    return 1;
  }
  return 0;
}
