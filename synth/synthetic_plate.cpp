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

// splitmix64: a tiny generator whose output depends only on its seed, so the
// same parameters give the same pixels on every machine and library.
struct SplitMix {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Approximately standard normal: the sum of four uniforms (Irwin-Hall),
  // centred and scaled to unit variance. Cheap enough for 64 megapixels.
  double Gaussian() {
    const uint64_t a = Next(), b = Next();
    constexpr double kUnit = 1.0 / 4294967296.0;
    const double sum =
        static_cast<double>(a & 0xFFFFFFFFu) * kUnit + static_cast<double>(a >> 32) * kUnit +
        static_cast<double>(b & 0xFFFFFFFFu) * kUnit + static_cast<double>(b >> 32) * kUnit;
    return (sum - 2.0) * std::numbers::sqrt3;
  }
};

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
struct GridCoordinates {
  double u, v;
};
GridCoordinates GridAt(const Plate& plate, const PlateMapping& map, QPointF p) {
  const QPointF d = map.Ideal(p) - plate.anchor;
  return {QPointF::dotProduct(d, plate.across), QPointF::dotProduct(d, plate.down)};
}

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

// The grey of every pixel of row j of a plate seen through optics or a
// lens, before rounding.
class MappedRows {
 public:
  explicit MappedRows(const Plate& plate)
      : plate_(plate),
        map_(MappingOf(plate.params)),
        profile_(plate.params.lineWidth, plate.params.blur, plate.params.defocus, plate.params.skew,
                 plate.params.halo, plate.params.haloWidth),
        acrossU_([this](QPointF q) { return GridAt(plate_, map_, q).u; }),
        acrossV_([this](QPointF q) { return GridAt(plate_, map_, q).v; }) {
    if (profile_.Reach() + 2 >= plate.params.pitch / 2)
      throw std::invalid_argument("PlateParams: lines too wide or blurred for the pitch");
  }

  void Row(int j, double* out) const {
    const PlateParams& s = plate_.params;
    const double depth = static_cast<double>(s.background - s.ink);
    const double falloffStep = s.width > 1 ? s.brightnessFalloff / (s.width - 1) : 0.0;
    SplitMix rng{(static_cast<uint64_t>(s.seed) << 32) ^ static_cast<uint64_t>(j)};
    for (int i = 0; i < s.width; ++i) {
      const QPointF p(i, j);
      const GridCoordinates g = GridAt(plate_, map_, p);
      const GridCoordinates left = GridAt(plate_, map_, p - QPointF(0.5, 0));
      const GridCoordinates right = GridAt(plate_, map_, p + QPointF(0.5, 0));
      const GridCoordinates up = GridAt(plate_, map_, p - QPointF(0, 0.5));
      const GridCoordinates below = GridAt(plate_, map_, p + QPointF(0, 0.5));
      const double cv =
          Coverage(profile_, s.pitch, p, g.u, QPointF(right.u - left.u, below.u - up.u), acrossU_);
      const double ch =
          Coverage(profile_, s.pitch, p, g.v, QPointF(right.v - left.v, below.v - up.v), acrossV_);
      const double share = 1.0 - (1.0 - cv) * (1.0 - ch);
      double grey = s.background - depth * share;
      grey *= 1.0 - falloffStep * i;
      if (s.noise > 0) grey += s.noise * rng.Gaussian();
      out[i] = grey;
    }
  }

 private:
  const Plate& plate_;
  PlateMapping map_;
  LineProfile profile_;
  std::function<double(QPointF)> acrossU_, acrossV_;
};

// The image as indices into a grey palette that runs from white to black.
QImage ToPalette(const QImage& grey) {
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

// The rows of a plate, one at a time, before rounding.
class PlateRows {
 public:
  explicit PlateRows(const Plate& plate) : plate_(plate) {
    if (!PlainGrid(plate.params)) mapped_.emplace(plate);
  }
  void Row(int j, double* grey) const {
    if (mapped_)
      mapped_->Row(j, grey);
    else
      PlainRow(plate_, j, grey);
  }

 private:
  const Plate& plate_;
  std::optional<MappedRows> mapped_;
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
  {
    const PlateRows rows(plate);
    std::vector<double> grey(static_cast<size_t>(params.width));
    for (int j = 0; j < params.height; ++j) {
      rows.Row(j, grey.data());
      auto* row = reinterpret_cast<QRgb*>(plate.image.scanLine(j));
      for (int i = 0; i < params.width; ++i) {
        const int g = EightBitLevel(grey[static_cast<size_t>(i)], params.levels);
        row[i] = qRgb(g, g, g);
      }
    }
  }
  ListCrossings(plate);
  if (params.palette) plate.image = ToPalette(plate.image);
  return plate;
}

Plate WritePlate(const PlateParams& params, const std::string& path, const PlateFile& file) {
  Plate plate = Geometry(params);
  const PlateRows rows(plate);
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
