// The undistortion's benchmark, the C++ half (bench/undistort_bench.py runs
// it and the peer side by side): for each size it renders a plate (the
// benchmark's plain plate, written as 8-bit PGM), fits a camera-like radial
// model for an image of that size and saves it, times Undistort in this
// process (map included) for each interpolation, and computes the same map
// for the peer, timed on its own and written as two float32 files (x, y;
// row by row), so that the peer samples exactly the points this program does.
//
//   qova-undistort-bench DIR [--sizes 16,64] [--runs 5] [--threads 0]
//
// Prints one JSON object a line.
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_plate.h"
#include "calib/fit.h"
#include "calib/model_file.h"
#include "calib/undistort.h"
#include "image/image_writer.h"
#include "synth/lattice_distortion.h"

namespace {

using namespace qova;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The CPU time of the whole process (every thread's): on a machine shared
// with other work it moves far less than the wall time.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A radial model (tilt, k1, k2) fitted to the exact crossings of a lattice
// over the whole image, 0.1 mm pitch.
calib::Model CameraModel(int width, int height) {
  LatticePlateParams setup;
  LatticeDistortion& d = setup.distortion;
  d.width = width, d.height = height;
  d.pitchX = d.pitchY = width / 40.0;
  d.originX = d.pitchX / 2, d.originY = d.pitchY / 2;
  d.angleDeg = 1, d.tiltX = 0.03, d.tiltY = 0.02, d.k1 = -0.012, d.k2 = 0.004;
  setup.columns = 40, setup.rows = static_cast<int>(height / d.pitchY);
  calib::FitData data;
  data.pitch = {0.1, 0.1};
  data.imageWidth = width, data.imageHeight = height;
  for (const LatticePoint& p : MakeLatticePoints(setup)) {
    data.uv.emplace_back(p.column * 0.1, p.row * 0.1);
    data.xy.emplace_back(p.x, p.y);
    data.weight.push_back(1);
    data.cell.push_back({p.column, p.row});
  }
  return calib::FitModel(*calib::ParseModelKind("radial"), data).model;
}

std::vector<uint8_t> GreyOf(const QImage& image) {
  std::vector<uint8_t> grey(static_cast<size_t>(image.width()) * image.height());
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      grey[static_cast<size_t>(y) * image.width() + x] = static_cast<uint8_t>(qRed(row[x]));
  }
  return grey;
}

void WritePgm(const std::string& path, const std::vector<uint8_t>& grey, int w, int h) {
  WriteSpec spec;
  spec.format = WriteFormat::kPnm, spec.width = w, spec.height = h;
  ImageWriter writer(path, spec);
  writer.WriteRows(grey.data(), h, static_cast<size_t>(w));
  writer.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: qova-undistort-bench DIR [--sizes 16,64] [--runs 5] [--threads 0]\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::vector<int> sizes = {16, 64};
  int runs = 5, threads = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--sizes") {
      sizes.clear();
      for (size_t at = 0; at < value.size();) {
        const size_t comma = std::min(value.find(',', at), value.size());
        sizes.push_back(std::stoi(value.substr(at, comma - at)));
        at = comma + 1;
      }
    } else if (key == "--runs") {
      runs = std::stoi(value);
    } else if (key == "--threads") {
      threads = std::stoi(value);
    }
  }
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (const int mp : sizes) {
    const Plate plate = RenderPlate(BenchPlateParams(mp));
    const int w = plate.image.width(), h = plate.image.height();
    const std::vector<uint8_t> grey = GreyOf(plate.image);
    const std::string tag = std::to_string(mp);
    WritePgm(dir + "/plate-" + tag + ".pgm", grey, w, h);
    const calib::Model model = CameraModel(w, h);
    calib::SaveModel(model, dir + "/model-" + tag + ".json");
    const calib::PlateGrid grid =
        calib::GridOver(calib::ImageFootprint(model, w, h), calib::CentrePixelSize(model, w, h));
    const calib::SourceImage source{
        grey.data(), w, h, static_cast<size_t>(w), 1, calib::PixelType::kUint8};
    std::vector<uint8_t> out(static_cast<size_t>(grid.Pixels()));

    // Ours, in process: the map and the sampling together, into memory.
    for (const auto interp : {calib::Interpolation::Linear, calib::Interpolation::Cubic}) {
      calib::UndistortParams params;
      params.interpolation = interp, params.threads = threads;
      // Straight into the array, as cv2.remap writes its own.
      params.into = out.data(), params.intoStride = static_cast<size_t>(grid.width);
      std::vector<double> times, cpu;
      for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        calib::Undistort(model, grid, source, params,
                         [](int64_t, int64_t, const uint8_t*, size_t) {});
        times.push_back(Seconds(start));
        cpu.push_back(CpuSeconds() - cpuStart);
      }
      std::printf(
          "{\"mp\": %d, \"what\": \"undistort\", \"interp\": \"%s\", \"seconds\": %.6f, "
          "\"cpu_seconds\": %.6f, \"width\": %lld, \"height\": %lld, \"threads\": %d}\n",
          mp, std::string(calib::InterpolationName(interp)).c_str(), Median(times), Median(cpu),
          static_cast<long long>(grid.width), static_cast<long long>(grid.height),
          threads > 0 ? threads : cores);
      std::fflush(stdout);
    }

    // The peer's map: the same points, as float32 (what the peer takes),
    // computed with the same code on the same threads.
    std::vector<float> mapX(static_cast<size_t>(grid.Pixels())), mapY(mapX.size());
    std::vector<double> times;
    const calib::RowMapper mapper(model, grid);
    const int workers = threads > 0 ? threads : cores;
    for (int r = 0; r < runs; ++r) {
      const auto start = Clock::now();
      std::vector<std::thread> pool;
      for (int t = 0; t < workers; ++t)
        pool.emplace_back([&, t] {
          std::vector<double> x(static_cast<size_t>(grid.width)), y(x.size());
          for (int64_t j = t; j < grid.height; j += workers) {
            mapper.MapRow(j, 0, grid.width, x.data(), y.data());
            for (int64_t i = 0; i < grid.width; ++i) {
              mapX[static_cast<size_t>(j * grid.width + i)] = static_cast<float>(x[i]);
              mapY[static_cast<size_t>(j * grid.width + i)] = static_cast<float>(y[i]);
            }
          }
        });
      for (auto& t : pool) t.join();
      times.push_back(Seconds(start));
    }
    std::ofstream(dir + "/mapx-" + tag + ".f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(mapX.data()),
               static_cast<std::streamsize>(mapX.size() * sizeof(float)));
    std::ofstream(dir + "/mapy-" + tag + ".f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(mapY.data()),
               static_cast<std::streamsize>(mapY.size() * sizeof(float)));
    std::printf(
        "{\"mp\": %d, \"what\": \"map\", \"seconds\": %.6f, \"width\": %lld, \"height\": %lld, "
        "\"image_width\": %d, \"image_height\": %d}\n",
        mp, Median(times), static_cast<long long>(grid.width), static_cast<long long>(grid.height),
        w, h);
    std::fflush(stdout);
  }
  return 0;
}
