#include "tests/support/precise_test_support.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "precise/numeric.h"
#include "run/detect_crossings.h"

namespace qova::testing {

std::vector<VT_Point> DetectionRunPoints(const QImage& image,
                                         const std::vector<VT_Point>& corners) {
  RegionList regions;
  auto region = std::make_unique<SearchRegion>(1);
  for (const VT_Point& c : corners) region->AddNew(c.x, c.y);
  regions.Append(std::move(region));
  RunObserver quiet;  // the questions answered yes, as a person would to get the points
  const DetectionResult result = DetectCrossings(image, regions, DetectionParams(), quiet);
  std::vector<VT_Point> points;
  if (!result.Completed()) return points;
  for (int32_t i = 0; i < result.FoundPoints.Count(); ++i)
    points.push_back(*result.FoundPoints.Get(i));
  return points;
}

namespace {

PlateParams Base() {
  PlateParams p;
  p.width = 800;
  p.height = 600;
  p.pitch = 50;
  p.lineWidth = 3;
  p.angleDeg = 0.7;
  p.originX = 0.37;
  p.originY = -0.21;
  p.background = 230;
  p.ink = 30;
  p.seed = 5;
  return p;
}

PlateCase Case(std::string name, void (*change)(PlateParams&), double limit = 0.01,
               bool unmodelled = false) {
  PlateCase c{std::move(name), Base(), limit, unmodelled};
  change(c.params);
  return c;
}

}  // namespace

std::vector<PlateCase> StandardPlates() {
  return {
      Case("clean", [](PlateParams& p) { p.angleDeg = 0; }),
      Case("rotated +4°", [](PlateParams& p) { p.angleDeg = 4; }),
      Case("rotated -4°", [](PlateParams& p) { p.angleDeg = -4; }),
      Case("perspective", [](PlateParams& p) { p.tiltX = 0.08, p.tiltY = -0.05; }),
      Case("barrel", [](PlateParams& p) { p.barrel = 0.04; }),
      Case("blur 0.8 px", [](PlateParams& p) { p.blur = 0.8; }),
      Case("blur 1.5 px", [](PlateParams& p) { p.blur = 1.5; }),
      Case("noise σ 5", [](PlateParams& p) { p.noise = 5; }),
      Case(
          "noise σ 15", [](PlateParams& p) { p.noise = 15; }, 0.03),
      Case("uneven lighting", [](PlateParams& p) { p.brightnessFalloff = 0.6; }),
      Case("1-px lines", [](PlateParams& p) { p.lineWidth = 1; }),
      Case("4-px lines", [](PlateParams& p) { p.lineWidth = 4; }),
      Case("light lines on dark", [](PlateParams& p) { p.background = 30, p.ink = 220; }),
      Case("8-bit palette", [](PlateParams& p) { p.palette = true, p.noise = 3; }),
      Case("320 × 240, 1.5-px lines",
           [](PlateParams& p) { p.width = 320, p.height = 240, p.pitch = 32, p.lineWidth = 1.5; }),
      Case(
          "defocus disk", [](PlateParams& p) { p.defocus = 2.5; }, 0.03, true),
      Case(
          "skewed profile", [](PlateParams& p) { p.skew = 0.6, p.lineWidth = 4; }, 0.03, true),
  };
}

std::vector<VT_Point> PlateRegion(const Plate& plate) {
  int kMin = 0, kMax = 0, lMin = 0, lMax = 0;
  bool any = false;
  for (const auto& line : plate.lines)
    for (const QPoint& kl : line) {
      kMin = any ? std::min(kMin, kl.x()) : kl.x(), kMax = any ? std::max(kMax, kl.x()) : kl.x();
      lMin = any ? std::min(lMin, kl.y()) : kl.y(), lMax = any ? std::max(lMax, kl.y()) : kl.y();
      any = true;
    }
  // The widest region of whole cells whose corners lie half a pitch inside
  // the image.
  const double margin = plate.params.pitch / 2;
  auto inside = [&](const QPointF& c) {
    return c.x() >= margin && c.y() >= margin && c.x() <= plate.params.width - 1 - margin &&
           c.y() <= plate.params.height - 1 - margin;
  };
  for (int inset = 0; any && 2 * inset < std::min(kMax - kMin, lMax - lMin); ++inset) {
    const std::vector<QPointF> c =
        RegionInCells(plate, plate.firstK - kMin + inset, plate.firstL - lMin + inset,
                      kMax - kMin - 2 * inset - 1, lMax - lMin - 2 * inset - 1);
    if (std::all_of(c.begin(), c.end(), inside)) {
      std::vector<VT_Point> corners;
      for (const QPointF& p : c) corners.emplace_back(std::round(p.x()), std::round(p.y()));
      return corners;
    }
  }
  return {};
}

std::vector<QPointF> TruthInside(const Plate& plate, const std::vector<VT_Point>& corners) {
  std::vector<QPointF> polygon;
  for (const VT_Point& c : corners) polygon.emplace_back(c.x, c.y);
  return CrossingsInside(plate, polygon);
}

Score ScorePoints(const std::vector<QPointF>& truth, const std::vector<QPointF>& points,
                  const std::vector<double>& sigmas, double tolerance) {
  Score s;
  s.expected = static_cast<int>(truth.size());
  std::vector<int> hits(truth.size(), 0);
  double sum = 0;
  for (const QPointF& p : points) {
    int best = -1;
    double distance = tolerance;
    for (size_t t = 0; t < truth.size(); ++t) {
      const double d = std::hypot(p.x() - truth[t].x(), p.y() - truth[t].y());
      if (d <= distance) distance = d, best = static_cast<int>(t);
    }
    if (best < 0) {
      ++s.falsePoints;
    } else if (hits[static_cast<size_t>(best)]++ > 0) {
      ++s.duplicates;
    } else {
      ++s.found;
      sum += distance * distance;
    }
  }
  s.rms = s.found ? std::sqrt(sum / s.found) : 0;
  if (!sigmas.empty()) {
    s.medianSigma = precise::Median(sigmas);
    double sq = 0;
    for (double v : sigmas) sq += v * v;
    s.sigmaRms = std::sqrt(sq / static_cast<double>(sigmas.size()));
  }
  return s;
}

std::vector<QPointF> PointsOf(const PreciseResult& r) {
  std::vector<QPointF> out;
  for (const PrecisePoint& p : r.points) out.emplace_back(p.x, p.y);
  return out;
}

std::vector<double> SigmasOf(const PreciseResult& r) {
  std::vector<double> out;
  for (const PrecisePoint& p : r.points) out.push_back(p.standardError);
  return out;
}

std::vector<QPointF> PointsOf(const std::vector<VT_Point>& points) {
  std::vector<QPointF> out;
  for (const VT_Point& p : points) out.emplace_back(p.x, p.y);
  return out;
}

}  // namespace qova::testing
