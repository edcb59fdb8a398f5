// qova-window-memory-bench: what the window holds of a scan, in bytes a
// pixel of the image. For each size a plate is rendered and saved, and a
// process of its own opens it in the real window (offscreen), fits it to
// the view, marks one region across the plate and finds its crossings.
// Every figure but the first is counted above the window's resident memory
// before the image is opened (the libraries, the fonts):
//   - open peak: the peak while the image is opened and the region marked
//     (drawn as the editor draws it), the file reader's own image included;
//   - shown: the resident memory afterwards, the plate on screen;
//   - record: what the window's record holds: the picture, its pyramid and
//     the layers; view: the reduced tiles the view keeps;
//   - run peak: the peak over the run (the run's own working arrays, the
//     boxes it reads, the image read again before the refinement); run
//     above shown: the part of it the run added to the window's memory;
//   - after the run: the resident memory and the record once it is over.
// The grey plate is an 8-bit BMP, --deep makes it a 16-bit PNG of 12-bit
// values, --colour a 24-bit one (held whole while rendered; up to 64 MP);
// 1024 MP is a plate of 32768 × 32768. The grey and deep plates are written
// row by row.
//
//   qova-window-memory-bench [--sizes 16,64,1024] [--colour | --deep] [--no-run]
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/gui/image_view.h"
#include "app/gui/main_window.h"
#include "app/gui/qt_platform.h"
#include "bench/bench_plate.h"
#include "bench/bench_support.h"
#include "editor/markers.h"
#include "tests/support/answering_platform.h"

namespace qova {
namespace {

namespace fs = std::filesystem;

// A field of /proc/self/status in bytes ("VmHWM", "VmRSS").
double StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string key = std::string(field) + ":";
  for (std::string line; std::getline(status, line);)
    if (line.rfind(key, 0) == 0) return std::atof(line.c_str() + key.size()) * 1024.0;
  return 0;
}

// The peak from here on: the kernel forgets the earlier one.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Row {
  double before = 0, openPeak = 0, shown = 0, record = 0, view = 0;
  double runPeak = 0, afterRun = 0, recordAfterRun = 0;
  int points = 0;
};

void Show(QApplication& app) {
  for (int i = 0; i < 3; ++i) app.processEvents();
}

// What the window's record holds of the image and its layers, and of a deep
// image's samples.
double RecordBytes(const TVazeZududi_Form& form) {
  return static_cast<double>(form.HeldImageBytes() +
                             (form.DeepImage ? form.DeepImage->HeldBytes() : 0));
}

// Opens, marks the region as the editor draws it, shows and runs in this
// process; the figures in bytes.
Row Measure(QApplication& app, const std::string& image, const std::vector<QPointF>& region,
            bool run) {
  Row row;
  // The run's questions answered yes, as qova-detect answers them: a
  // message box would wait for a person.
  AnsweringPlatform platform;
  TVazeZududi_Form form(platform);
  MainWindow window(form);
  platform.Attach(&window);
  window.resize(1280, 900);
  window.show();
  Show(app);

  row.before = StatusBytes("VmRSS");
  ResetPeak();
  form.OpenImageFromOutside(image);
  for (const std::string& e : platform.errors) std::fprintf(stderr, "error: %s\n", e.c_str());
  std::vector<VT_Point> corners;
  for (const QPointF& c : region) corners.emplace_back(c.x(), c.y());
  form.AppendClosedRegion(corners);
  RedrawOverlay(form);
  window.View()->ZoomToFit();
  Show(app);
  row.openPeak = StatusBytes("VmHWM");
  row.shown = StatusBytes("VmRSS");
  row.record = RecordBytes(form);
  row.view = static_cast<double>(window.View()->Layers()->HeldBytes());

  if (run) {
    ResetPeak();
    form.N4Click();
    Show(app);
    row.runPeak = StatusBytes("VmHWM");
    row.afterRun = StatusBytes("VmRSS");
    row.recordAfterRun = RecordBytes(form);
    row.points = form.FoundPoints.Count();
    for (const std::string& m : platform.messages) std::fprintf(stderr, "asked: %s\n", m.c_str());
  }
  platform.Attach(nullptr);
  return row;
}

enum class Kind { kGrey, kDeep, kColour };

// The plate of about mp million pixels (32768 × 32768 for 1024).
PlateParams PlateOf(int mp, Kind kind) {
  PlateParams params = BenchPlateParams(mp);
  if (mp == 1024) params.width = params.height = 32768;
  if (kind == Kind::kDeep) {
    // A 12-bit camera's levels, the same plate scaled.
    params.levels = 4095;
    params.background = params.background * 4095 / 255;
    params.ink = params.ink * 4095 / 255;
    params.noise = params.noise * 4095 / 255;
  }
  return params;
}

// Writes the plate into folder and returns the file and the region.
std::string RenderPlateFile(int mp, Kind kind, const fs::path& folder,
                            std::vector<QPointF>& region) {
  const PlateParams params = PlateOf(mp, kind);
  if (kind != Kind::kColour) {
    const bool deep = kind == Kind::kDeep;
    const fs::path file = folder / ("plate-" + std::to_string(mp) + (deep ? ".png" : ".bmp"));
    const Plate plate = WritePlate(params, file.string(),
                                   {deep ? WriteFormat::kPng : WriteFormat::kBmp, 1,
                                    deep ? SampleType::kUint16 : SampleType::kUint8});
    region = BenchRegion(plate);
    return file.string();
  }
  Plate plate = RenderPlate(params);
  region = BenchRegion(plate);
  for (int y = 0; y < plate.image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(plate.image.scanLine(y));
    for (int x = 0; x < plate.image.width(); ++x)
      row[x] = qRgb(qRed(row[x]), qGreen(row[x]) * 7 / 8, qBlue(row[x]) * 3 / 4);
  }
  const fs::path file = folder / ("plate-" + std::to_string(mp) + ".bmp");
  if (!plate.image.save(QString::fromStdString(file.string()), "BMP"))
    std::fprintf(stderr, "cannot write %s\n", file.string().c_str());
  return file.string();
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::vector<int> sizes = {16, 64};
  qova::Kind kind = qova::Kind::kGrey;
  bool run = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--sizes" && i + 1 < argc) {
      sizes = qova::ParseSizes(argv[++i]);
    } else if (arg == "--colour") {
      kind = qova::Kind::kColour;
    } else if (arg == "--deep") {
      kind = qova::Kind::kDeep;
    } else if (arg == "--no-run") {
      run = false;
    } else {
      sizes.clear();
    }
    if (sizes.empty()) {
      std::fprintf(stderr,
                   "usage: qova-window-memory-bench [--sizes 16,64,1024] [--colour | --deep] "
                   "[--no-run]\n");
      return 2;
    }
  }
  const qova::fs::path folder =
      qova::fs::temp_directory_path() / ("qova-window-memory-" + std::to_string(getpid()));
  qova::fs::create_directories(folder);
  std::printf("Window memory, %s plate, bytes a pixel of the image\n\n",
              kind == qova::Kind::kColour ? "24-bit colour"
              : kind == qova::Kind::kDeep ? "16-bit grey (12-bit values), PNG"
                                          : "8-bit grey, BMP");
  std::printf(
      "| image | before opening, MB | open peak | shown | record | view | run peak | run above "
      "shown | after the run | record after the run | points |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|\n");
  std::fflush(stdout);
  for (const int mp : sizes) {
    // Each size in a process of its own, so that its peak is its own.
    const pid_t child = fork();
    if (child == 0) {
      int qtArgc = 1;
      QApplication app(qtArgc, argv);
      std::vector<QPointF> region;
      const std::string file = qova::RenderPlateFile(mp, kind, folder, region);
      // A file that could not be written would stop the window at its error box.
      if (!qova::fs::exists(file) || qova::fs::file_size(file) == 0) {
        std::printf("| %d MP | the plate could not be written |\n", mp);
        std::_Exit(1);
      }
      const qova::PlateParams params = qova::PlateOf(mp, kind);
      const double pixels = static_cast<double>(params.width) * params.height;
      const qova::Row r = qova::Measure(app, file, region, run);
      auto cell = [&](double bytes) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", bytes / pixels);
        return std::string(text);
      };
      auto ran = [&](double bytes) { return run ? cell(bytes) : std::string("-"); };
      std::printf("| %d MP | %.0f | %s | %s | %s | %s | %s | %s | %s | %s | %d |\n", mp,
                  r.before / 1e6, cell(r.openPeak - r.before).c_str(),
                  cell(r.shown - r.before).c_str(), cell(r.record).c_str(), cell(r.view).c_str(),
                  ran(r.runPeak - r.before).c_str(), ran(r.runPeak - r.shown).c_str(),
                  ran(r.afterRun - r.before).c_str(), ran(r.recordAfterRun).c_str(), r.points);
      std::fflush(stdout);
      qova::fs::remove(file);
      std::_Exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      std::printf("| %d MP | did not finish (status %d) |\n", mp, status);
  }
  qova::fs::remove_all(folder);
  return 0;
}
