// qova-precise-report: the accuracy table of the precise refinement on the
// standard rendered plates, with the detection's own run alone and with the
// precise stage after it: RMS error to the exact truth, crossings found of
// those expected, false points (more than 1.5 px from every true crossing
// in the region) and duplicates, the median reported σ, the stage's time.
//
//   qova-precise-report [NAME]   (only the plates whose name contains NAME)
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/run_messages.h"
#include "tests/support/precise_test_support.h"

namespace {

// The text padded to `width` characters on screen (UTF-8: count code points).
std::string Padded(const std::string& text, size_t width) {
  size_t shown = 0;
  for (unsigned char c : text) shown += (c & 0xC0) != 0x80;
  return text + std::string(shown < width ? width - shown : 0, ' ');
}

std::string Rms(const qova::testing::Score& s) {
  if (s.found == 0) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.5f", s.rms);
  return buf;
}

std::string Pair(int a, int b, const char* between) {
  return std::to_string(a) + between + std::to_string(b);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  using namespace qova;
  using namespace qova::testing;
  std::printf("%s| %-27s | %-45s\n", Padded("", 24).c_str(), "detection alone",
              "with the precise stage");
  std::printf("%s| %8s %8s %9s | %8s %8s %9s %9s %7s\n", Padded("plate", 24).c_str(), "RMS px",
              "found", "false/dup", "RMS px", "found", "false/dup", "median σ", "ms");
  for (const PlateCase& c : StandardPlates()) {
    if (argc > 1 && c.name.find(argv[1]) == std::string::npos) continue;
    const Plate plate = RenderPlate(c.params);
    const auto corners = PlateRegion(plate);
    const auto truth = TruthInside(plate, corners);
    const auto starts = DetectionRunPoints(plate.image, corners);
    const Score before = ScorePoints(truth, PointsOf(starts), {});
    const auto t0 = std::chrono::steady_clock::now();
    const PreciseResult r = RefinePrecise(plate.image, corners, starts);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const Score after = ScorePoints(truth, PointsOf(r), SigmasOf(r));
    std::printf("%s| %8s %8s %9s | %8s %8s %9s %9.5f %7.0f%s%s\n", Padded(c.name, 24).c_str(),
                Rms(before).c_str(), Pair(before.found, before.expected, "/").c_str(),
                Pair(before.falsePoints, before.duplicates, "/").c_str(), Rms(after).c_str(),
                Pair(after.found, after.expected, "/").c_str(),
                Pair(after.falsePoints, after.duplicates, "/").c_str(), after.medianSigma, ms,
                r.startedFromCorners ? "  (from the corners)" : "",
                r.completed ? "" : ("  " + PreciseFailureText(r)).c_str());
  }
  return 0;
}
