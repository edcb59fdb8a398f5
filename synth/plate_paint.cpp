#include "synth/plate_paint.h"

#include <QList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "synth/split_mix.h"

namespace qova {
namespace {

// The share of pixel p covered by the nearest line of one family. The
// profile is laid across the mapped centre line in image pixels, so that
// its centre (centroid) is the truth exactly: t is p's signed distance from
// that line along the normal, one Newton step past the first-order guess
// (the map bends far too slowly for more to matter). The footprint is the
// unit pixel seen along the normal.
double Coverage(const LineProfile& profile, double pitch, QPointF p, double t, QPointF gradient,
                const std::function<double(QPointF)>& across) {
  const double norm = std::sqrt(gradient.x() * gradient.x() + gradient.y() * gradient.y());
  const double centre = std::floor(t / pitch + 0.5) * pitch;
  double d = (t - centre) / norm;
  if (std::fabs(d) >= profile.Reach() + 2) return 0;
  const QPointF n = gradient / norm;
  d += (across(p - n * d) - centre) / norm;
  return profile.Coverage(d, std::fabs(n.x()), std::fabs(n.y()));
}

}  // namespace

namespace {

// The map along a line of points, from a map of its own (so that a stateful
// map, which starts each point from the last, gives the same numbers
// whichever band of rows asks).
void MapLine(const GridMapFactory& maps, QPointF first, size_t count,
             std::vector<GridCoordinates>& out) {
  const GridMap map = maps();
  for (size_t i = 0; i < count; ++i) out[i] = map(first + QPointF(static_cast<double>(i), 0));
}

// Rows [rowBegin, rowEnd) of the picture.
void PaintRows(QImage& image, const GridMapFactory& maps, double pitchU, double pitchV,
               const LineProfile& profile, const PlateShading& shading, const InkOverlay& overlay,
               int rowBegin, int rowEnd) {
  const int width = image.width();
  const double depth = static_cast<double>(shading.background - shading.ink);
  const double falloffStep = width > 1 ? shading.brightnessFalloff / (width - 1) : 0.0;
  // The map at the pixel centres of a row and half a pixel to each side:
  // each half point is shared by two pixels (a row's lower halves are the
  // next row's upper ones), so it is mapped once, at the same point.
  const size_t w = static_cast<size_t>(width);
  std::vector<GridCoordinates> centre(w), sides(w + 1), above(w), below(w);
  MapLine(maps, QPointF(0, rowBegin) - QPointF(0, 0.5), w, above);
  for (int j = rowBegin; j < rowEnd; ++j) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(j));
    SplitMix rng{(static_cast<uint64_t>(shading.seed) << 32) ^ static_cast<uint64_t>(j)};
    MapLine(maps, QPointF(0, j), w, centre);
    MapLine(maps, QPointF(0, j) - QPointF(0.5, 0), w + 1, sides);
    MapLine(maps, QPointF(0, j) + QPointF(0, 0.5), w, below);
    const GridMap map = maps();
    const std::function<double(QPointF)> acrossU = [&](QPointF q) { return map(q).u; };
    const std::function<double(QPointF)> acrossV = [&](QPointF q) { return map(q).v; };
    for (int i = 0; i < width; ++i) {
      const QPointF p(i, j);
      const size_t k = static_cast<size_t>(i);
      const GridCoordinates g = centre[k];
      const GridCoordinates left = sides[k];
      const GridCoordinates right = sides[k + 1];
      const GridCoordinates up = above[k];
      const GridCoordinates down = below[k];
      const double cv =
          Coverage(profile, pitchU, p, g.u, QPointF(right.u - left.u, down.u - up.u), acrossU);
      const double ch =
          Coverage(profile, pitchV, p, g.v, QPointF(right.v - left.v, down.v - up.v), acrossV);
      double share = 1.0 - (1.0 - cv) * (1.0 - ch);
      if (overlay) share = overlay(p, share);
      double grey = shading.background - depth * share;
      grey *= 1.0 - falloffStep * i;
      if (shading.noise > 0) grey += shading.noise * rng.Gaussian();
      const int level = static_cast<int>(std::clamp(std::floor(grey + 0.5), 0.0, 255.0));
      row[i] = qRgb(level, level, level);
    }
    std::swap(above, below);
  }
}

}  // namespace

void PaintGrid(QImage& image, const GridMapFactory& maps, double pitchU, double pitchV,
               const LineProfile& profile, const PlateShading& shading, const InkOverlay& overlay,
               int threads) {
  if (profile.Reach() + 2 >= std::min(pitchU, pitchV) / 2)
    throw std::invalid_argument("PlateParams: lines too wide or blurred for the pitch");
  const int height = image.height();
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int bands =
      std::clamp(threads > 0 ? threads : static_cast<int>(cores), 1, std::max(1, height));
  std::vector<std::thread> pool;
  std::exception_ptr failure;
  std::mutex guard;
  auto band = [&](int k) {
    try {
      PaintRows(image, maps, pitchU, pitchV, profile, shading, overlay, height * k / bands,
                height * (k + 1) / bands);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(guard);
      if (!failure) failure = std::current_exception();
    }
  };
  for (int k = 1; k < bands; ++k) pool.emplace_back(band, k);
  band(0);
  for (std::thread& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
}

QImage ToGreyPalette(const QImage& grey) {
  QImage indexed(grey.size(), QImage::Format_Indexed8);
  if (indexed.isNull()) throw std::runtime_error("RenderPlate: cannot allocate the image");
  QList<QRgb> table;
  for (int i = 0; i < 256; ++i) table.push_back(qRgb(255 - i, 255 - i, 255 - i));
  indexed.setColorTable(table);
  for (int j = 0; j < grey.height(); ++j) {
    const auto* src = reinterpret_cast<const QRgb*>(grey.constScanLine(j));
    uchar* dst = indexed.scanLine(j);
    for (int i = 0; i < grey.width(); ++i) dst[i] = static_cast<uchar>(255 - qRed(src[i]));
  }
  return indexed;
}

}  // namespace qova
