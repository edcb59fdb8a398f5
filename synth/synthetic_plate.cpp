#include "synth/synthetic_plate.h"

#include <QList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>

#include "image/image_writer.h"
#include "synth/line_profile.h"
#include "synth/plate_mapping.h"
#include "synth/plate_paint.h"
#include "synth/split_mix.h"

namespace qova {
namespace {

void CheckParams(const PlateParams& s) {
  auto fail = [](const std::string& what) { throw std::invalid_argument("PlateParams: " + what); };
  if (s.width <= 0 || s.height <= 0) fail("width and height must be positive");
  if (!(s.pitch > 0) || !std::isfinite(s.pitch)) fail("pitch must be positive");
  if (!(s.lineWidth >= 0) || !std::isfinite(s.lineWidth)) fail("lineWidth must not be negative");
  if (!std::isfinite(s.angleDeg) || !std::isfinite(s.originX) || !std::isfinite(s.originY))
    fail("angle and origin must be finite");
  if (s.levels < 1 || s.levels > 65535) fail("levels must lie in 1..65535");
  if (s.background < 0 || s.background > s.levels || s.ink < 0 || s.ink > s.levels)
    fail("grey levels must lie in 0..levels");
  if (!(s.brightnessFalloff >= 0 && s.brightnessFalloff <= 1)) fail("falloff must lie in 0..1");
  if (!(s.noise >= 0) || !std::isfinite(s.noise)) fail("noise must not be negative");
  if (!(s.blur >= 0 && s.blur <= 100) || !(s.defocus >= 0 && s.defocus <= 100))
    fail("blur and defocus must lie in 0..100");
  if (!(s.skew >= 0 && s.skew < 1)) fail("skew must lie in 0..<1");
  if (!std::isfinite(s.tiltX) || !std::isfinite(s.tiltY) ||
      !(std::fabs(s.tiltX) + std::fabs(s.tiltY) <= 0.5))
    fail("|tiltX| + |tiltY| must not exceed 0.5");
  if (!(std::fabs(s.barrel) <= 0.25)) fail("barrel must lie in -0.25..0.25");
  if (!(s.halo >= 0 && s.halo < 1) || !(s.haloWidth >= 0 && s.haloWidth <= 100) ||
      (s.halo > 0 && !(s.haloWidth > 0)))
    fail("halo must lie in 0..<1, with a haloWidth in 0..100");
  if ((s.blur > 0) + (s.defocus > 0) + (s.skew > 0) + (s.halo > 0) > 1)
    fail("blur, defocus, skew and halo cannot be combined");
}

// The plain grid of the first renderer, whose pixels must never change, or
// the one that also blurs, reshapes the lines and maps them through a lens.
bool PlainGrid(const PlateParams& s) {
  return s.blur == 0 && s.defocus == 0 && s.skew == 0 && s.halo == 0 && s.tiltX == 0 &&
         s.tiltY == 0 && s.barrel == 0;
}

PlateMapping MappingOf(const PlateParams& s) {
  return PlateMapping(s.width, s.height, s.tiltX, s.tiltY, s.barrel);
}

// Share of a pixel covered by the nearest line of one family, given the
// pixel centre's coordinate across that family.
inline double Coverage(double across, double pitch, double halfWidthPlusHalf) {
  const double nearest = std::floor(across / pitch + 0.5) * pitch;
  const double distance = std::fabs(across - nearest);
  return std::clamp(halfWidthPlusHalf - distance, 0.0, 1.0);
}

// The grey of every pixel of row j of the plain grid, before rounding.
void PlainRow(const Plate& plate, int j, double* out) {
  const PlateParams& s = plate.params;
  const double c = plate.across.x(), sn = plate.across.y();
  const double ax = plate.anchor.x(), ay = plate.anchor.y();
  const double reach = s.lineWidth / 2 + 0.5;
  const double depth = static_cast<double>(s.background - s.ink);
  const double falloffStep = s.width > 1 ? s.brightnessFalloff / (s.width - 1) : 0.0;
  const double dy = j - ay;
  SplitMix rng{(static_cast<uint64_t>(s.seed) << 32) ^ static_cast<uint64_t>(j)};
  for (int i = 0; i < s.width; ++i) {
    const double dx = i - ax;
    const double u = dx * c + dy * sn;   // across the vertical lines
    const double v = -dx * sn + dy * c;  // across the horizontal lines
    const double cv = Coverage(u, s.pitch, reach);
    const double ch = Coverage(v, s.pitch, reach);
    const double coverage = 1.0 - (1.0 - cv) * (1.0 - ch);
    double grey = s.background - depth * coverage;
    grey *= 1.0 - falloffStep * i;
    if (s.noise > 0) grey += s.noise * rng.Gaussian();
    out[i] = grey;
  }
}

// The grid's coordinates (across the vertical lines, across the horizontal
// ones) of a pixel position.
GridCoordinates GridAt(const Plate& plate, const PlateMapping& map, QPointF p) {
  const QPointF d = map.Ideal(p) - plate.anchor;
  return {QPointF::dotProduct(d, plate.across), QPointF::dotProduct(d, plate.down)};
}

// The painter of a plate seen through optics or a lens: the grid's
// coordinates of every pixel position through the lens's inverse.
GridPainter MappedPainter(const Plate& plate, const PlateMapping& map) {
  const PlateParams& s = plate.params;
  PlateShading shading;
  shading.background = s.background, shading.ink = s.ink;
  shading.brightnessFalloff = s.brightnessFalloff;
  shading.noise = s.noise, shading.seed = s.seed;
  const GridMapFactory maps = [&plate, map] {
    return GridMap([&plate, map](QPointF p) { return GridAt(plate, map, p); });
  };
  return GridPainter(maps, s.pitch, s.pitch,
                     LineProfile(s.lineWidth, s.blur, s.defocus, s.skew, s.halo, s.haloWidth),
                     shading, {}, s.width);
}

void ListCrossings(Plate& plate) {
  const PlateParams& s = plate.params;
  const double xMax = s.width - 1, yMax = s.height - 1;
  const PlateMapping map = MappingOf(s);
  // Line indices whose lines can meet the image: from the image corners'
  // coordinates across each family; through a lens, from the whole border,
  // which bends.
  double uMin = INFINITY, uMax = -INFINITY, vMin = INFINITY, vMax = -INFINITY;
  auto include = [&](QPointF p) {
    const GridCoordinates g = GridAt(plate, map, p);
    uMin = std::min(uMin, g.u), uMax = std::max(uMax, g.u);
    vMin = std::min(vMin, g.v), vMax = std::max(vMax, g.v);
  };
  for (const QPointF corner :
       {QPointF(0, 0), QPointF(xMax, 0), QPointF(0, yMax), QPointF(xMax, yMax)})
    include(corner);
  const int margin = map.IsIdentity() ? 1 : 2;
  if (!map.IsIdentity()) {
    for (int i = 0; i <= s.width - 1; ++i) include(QPointF(i, 0)), include(QPointF(i, yMax));
    for (int j = 0; j <= s.height - 1; ++j) include(QPointF(0, j)), include(QPointF(xMax, j));
  }
  if ((uMax - uMin) / s.pitch > 1e6 || (vMax - vMin) / s.pitch > 1e6)
    throw std::invalid_argument("PlateParams: pitch too small for the image");
  // Line indices must fit an int: an origin shifted absurdly far is an error.
  const double farthest =
      std::max({std::fabs(uMin), std::fabs(uMax), std::fabs(vMin), std::fabs(vMax)});
  if (farthest / s.pitch > 1e9)
    throw std::invalid_argument("PlateParams: origin too far from the image");
  const int kFrom = static_cast<int>(std::ceil(uMin / s.pitch)) - margin;
  const int kTo = static_cast<int>(std::floor(uMax / s.pitch)) + margin;
  const int lFrom = static_cast<int>(std::ceil(vMin / s.pitch)) - margin;
  const int lTo = static_cast<int>(std::floor(vMax / s.pitch)) + margin;

  // Vertical lines from left to right: by k when the across direction points
  // right, which holds for rotations under 90 degrees.
  const int kStep = plate.across.x() >= 0 ? 1 : -1;
  bool any = false;
  for (int n = 0; n <= kTo - kFrom; ++n) {
    const int k = kStep > 0 ? kFrom + n : kTo - n;
    std::vector<std::pair<QPointF, QPoint>> onLine;
    for (int l = lFrom; l <= lTo; ++l) {
      const QPointF p = plate.Crossing(k, l);
      if (p.x() >= 0 && p.x() <= xMax && p.y() >= 0 && p.y() <= yMax)
        onLine.push_back({p, QPoint(k, l)});
    }
    if (onLine.empty()) continue;
    std::sort(onLine.begin(), onLine.end(),
              [](const auto& a, const auto& b) { return a.first.y() < b.first.y(); });
    plate.crossings.emplace_back();
    plate.lines.emplace_back();
    for (const auto& [p, kl] : onLine) {
      plate.crossings.back().push_back(p);
      plate.lines.back().push_back(kl);
      plate.firstK = any ? std::min(plate.firstK, kl.x()) : kl.x();
      plate.firstL = any ? std::min(plate.firstL, kl.y()) : kl.y();
      any = true;
    }
  }
}

// Whether p lies on the segment a-b.
bool OnSegment(const QPointF& p, const QPointF& a, const QPointF& b) {
  const double cross = (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
  if (cross != 0) return false;
  return p.x() >= std::min(a.x(), b.x()) && p.x() <= std::max(a.x(), b.x()) &&
         p.y() >= std::min(a.y(), b.y()) && p.y() <= std::max(a.y(), b.y());
}

bool StrictlyInside(const QPointF& p, const std::vector<QPointF>& polygon) {
  const size_t n = polygon.size();
  if (n < 3) return false;
  bool inside = false;
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const QPointF& a = polygon[i];
    const QPointF& b = polygon[j];
    if (OnSegment(p, a, b)) return false;
    if ((a.y() > p.y()) != (b.y() > p.y())) {
      const double xCross = a.x() + (p.y() - a.y()) * (b.x() - a.x()) / (b.y() - a.y());
      if (p.x() < xCross) inside = !inside;
    }
  }
  return inside;
}

}  // namespace

QPointF Plate::Crossing(double k, double l) const {
  const QPointF ideal = anchor + across * (k * params.pitch) + down * (l * params.pitch);
  return MappingOf(params).Image(ideal);
}

namespace {

// The plate's frame, without pixels or crossings.
Plate Geometry(const PlateParams& params) {
  CheckParams(params);
  Plate plate;
  plate.params = params;
  const double angle = params.angleDeg * std::numbers::pi / 180.0;
  plate.across = QPointF(std::cos(angle), std::sin(angle));
  plate.down = QPointF(-std::sin(angle), std::cos(angle));
  plate.anchor = QPointF(params.width / 2.0 + params.originX, params.height / 2.0 + params.originY);
  return plate;
}

// The rows of a plate, before rounding; in order they share their work.
class PlateRows {
 public:
  explicit PlateRows(const Plate& plate) : plate_(plate) {
    if (!PlainGrid(plate.params)) mapped_.emplace(MappedPainter(plate, MappingOf(plate.params)));
  }
  void Row(int j, double* grey) {
    if (mapped_)
      mapped_->Row(j, grey);
    else
      PlainRow(plate_, j, grey);
  }

 private:
  const Plate& plate_;
  std::optional<GridPainter> mapped_;
};

// A grey rounded to a whole level of the plate's scale (0 … levels).
int WholeLevel(double grey, int levels) {
  return static_cast<int>(std::clamp(std::floor(grey + 0.5), 0.0, static_cast<double>(levels)));
}

// The 8-bit level of a grey: the plate's own level at 255 levels, else its
// whole level rounded again to 8 bits (the same plate stored in 8 bits).
int EightBitLevel(double grey, int levels) {
  const int level = WholeLevel(grey, levels);
  if (levels == 255) return level;
  return static_cast<int>(std::floor(level * 255.0 / levels + 0.5));
}

}  // namespace

Plate RenderPlate(const PlateParams& params) {
  Plate plate = Geometry(params);
  plate.image = QImage(params.width, params.height, QImage::Format_RGB32);
  if (plate.image.isNull()) throw std::runtime_error("RenderPlate: cannot allocate the image");
  { const PlateRows check(plate); }  // refused parameters throw before any thread starts
  ForRowBands(params.height, 0, [&](int rowBegin, int rowEnd) {
    PlateRows rows(plate);
    std::vector<double> grey(static_cast<size_t>(params.width));
    for (int j = rowBegin; j < rowEnd; ++j) {
      rows.Row(j, grey.data());
      auto* row = reinterpret_cast<QRgb*>(plate.image.scanLine(j));
      for (int i = 0; i < params.width; ++i) {
        const int g = EightBitLevel(grey[static_cast<size_t>(i)], params.levels);
        row[i] = qRgb(g, g, g);
      }
    }
  });
  ListCrossings(plate);
  if (params.palette) plate.image = ToGreyPalette(plate.image);
  return plate;
}

Plate WritePlate(const PlateParams& params, const std::string& path, const PlateFile& file) {
  Plate plate = Geometry(params);
  PlateRows rows(plate);
  ListCrossings(plate);  // refused parameters leave no file behind
  WriteSpec spec;
  spec.format = file.format;
  spec.width = params.width;
  spec.height = params.height;
  spec.channels = file.channels;
  spec.sample = file.sample;
  spec.compress = file.compress;
  ImageWriter writer(path, spec);
  // A band of rows at a time: the writer's calls cost more than a row.
  constexpr int kBand = 16;
  const size_t w = static_cast<size_t>(params.width), c = static_cast<size_t>(file.channels);
  const bool deep = file.sample == SampleType::kUint16;
  std::vector<double> grey(w);
  std::vector<uint8_t> band(w * c * (deep ? 2 : 1) * kBand);
  for (int j0 = 0; j0 < params.height; j0 += kBand) {
    const int n = std::min(kBand, params.height - j0);
    for (int k = 0; k < n; ++k) {
      rows.Row(j0 + k, grey.data());
      uint8_t* row = band.data() + static_cast<size_t>(k) * w * c * (deep ? 2 : 1);
      for (size_t i = 0; i < w; ++i) {
        if (deep) {
          const auto v = static_cast<uint16_t>(WholeLevel(grey[i], params.levels));
          for (size_t ch = 0; ch < c; ++ch) std::memcpy(row + 2 * (i * c + ch), &v, 2);
        } else {
          const auto v = static_cast<uint8_t>(EightBitLevel(grey[i], params.levels));
          for (size_t ch = 0; ch < c; ++ch) row[i * c + ch] = v;
        }
      }
    }
    writer.WriteRows(band.data(), n, w * c * (deep ? 2 : 1));
  }
  writer.Finish();
  return plate;
}

std::vector<QPointF> CrossingsInside(const Plate& plate, const std::vector<QPointF>& polygon) {
  std::vector<QPointF> inside;
  for (const auto& line : plate.crossings)
    for (const QPointF& p : line)
      if (StrictlyInside(p, polygon)) inside.push_back(p);
  return inside;
}

std::vector<QPointF> RegionInCells(const Plate& plate, int firstCellX, int firstCellY, int cellsX,
                                   int cellsY) {
  const double k0 = plate.firstK + firstCellX + 0.5, l0 = plate.firstL + firstCellY + 0.5;
  return {plate.Crossing(k0, l0), plate.Crossing(k0 + cellsX, l0),
          plate.Crossing(k0 + cellsX, l0 + cellsY), plate.Crossing(k0, l0 + cellsY)};
}

}  // namespace qova
