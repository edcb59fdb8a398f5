// qova-calib-window-bench: what a calibration costs the window's interface
// thread beside what it costs its own thread. The fit (and the picture's
// content) runs off the interface thread; what the interface thread does
// with its outcome is the marks (indices and arrows), the distortion
// window's texts and a repaint of its picture. Each is timed alone, median
// of several runs, on point plates of a camera (radial) of several sizes.
//
//   qova-calib-window-bench [--points N,N,...] [--runs N]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/calibration_job.h"
#include "bench/bench_support.h"
#include "editor/analysis_marks.h"
#include "editor/layer_pixels.h"
#include "output/distortion_form.h"
#include "platform/scripted_platform.h"
#include "synth/lattice_distortion.h"

namespace qova {
namespace {

calib::CalibrationInput PointPlate(int points) {
  LatticePlateParams setup;
  const int side = static_cast<int>(std::lround(std::sqrt(points)));
  setup.columns = setup.rows = side;
  LatticeDistortion& d = setup.distortion;
  d.pitchX = d.pitchY = 50;
  d.width = d.height = 50 * side + 200;
  d.angleDeg = 1, d.tiltX = 0.03, d.tiltY = -0.02, d.k1 = -0.01, d.k2 = 0.003;
  setup.noise = 0.004;
  calib::CalibrationInput in;
  in.imageWidth = d.width, in.imageHeight = d.height;
  for (const LatticePoint& p : MakeLatticePoints(setup)) {
    in.points.emplace_back(p.x, p.y);
    in.sigma.emplace_back(0.004, 0.004);
  }
  return in;
}

void Measure(int points, const std::string& model, int runs) {
  const calib::CalibrationInput in = PointPlate(points);
  calib::CalibrationOptions options;
  options.model = model;
  options.pitch = {0.5, 0.5};
  const CalibrationWork work = CalibrateWork(in, options, DistortionContent{});
  const std::atomic<bool> stop{false};
  CalibrationOutcome outcome;
  const double fit = MedianSeconds(runs, [&] { outcome = work(stop); });
  if (!outcome.content) {
    std::printf("%d points, %s: no model (%s)\n", points, model.c_str(), outcome.message.c_str());
    return;
  }
  const calib::Calibration& c = *outcome.content->calibration;
  ScriptedPlatform desktop;
  StateRecord s(desktop);
  s.ImageWidth = in.imageWidth, s.ImageHeight = in.imageHeight;
  std::vector<PointMark> marks;
  for (size_t i = 0; i < c.points.size(); ++i)
    marks.push_back({in.points[i].x(), in.points[i].y(), c.points[i].crossing >= 0,
                     c.points[i].column, c.points[i].row, c.points[i].residual.x(),
                     c.points[i].residual.y(), c.points[i].outlier});
  const MarkOptions both{true, true, outcome.content->picture.cellPixels};
  const double draw = MedianSeconds(runs, [&] { DrawAnalysisMarks(s, marks, both); });
  // A full-screen part of the view at 1:1, with the marks over it.
  const QRect part(0, 0, std::min(1920, s.ImageWidth), std::min(1080, s.ImageHeight));
  const double view = MedianSeconds(runs, [&] { (void)OverlayPart(s, part); });
  TDistortionForm form(s);
  const double texts = MedianSeconds(runs, [&] { form.Show(outcome.content); });
  QImage picture(900, 640, QImage::Format_RGB32);
  double paint[2];
  for (const PictureKind kind : {PictureKind::Residuals, PictureKind::Nonlinearity})
    paint[static_cast<int>(kind)] = MedianSeconds(runs, [&] {
      QPainter painter(&picture);
      PaintDistortionPicture(painter, QRectF(picture.rect()), outcome.content->picture, kind, '.');
    });
  std::printf(
      "%6zu points %-7s fit %8.1f ms (own thread) | interface thread: marks %5.1f ms (%zu "
      "shapes, %zu KB), overlay 1920x1080 %5.1f ms, window texts %4.1f ms, picture %5.1f / "
      "%5.1f ms\n",
      in.points.size(), model.c_str(), 1e3 * fit, 1e3 * draw, s.CrossImage1.marks.Shapes().size(),
      s.CrossImage1.marks.HeldBytes() / 1024, 1e3 * view, 1e3 * texts, 1e3 * paint[0],
      1e3 * paint[1]);
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  std::vector<int> sizes = {900, 3600, 14400};
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--points" && i + 1 < argc) {
      sizes.clear();
      for (const char* p = argv[++i]; *p != '\0';) {
        char* end = nullptr;
        const long v = std::strtol(p, &end, 10);
        if (end == p || v < 100 || v > 1000000) return 2;
        sizes.push_back(static_cast<int>(v));
        p = *end == ',' ? end + 1 : end;
      }
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: qova-calib-window-bench [--points N,N,...] [--runs N]\n");
      return 2;
    }
  }
  for (const int points : sizes)
    for (const char* model : {"radial", "spline", "auto"}) qova::Measure(points, model, runs);
  return 0;
}
