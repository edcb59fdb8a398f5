// qova-precise-real: the precise stage on real grid plates, judged without
// ground truth by self-consistency (each crossing predicted from its
// neighbours by a local quadratic; bench/self_consistency.h), beside the
// figures the reference method and a common peer reached on the same
// plates (measured once, data/real/README.md of the shared folder).
//
//   qova-precise-real [FOLDER]   (default: the shared folder's data/real)
//
// Each plate runs as `qova-detect --precise` runs it: the detection's points
// of the region (its questions answered yes), then the precise stage.
#include <QGuiApplication>
#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/self_consistency.h"
#include "precise/precise_refinement.h"
#include "run/run_messages.h"
#include "tests/support/precise_test_support.h"

namespace {

struct RealPlate {
  const char* name;
  const char* file;
  std::vector<qova::VT_Point> corners;
  double reference, peer;  // their self-consistency, pixels
};

const std::vector<RealPlate>& Plates() {
  static const std::vector<RealPlate> plates = {
      {"line pattern, centre region",
       "line_pattern_01.jpg",
       {{969, 970}, {1592, 970}, {1592, 1531}, {969, 1531}},
       0.0257,
       0.0610},
      {"line pattern, wide region",
       "line_pattern_01.jpg",
       {{95, 96}, {2470, 96}, {2470, 2094}, {95, 2094}},
       0.0153,
       0.0497},
      {"10 x 10 grid",
       "10x10grid.png",
       {{150, 150}, {850, 150}, {850, 850}, {150, 850}},
       0.0005,
       0.0007},
  };
  return plates;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  const std::filesystem::path folder = argc > 1 ? argv[1] : QOVA_REAL_PLATES;
  std::printf("self-consistency (RMS of each crossing predicted from its neighbours), px\n");
  std::printf("%-30s %9s %9s %9s %9s %7s %8s %6s\n", "plate", "crossings", "program", "reference",
              "peer", "×ref", "median σ", "s");
  int done = 0;
  for (const RealPlate& p : Plates()) {
    const std::filesystem::path path = folder / p.file;
    const QImage image(QString::fromStdString(path.string()));
    if (image.isNull()) {
      std::printf("%-30s cannot read %s\n", p.name, path.string().c_str());
      continue;
    }
    const auto t0 = std::chrono::steady_clock::now();
    const auto starts = qova::testing::DetectionRunPoints(image, p.corners);
    const qova::PreciseResult r = qova::RefinePrecise(image, p.corners, starts);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!r.completed) {
      std::printf("%-30s %s\n", p.name, qova::PreciseFailureText(r).c_str());
      continue;
    }
    std::vector<qova::precise::Vec2> points;
    std::vector<double> sigmas;
    for (const qova::PrecisePoint& q : r.points)
      points.push_back({q.x, q.y}), sigmas.push_back(q.standardError);
    const auto s = qova::MeasureSelfConsistency(points);
    if (!s) {
      std::printf("%-30s %9zu  too few crossings for a lattice\n", p.name, points.size());
      continue;
    }
    std::sort(sigmas.begin(), sigmas.end());
    std::printf("%-30s %9d %9.6f %9.4f %9.4f %7.2f %8.5f %6.2f%s\n", p.name, s->points, s->leaveOut,
                p.reference, p.peer, s->leaveOut / p.reference, sigmas[sigmas.size() / 2], seconds,
                s->duplicates || s->indexed != s->points
                    ? "  (duplicates or crossings off the lattice)"
                    : "");
    ++done;
  }
  return done > 0 ? 0 : 1;
}
