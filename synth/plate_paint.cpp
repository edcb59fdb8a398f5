#include "synth/plate_paint.h"

#include <QList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
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

}  // namespace

GridPainter::GridPainter(GridMapFactory maps, double pitchU, double pitchV, LineProfile profile,
                         PlateShading shading, InkOverlay overlay, int width)
    : maps_(std::move(maps)),
      pitchU_(pitchU),
      pitchV_(pitchV),
      profile_(std::move(profile)),
      shading_(shading),
      overlay_(std::move(overlay)),
      width_(width),
      centre_(static_cast<size_t>(width)),
      sides_(static_cast<size_t>(width) + 1),
      above_(static_cast<size_t>(width)),
      below_(static_cast<size_t>(width)),
      next_(std::numeric_limits<int>::min()) {
  if (profile_.Reach() + 2 >= std::min(pitchU, pitchV) / 2)
    throw std::invalid_argument("PlateParams: lines too wide or blurred for the pitch");
}

void GridPainter::Row(int j, double* grey) {
  const size_t w = static_cast<size_t>(width_);
  const double depth = static_cast<double>(shading_.background - shading_.ink);
  const double falloffStep = width_ > 1 ? shading_.brightnessFalloff / (width_ - 1) : 0.0;
  // The map at the pixel centres of a row and half a pixel to each side:
  // each half point is shared by two pixels (a row's lower halves are the
  // next row's upper ones), so it is mapped once, at the same point.
  if (j != next_) MapLine(maps_, QPointF(0, j) - QPointF(0, 0.5), w, above_);
  SplitMix rng{(static_cast<uint64_t>(shading_.seed) << 32) ^ static_cast<uint64_t>(j)};
  MapLine(maps_, QPointF(0, j), w, centre_);
  MapLine(maps_, QPointF(0, j) - QPointF(0.5, 0), w + 1, sides_);
  MapLine(maps_, QPointF(0, j) + QPointF(0, 0.5), w, below_);
  const GridMap map = maps_();
  const std::function<double(QPointF)> acrossU = [&](QPointF q) { return map(q).u; };
  const std::function<double(QPointF)> acrossV = [&](QPointF q) { return map(q).v; };
  for (int i = 0; i < width_; ++i) {
    const QPointF p(i, j);
    const size_t k = static_cast<size_t>(i);
    const GridCoordinates g = centre_[k];
    const GridCoordinates left = sides_[k];
    const GridCoordinates right = sides_[k + 1];
    const GridCoordinates up = above_[k];
    const GridCoordinates down = below_[k];
    const double cv =
        Coverage(profile_, pitchU_, p, g.u, QPointF(right.u - left.u, down.u - up.u), acrossU);
    const double ch =
        Coverage(profile_, pitchV_, p, g.v, QPointF(right.v - left.v, down.v - up.v), acrossV);
    double share = 1.0 - (1.0 - cv) * (1.0 - ch);
    if (overlay_) share = overlay_(p, share);
    double level = shading_.background - depth * share;
    level *= 1.0 - falloffStep * i;
    if (shading_.noise > 0) level += shading_.noise * rng.Gaussian();
    grey[i] = level;
  }
  std::swap(above_, below_);
  next_ = j + 1;
}

void ForRowBands(int height, int threads, const std::function<void(int, int)>& band) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int bands =
      std::clamp(threads > 0 ? threads : static_cast<int>(cores), 1, std::max(1, height));
  std::vector<std::thread> pool;
  std::exception_ptr failure;
  std::mutex guard;
  auto run = [&](int k) {
    try {
      band(height * k / bands, height * (k + 1) / bands);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(guard);
      if (!failure) failure = std::current_exception();
    }
  };
  for (int k = 1; k < bands; ++k) pool.emplace_back(run, k);
  run(0);
  for (std::thread& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
}

void PaintGrid(QImage& image, const GridMapFactory& maps, double pitchU, double pitchV,
               const LineProfile& profile, const PlateShading& shading, const InkOverlay& overlay,
               int threads) {
  const int width = image.width();
  // Made once here so that a refused profile throws before any thread starts.
  const GridPainter check(maps, pitchU, pitchV, profile, shading, overlay, width);
  ForRowBands(image.height(), threads, [&](int rowBegin, int rowEnd) {
    GridPainter painter(maps, pitchU, pitchV, profile, shading, overlay, width);
    std::vector<double> grey(static_cast<size_t>(width));
    for (int j = rowBegin; j < rowEnd; ++j) {
      painter.Row(j, grey.data());
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(j));
      for (int i = 0; i < width; ++i) {
        const double g = grey[static_cast<size_t>(i)];
        const int level = static_cast<int>(std::clamp(std::floor(g + 0.5), 0.0, 255.0));
        row[i] = qRgb(level, level, level);
      }
    }
  });
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
