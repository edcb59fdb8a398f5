#include "synth/distorted_plate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "synth/split_mix.h"

namespace qova {
namespace {

[[noreturn]] void Refuse(const std::string& what) {
  throw std::invalid_argument("DistortedPlateParams: " + what);
}

bool Finite(double v) { return std::isfinite(v); }

void CheckParams(const DistortedPlateParams& p) {
  const LatticeDistortion& d = p.distortion;
  if (d.width <= 0 || d.height <= 0) Refuse("width and height must be positive");
  if (!(d.pitchX > 0) || !(d.pitchY > 0) || !Finite(d.pitchX) || !Finite(d.pitchY))
    Refuse("the pitches must be positive");
  for (const double v : {d.originX, d.originY, d.angleDeg, d.shearDeg, d.tiltX, d.tiltY, d.k1, d.k2,
                         d.radialOffsetX, d.radialOffsetY, d.stepAmplitude, d.stepPeriod})
    if (!Finite(v)) Refuse("every number of the distortion must be finite");
  for (size_t t = 0; t < 7; ++t)
    if (!Finite(d.warpX[t]) || !Finite(d.warpY[t])) Refuse("the warp must be finite");
  if (!(std::fabs(d.tiltX) + std::fabs(d.tiltY) <= 0.5)) Refuse("|tiltX| + |tiltY| above 0.5");
  if (d.stepAmplitude != 0 && !(d.stepPeriod > 0)) Refuse("the stepping needs a positive period");
  if (!(p.lineWidth >= 0) || !Finite(p.lineWidth)) Refuse("lineWidth must not be negative");
  if (!(p.blur >= 0 && p.blur <= 100) || !(p.defocus >= 0 && p.defocus <= 100))
    Refuse("blur and defocus must lie in 0..100");
  if (p.blur > 0 && p.defocus > 0) Refuse("blur and defocus cannot be combined");
  const PlateShading& s = p.shading;
  if (s.background < 0 || s.background > 255 || s.ink < 0 || s.ink > 255)
    Refuse("grey levels must lie in 0..255");
  if (!(s.brightnessFalloff >= 0 && s.brightnessFalloff <= 1)) Refuse("falloff must lie in 0..1");
  if (!(s.noise >= 0) || !Finite(s.noise)) Refuse("noise must not be negative");
  if (!(p.missing >= 0 && p.missing <= 1)) Refuse("missing must lie in 0..1");
  if (p.dust < 0 || p.dust > 100000) Refuse("dust must lie in 0..100000");
  if (!(p.dustRadius > 0 && p.dustRadius < 100)) Refuse("dustRadius must lie in 0..100");
}

// The lattice point of an image point, NaN-free: the start given when it
// converges from there, else from the ideal lattice.
SynthXY LatticeAt(const LatticeDistortion& d, QPointF q, SynthXY start) {
  SynthXY s = std::isfinite(start.x) ? d.ToPlate(q.x(), q.y(), start) : SynthXY{NAN, NAN};
  if (!std::isfinite(s.x) || !std::isfinite(s.y)) s = d.ToPlate(q.x(), q.y());
  if (!std::isfinite(s.x) || !std::isfinite(s.y))
    Refuse("the distortion cannot be inverted at (" + std::to_string(q.x()) + ", " +
           std::to_string(q.y()) + "): too strong for the image");
  return s;
}

// A distortion that folds the lattice over (the Jacobian of ToImage changing
// its sign) has no single plate point for some pixels: refused. Its sign is
// sampled every quarter cell over the lattice that covers the image.
void CheckNoFold(const LatticeDistortion& d, double c0, double c1, double r0, double r1) {
  auto det = [&](double c, double r) {
    const double h = 1e-3;
    const SynthXY cu = d.ToImage(c + h, r), cd = d.ToImage(c - h, r);
    const SynthXY ru = d.ToImage(c, r + h), rd = d.ToImage(c, r - h);
    return (cu.x - cd.x) * (ru.y - rd.y) - (ru.x - rd.x) * (cu.y - cd.y);
  };
  const double sign = det((c0 + c1) / 2, (r0 + r1) / 2);
  for (double c = c0; c <= c1; c += 0.25)
    for (double r = r0; r <= r1; r += 0.25)
      if (!(det(c, r) * sign > 0)) Refuse("the distortion folds the plate over inside the image");
}

// The columns and rows whose crossings can lie in the image: the lattice
// points of its border, a few pixels apart, and a margin.
struct Range {
  int c0, c1, r0, r1;
};
Range LatticeRange(const LatticeDistortion& d) {
  double c0 = INFINITY, c1 = -INFINITY, r0 = INFINITY, r1 = -INFINITY;
  const double xMax = d.width - 1, yMax = d.height - 1;
  SynthXY last{NAN, NAN};
  auto include = [&](double x, double y) {
    last = LatticeAt(d, QPointF(x, y), last);
    c0 = std::min(c0, last.x), c1 = std::max(c1, last.x);
    r0 = std::min(r0, last.y), r1 = std::max(r1, last.y);
  };
  for (double x = 0;; x = std::min(x + 4, xMax)) {
    include(x, 0), include(x, yMax);
    if (x == xMax) break;
  }
  for (double y = 0;; y = std::min(y + 4, yMax)) {
    include(0, y), include(xMax, y);
    if (y == yMax) break;
  }
  if (c1 - c0 > 1e5 || r1 - r0 > 1e5) Refuse("pitch too small for the image");
  CheckNoFold(d, c0 - 1, c1 + 1, r0 - 1, r1 + 1);
  return {static_cast<int>(std::floor(c0)) - 1, static_cast<int>(std::ceil(c1)) + 1,
          static_cast<int>(std::floor(r0)) - 1, static_cast<int>(std::ceil(r1)) + 1};
}

// Round marks over the grid, found through a coarse hash of the image.
struct Disc {
  double x, y, radius;
  bool ink;  // dust: ink; an erased crossing: background
};
class Discs {
 public:
  explicit Discs(double cell) : cell_(cell) {}
  void Add(const Disc& d) {
    const long i0 = Key(d.x - d.radius - 1), i1 = Key(d.x + d.radius + 1);
    const long j0 = Key(d.y - d.radius - 1), j1 = Key(d.y + d.radius + 1);
    for (long i = i0; i <= i1; ++i)
      for (long j = j0; j <= j1; ++j) buckets_[Pack(i, j)].push_back(d);
  }
  // The ink share at p with the marks over a grid share: an erased crossing
  // covers what is under it, dust inks it.
  double Over(QPointF p, double share) const {
    const auto it = buckets_.find(Pack(Key(p.x()), Key(p.y())));
    if (it == buckets_.end()) return share;
    for (const Disc& d : it->second) {
      const double dx = p.x() - d.x, dy = p.y() - d.y;
      const double cover = std::clamp(d.radius + 0.5 - std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
      share = d.ink ? std::max(share, cover) : share * (1 - cover);
    }
    return share;
  }
  bool Empty() const { return buckets_.empty(); }

 private:
  long Key(double v) const { return static_cast<long>(std::floor(v / cell_)); }
  static long long Pack(long i, long j) {
    return (static_cast<long long>(i) << 32) ^ (j & 0xFFFFFFFF);
  }
  double cell_;
  std::unordered_map<long long, std::vector<Disc>> buckets_;
};

// The lattice points of a run of nearby pixels, by the chord method: Newton's
// steps with the Jacobian of an earlier point, one ToImage a step instead of
// five, the Jacobian taken afresh (by LatticeAt's full Newton) whenever the
// steps stop falling fast. The same to 1e-13 of a cell.
class LatticeInverse {
 public:
  explicit LatticeInverse(const LatticeDistortion& d) : d_(d), map_(d) {}

  SynthXY At(QPointF q) {
    if (fresh_) return Refresh(q);
    // The last point maps onto the last target: the first step needs no map.
    double fx = image_.x() - q.x(), fy = image_.y() - q.y();
    double c = last_.x, r = last_.y;
    for (int step = 0; step < 6; ++step) {
      if (step > 0) {
        const SynthXY p = map_.ToImage(c, r);
        fx = p.x - q.x(), fy = p.y - q.y();
      }
      const double dc = inverse_[0] * fx + inverse_[1] * fy;
      const double dr = inverse_[2] * fx + inverse_[3] * fy;
      c -= dc, r -= dr;
      if (!std::isfinite(c) || !std::isfinite(r)) break;
      if (step > 0 && std::fabs(dc) < 1e-13 && std::fabs(dr) < 1e-13) {
        last_ = {c, r}, image_ = q;
        // Slowing down: the Jacobian has drifted; take it afresh here.
        if (step > 2) Jacobian();
        return last_;
      }
    }
    return Refresh(q);
  }

 private:
  // Full Newton from the last point, and the Jacobian's inverse there.
  SynthXY Refresh(QPointF q) {
    last_ = LatticeAt(d_, q, fresh_ ? SynthXY{NAN, NAN} : last_);
    image_ = q;
    Jacobian();
    return last_;
  }

  // The inverse of ToImage's Jacobian at the last point.
  void Jacobian() {
    const double h = 1e-3;
    const SynthXY cu = map_.ToImage(last_.x + h, last_.y), cd = map_.ToImage(last_.x - h, last_.y);
    const SynthXY ru = map_.ToImage(last_.x, last_.y + h), rd = map_.ToImage(last_.x, last_.y - h);
    const double j00 = (cu.x - cd.x) / (2 * h), j10 = (cu.y - cd.y) / (2 * h);
    const double j01 = (ru.x - rd.x) / (2 * h), j11 = (ru.y - rd.y) / (2 * h);
    const double det = j00 * j11 - j01 * j10;
    inverse_ = {j11 / det, -j01 / det, -j10 / det, j00 / det};
    fresh_ = !(std::isfinite(inverse_[0]) && std::isfinite(inverse_[1]) &&
               std::isfinite(inverse_[2]) && std::isfinite(inverse_[3]));
  }

  const LatticeDistortion& d_;
  const PreparedLattice map_;
  bool fresh_ = true;
  SynthXY last_{NAN, NAN};
  QPointF image_;  // the target last_ maps onto
  std::array<double, 4> inverse_{};
};

}  // namespace

std::array<SynthXY, 4> DistortedPlate::RegionInCells(int c, int r, int columns, int rows) const {
  const LatticeDistortion& d = params.distortion;
  const double c0 = c + 0.5, r0 = r + 0.5;
  return {d.ToImage(c0, r0), d.ToImage(c0 + columns, r0), d.ToImage(c0 + columns, r0 + rows),
          d.ToImage(c0, r0 + rows)};
}

DistortedPlate RenderDistortedPlate(const DistortedPlateParams& params) {
  CheckParams(params);
  DistortedPlate plate;
  plate.params = params;
  const LatticeDistortion& d = params.distortion;
  const Range range = LatticeRange(d);

  // The truth, and which crossings are erased: one draw a crossing, in order.
  SplitMix random{0x5DEECE66Dull ^ (static_cast<uint64_t>(params.shading.seed) << 20)};
  const double pitch = std::min(d.pitchX, d.pitchY);
  Discs marks(std::max(8.0, pitch));
  for (int c = range.c0; c <= range.c1; ++c)
    for (int r = range.r0; r <= range.r1; ++r) {
      const SynthXY p = d.ToImage(c, r);
      const bool erase = random.Uniform() < params.missing;
      if (!(p.x >= 0 && p.y >= 0 && p.x <= d.width - 1 && p.y <= d.height - 1)) continue;
      plate.crossings.push_back({c, r, p.x, p.y, erase});
      if (erase) marks.Add({p.x, p.y, 0.3 * pitch, false});
    }
  // Dust near the middle of random cells of the image.
  for (int k = 0, tries = 0; k < params.dust && tries < 1000 * (params.dust + 1); ++tries) {
    const double c = range.c0 + (range.c1 - range.c0) * random.Uniform();
    const double r = range.r0 + (range.r1 - range.r0) * random.Uniform();
    const SynthXY p = d.ToImage(std::floor(c) + 0.5 + 0.3 * (random.Uniform() - 0.5),
                                std::floor(r) + 0.5 + 0.3 * (random.Uniform() - 0.5));
    const double m = params.dustRadius + 1;
    if (!(p.x >= m && p.y >= m && p.x <= d.width - 1 - m && p.y <= d.height - 1 - m)) continue;
    plate.dust.push_back(p);
    marks.Add({p.x, p.y, params.dustRadius, true});
    ++k;
  }

  plate.image = QImage(d.width, d.height, QImage::Format_RGB32);
  if (plate.image.isNull())
    throw std::runtime_error("RenderDistortedPlate: cannot allocate the image");
  const LineProfile profile(params.lineWidth, params.blur, params.defocus, 0);
  // Each point's lattice point starts from the last one's: the points of a
  // run are a pixel or less apart.
  const GridMapFactory maps = [&] {
    return GridMap([&d, inverse = std::make_shared<LatticeInverse>(d)](QPointF q) {
      const SynthXY l = inverse->At(q);
      return GridCoordinates{l.x * d.pitchX, l.y * d.pitchY};
    });
  };
  InkOverlay overlay;
  if (!marks.Empty()) overlay = [&](QPointF p, double share) { return marks.Over(p, share); };
  PaintGrid(plate.image, maps, d.pitchX, d.pitchY, profile, params.shading, overlay,
            params.threads);
  if (params.palette) plate.image = ToGreyPalette(plate.image);
  return plate;
}

}  // namespace qova
