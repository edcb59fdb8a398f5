// Fits one family (or auto) to indexed crossings read from standard input,
// for the test that holds the fits to the reference implementation of the
// method:
//
//   calib-fit MODEL WIDTH HEIGHT < POINTS
//
// POINTS: one crossing a line, "u v x y weight column row"; probe lines
// "probe u v" ask for the model's image of those plate points. Writes a JSON
// object: the family fitted, its RMS, CV RMS and number of parameters, the
// robust outliers, and the probes' images with their standard errors.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "calib/calib_error.h"
#include "calib/fit.h"
#include "calib/json.h"

int main(int argc, char** argv) {
  using namespace qova::calib;
  if (argc != 4) {
    std::fprintf(stderr, "usage: calib-fit MODEL WIDTH HEIGHT < POINTS\n");
    return 2;
  }
  FitData data;
  data.pitch = {1, 1};
  data.imageWidth = std::atoi(argv[2]), data.imageHeight = std::atoi(argv[3]);
  std::vector<Vec2> probes;
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    if (line.rfind("probe", 0) == 0) {
      std::string word;
      double u, v;
      in >> word >> u >> v;
      probes.emplace_back(u, v);
      continue;
    }
    double u, v, x, y, w;
    int c, r;
    if (!(in >> u >> v >> x >> y >> w >> c >> r)) continue;
    data.uv.emplace_back(u, v), data.xy.emplace_back(x, y), data.weight.push_back(w);
    data.cell.push_back({c, r});
  }
  try {
    const std::string name = argv[1];
    FitResult fit;
    if (name == "auto") {
      AutoResult a = FitAuto(data);
      fit = a.candidates[static_cast<size_t>(a.chosen)].fit;
    } else {
      fit = FitModel(*ParseModelKind(name), data);
    }
    Json out = Json::Object();
    out.Set("model", fit.model.Name());
    out.Set("rms", fit.rms);
    out.Set("cv_rms", fit.cvRms);
    out.Set("parameters", fit.parameters);
    out.Set("lambda", fit.model.data().spline.lambda);
    Json outliers = Json::Array();
    for (size_t i = 0; i < fit.outlier.size(); ++i)
      if (fit.outlier[i]) outliers.Push(static_cast<int>(i));
    out.Set("outliers", std::move(outliers));
    Json images = Json::Array(), sigmas = Json::Array();
    for (const Vec2& p : probes) {
      const Vec2 xy = fit.model.ToImage(p), s = fit.model.PredictSigmaAtPlate(p);
      images.Push(Json::Numbers({xy.x(), xy.y()}));
      sigmas.Push(Json::Numbers({s.x(), s.y()}));
    }
    out.Set("probes", std::move(images));
    out.Set("probe_sigma", std::move(sigmas));
    std::cout << out.Write();
  } catch (const CalibError& e) {
    std::fprintf(stderr, "calib-fit: %s\n", e.what());
    return 1;
  }
  return 0;
}
