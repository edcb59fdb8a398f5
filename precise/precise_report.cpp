// qova-precise-report: the accuracy table of the precise refinement on the
// standard rendered plates, with the detection's own run alone and with the
// precise stage after it: RMS error to the exact truth, crossings found of
// those expected, false points (and duplicates), median reported σ.
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "precise/precise_test_support.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  using namespace qova;
  using namespace qova::testing;
  std::printf("%-26s | %-30s | %-42s\n", "", "detection alone", "with the precise stage");
  std::printf("%-26s | %9s %9s %10s | %9s %9s %10s %10s\n", "plate", "RMS px", "found", "false/dup",
              "RMS px", "found", "false/dup", "median σ");
  for (const PlateCase& c : StandardPlates()) {
    if (argc > 1 && c.name.find(argv[1]) == std::string::npos) continue;
    const Plate plate = RenderPlate(c.params);
    const auto corners = PlateRegion(plate);
    const auto truth = TruthInside(plate, corners);
    const auto starts = SpecifiedRunPoints(plate.image, corners);
    const Score before = ScorePoints(truth, PointsOf(starts), {});
    const auto t0 = std::chrono::steady_clock::now();
    const PreciseResult r = RefinePrecise(plate.image, corners, starts);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const Score after = ScorePoints(truth, PointsOf(r), SigmasOf(r));
    char a[32], b[32], fa[32], fb[32];
    std::snprintf(a, sizeof a, "%d/%d", before.found, before.expected);
    std::snprintf(b, sizeof b, "%d/%d", after.found, after.expected);
    std::snprintf(fa, sizeof fa, "%d/%d", before.falsePoints, before.duplicates);
    std::snprintf(fb, sizeof fb, "%d/%d", after.falsePoints, after.duplicates);
    std::printf("%-26s | %9.4f %9s %10s | %9.4f %9s %10s %10.4f %s%s %.0f ms\n", c.name.c_str(),
                before.rms, a, fa, after.rms, b, fb, after.medianSigma,
                r.startedFromCorners ? "corners " : "", r.completed ? "" : r.message.c_str(), ms);
  }
  return 0;
}
