#include "run/run_calibration.h"

#include <cmath>
#include <limits>
#include <new>

#include "run/detect_crossings.h"

namespace qova {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

RunCalibration Failure(calib::CalibCause cause, std::string message) {
  RunCalibration out;
  out.kind = RunCalibration::Kind::Failed;
  out.cause = cause;
  out.message = std::move(message);
  return out;
}

}  // namespace

calib::CalibrationInput CalibrationInputOf(const DetectionResult& result, const RegionList& regions,
                                           int imageWidth, int imageHeight) {
  calib::CalibrationInput in;
  in.imageWidth = imageWidth, in.imageHeight = imageHeight;
  const size_t n = static_cast<size_t>(result.FoundPoints.Count());
  in.region.assign(n, 0);
  for (size_t k = 0; k < result.regions.size(); ++k)
    for (int32_t i = 0; i < result.regions[k].points; ++i)
      in.region.at(static_cast<size_t>(result.regions[k].firstPoint + i)) = static_cast<int>(k);
  bool anyPrecise = false;
  for (size_t i = 0; i < n; ++i) {
    const VT_Point& p = *result.FoundPoints.Get(static_cast<int32_t>(i));
    in.points.emplace_back(p.x, p.y);
    const PointDetail& d = result.details.at(i);
    in.sigma.push_back(d.precise ? calib::Vec2(d.sigmaX, d.sigmaY) : calib::Vec2(kNaN, kNaN));
    anyPrecise = anyPrecise || d.precise;
  }
  // Without the precise stage every point weighs the same.
  if (!anyPrecise) in.sigma.clear();
  for (const auto& region : regions) {
    if (region->Count() != 4) continue;  // the window's regions always have four
    std::array<calib::Vec2, 4> corners;
    for (int32_t k = 0; k < 4; ++k)
      corners[static_cast<size_t>(k)] = {region->Get(k)->x, region->Get(k)->y};
    in.regionCorners.push_back(corners);
  }
  // The indexer takes corners region by region: all or none.
  if (in.regionCorners.size() != static_cast<size_t>(regions.Length())) in.regionCorners.clear();
  return in;
}

RunCalibration CalibrateRun(const DetectionResult& result, const RegionList& regions,
                            int imageWidth, int imageHeight, const CalibrationRequest& request) {
  calib::CalibrationOptions options;
  options.model = request.model;
  options.pitch = request.pitch;
  options.origin = request.origin;
  options.fit.threads = request.threads;
  try {
    RunCalibration out;
    out.kind = RunCalibration::Kind::Fitted;
    out.fit =
        calib::Calibrate(CalibrationInputOf(result, regions, imageWidth, imageHeight), options);
    out.points = out.fit->points;
    return out;
  } catch (const calib::CalibError& e) {
    return Failure(e.cause(), e.what());
  } catch (const std::bad_alloc&) {
    return Failure(calib::CalibCause::FitFailed, "not enough memory for the calibration");
  } catch (const std::exception& e) {
    return Failure(calib::CalibCause::FitFailed, e.what());
  }
}

RunCalibration ApplyModel(const DetectionResult& result, const calib::Model& model) {
  RunCalibration out;
  out.kind = RunCalibration::Kind::Applied;
  for (int32_t i = 0; i < result.FoundPoints.Count(); ++i) {
    const VT_Point& p = *result.FoundPoints.Get(i);
    calib::PointCalibration c;
    c.plate = model.ToPlate({p.x, p.y});
    c.residual = calib::Vec2(kNaN, kNaN);
    out.points.push_back(c);
  }
  return out;
}

std::optional<std::string> ImageSizeMismatch(const calib::Model& model, int imageWidth,
                                             int imageHeight) {
  const calib::ModelData& d = model.data();
  if (d.imageWidth == imageWidth && d.imageHeight == imageHeight) return std::nullopt;
  return "the model was made for an image of " + std::to_string(d.imageWidth) + " x " +
         std::to_string(d.imageHeight) + " pixels, this one has " + std::to_string(imageWidth) +
         " x " + std::to_string(imageHeight);
}

}  // namespace qova
