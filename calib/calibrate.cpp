#include "calib/calibrate.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>

#include "calib/calib_error.h"
#include "calib/figures.h"

namespace qova::calib {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void CheckInput(const CalibrationInput& in) {
  const size_t n = in.points.size();
  if (!in.sigma.empty() && in.sigma.size() != n)
    throw CalibError(CalibCause::BadInput, "the points and their standard errors differ in number");
  if (!in.region.empty() && in.region.size() != n)
    throw CalibError(CalibCause::BadInput, "the points and their region numbers differ in number");
  if (in.imageWidth <= 0 || in.imageHeight <= 0)
    throw CalibError(CalibCause::BadInput, "the image size must be positive");
  for (size_t i = 0; i < in.sigma.size(); ++i)
    if (in.sigma[i].x() < 0 || in.sigma[i].y() < 0 || std::isinf(in.sigma[i].x()) ||
        std::isinf(in.sigma[i].y()))
      throw CalibError(CalibCause::BadInput, "point " + std::to_string(i + 1) +
                                                 " has a standard error that is negative or "
                                                 "infinite");
}

// Each crossing's σ: the root mean square of its points' (σx² + σy²)/2;
// crossings without one get the median of the others; floored.
std::vector<double> CrossingWeights(const CalibrationInput& in, const Indexing& ix,
                                    const std::vector<int>& crossings, double floor) {
  std::vector<double> sigma(crossings.size(), kNaN);
  if (in.sigma.empty()) return std::vector<double>(crossings.size(), 1.0);
  std::vector<double> known;
  for (size_t k = 0; k < crossings.size(); ++k) {
    double sum = 0;
    int count = 0;
    for (int m : ix.crossings[static_cast<size_t>(crossings[k])].members) {
      const Vec2& s = in.sigma[static_cast<size_t>(m)];
      if (std::isnan(s.x()) || std::isnan(s.y())) continue;
      sum += (s.x() * s.x() + s.y() * s.y()) / 2;
      ++count;
    }
    if (count) sigma[k] = std::sqrt(sum / count), known.push_back(sigma[k]);
  }
  if (known.empty()) return std::vector<double>(crossings.size(), 1.0);
  std::nth_element(known.begin(), known.begin() + static_cast<long>(known.size() / 2), known.end());
  const double median = known[known.size() / 2];
  std::vector<double> w(crossings.size());
  for (size_t k = 0; k < crossings.size(); ++k) {
    const double s = std::max(std::isnan(sigma[k]) ? median : sigma[k], floor);
    w[k] = 1 / (s * s);
  }
  return w;
}

// px on the image to µm on the plate, through the inverse of the model's
// Jacobian at the plate point (ToPlateAt, once for a crossing's residual and
// its cross-validation residual).
Eigen::Matrix2d ToPlateAt(const Model& model, const Vec2& uv) {
  return model.Jacobian(uv).inverse();
}
double Micrometres(const Eigen::Matrix2d& toPlate, const Vec2& px) {
  return 1000 * (toPlate * px).norm();
}

CandidateFigures Figures(const std::string& name, const FitResult& fit) {
  CandidateFigures c;
  c.name = name;
  c.fitted = true;
  c.parameters = fit.parameters;
  c.rms = fit.rms;
  c.maxResidual = fit.maxResidual;
  c.cvRms = fit.cvRms;
  c.outliers = static_cast<int>(std::count(fit.outlier.begin(), fit.outlier.end(), true));
  return c;
}

}  // namespace

void CheckPitch(const Pitch& pitch) {
  if (pitch.x == 0 && pitch.y == 0) return;
  if (!(pitch.x > 0) || !(pitch.y > 0) || std::isinf(pitch.x) || std::isinf(pitch.y))
    throw CalibError(CalibCause::BadPitch,
                     "the pitch must be a positive number of millimetres along both axes "
                     "(both 0: unknown)");
}

void CheckModelName(const std::string& name) {
  if (name == "auto" || ParseModelKind(name)) return;
  std::string known;
  for (const std::string& n : ModelNames()) known += n + ", ";
  throw CalibError(CalibCause::UnknownModel,
                   "unknown model \"" + name + "\" (known: " + known + "auto)");
}

Calibration Calibrate(const CalibrationInput& in, const CalibrationOptions& options) {
  CheckPitch(options.pitch);
  CheckModelName(options.model);
  CheckInput(in);
  Calibration out;
  IndexInput indexInput;
  indexInput.points = in.points;
  indexInput.region = in.region;
  indexInput.corners = in.regionCorners;
  indexInput.origin = options.origin;
  out.indexing = IndexLattice(indexInput, options.index);
  StopIfCancelled(options.fit);
  const Indexing& ix = out.indexing;
  if (ix.frames == 0)
    throw CalibError(CalibCause::NoLattice, "the points show no lattice of crossings to index");

  // The crossings of frame 0, on the plate.
  const Pitch& pitch = options.pitch;
  std::vector<int> crossings;
  for (size_t c = 0; c < ix.crossings.size(); ++c)
    if (ix.crossings[c].frame == 0) crossings.push_back(static_cast<int>(c));
  FitData data;
  data.pitch = pitch;
  data.imageWidth = in.imageWidth;
  data.imageHeight = in.imageHeight;
  for (int c : crossings) {
    const Crossing& x = ix.crossings[static_cast<size_t>(c)];
    data.uv.emplace_back(x.column * pitch.UnitX(), x.row * pitch.UnitY());
    data.xy.push_back(x.position);
    data.cell.push_back({x.column, x.row});
  }
  data.weight = CrossingWeights(in, ix, crossings, options.sigmaFloor);

  CalibReport& report = out.report;
  report.requested = options.model;
  FitResult fit;
  if (options.model == "auto") {
    AutoResult a = FitAuto(data, options.fit);
    for (Candidate& c : a.candidates) {
      CandidateFigures f = c.fitted ? Figures(c.name, c.fit) : CandidateFigures{};
      if (!c.fitted) f.name = c.name, f.error = c.error;
      report.candidates.push_back(f);
    }
    report.candidates[static_cast<size_t>(a.chosen)].chosen = true;
    fit = std::move(a.candidates[static_cast<size_t>(a.chosen)].fit);
  } else {
    fit = FitModel(*ParseModelKind(options.model), data, options.fit);
    report.candidates.push_back(Figures(options.model, fit));
    report.candidates.back().chosen = true;
  }
  {
    ModelData withRegions = fit.model.data();
    for (const RegionIndexing& g : ix.regions)
      if (g.frame == 0 && static_cast<size_t>(g.region) < in.regionCorners.size())
        withRegions.regions.push_back(in.regionCorners[static_cast<size_t>(g.region)]);
    out.model = Model(std::move(withRegions));
  }
  const Model& model = out.model;
  const ModelData& md = model.data();

  // Every input point.
  std::vector<int> slot(ix.crossings.size(), -1);
  for (size_t k = 0; k < crossings.size(); ++k)
    slot[static_cast<size_t>(crossings[k])] = static_cast<int>(k);
  out.points.resize(in.points.size());
  for (size_t i = 0; i < in.points.size(); ++i) {
    PointCalibration& p = out.points[i];
    p.plate = p.residual = Vec2(kNaN, kNaN);
    p.crossing = ix.crossingOf[i];
    if (p.crossing < 0) continue;
    const Crossing& x = ix.crossings[static_cast<size_t>(p.crossing)];
    p.frame = x.frame, p.column = x.column, p.row = x.row;
    p.plate = Vec2(x.column * pitch.UnitX(), x.row * pitch.UnitY());
    p.duplicate = x.members.size() > 1;
    const int k = slot[static_cast<size_t>(p.crossing)];
    if (k < 0) continue;
    p.residual = in.points[i] - model.ToImage(p.plate);
    p.outlier = fit.outlier[static_cast<size_t>(k)];
  }

  // The report.
  report.model = model.Name();
  report.pitch = pitch;
  report.imageWidth = in.imageWidth, report.imageHeight = in.imageHeight;
  report.points = static_cast<int>(in.points.size());
  report.indexed =
      static_cast<int>(std::count_if(out.points.begin(), out.points.end(),
                                     [](const PointCalibration& p) { return p.crossing >= 0; }));
  report.crossings = static_cast<int>(crossings.size());
  report.fitted = md.points;
  report.frames = ix.frames;
  report.regions = ix.regions;
  report.unindexed = ix.unindexed;
  report.duplicates = ix.duplicates;
  std::vector<Vec2> inliers;
  for (size_t k = 0; k < crossings.size(); ++k) {
    const Crossing& x = ix.crossings[static_cast<size_t>(crossings[k])];
    if (!fit.outlier[k]) {
      inliers.push_back(data.uv[k]);
      continue;
    }
    report.outliers.push_back({x.members, x.column, x.row, fit.residual[k], fit.z[k]});
  }
  StopIfCancelled(options.fit);
  const Vec2 centre((md.plate.uMin + md.plate.uMax) / 2, (md.plate.vMin + md.plate.vMax) / 2);
  report.scale = LocalScale(model, centre);
  report.nonlinearity = NonlinearityOf(model, ConvexHullTest(inliers));
  ResidualFigures& r = report.residuals;
  r.rmsPx = fit.rms, r.maxPx = fit.maxResidual, r.cvRmsPx = fit.cvRms;
  r.crossValidation = md.kind.type == ModelType::Projective || md.kind.type == ModelType::Radial
                          ? "10-fold lattice blocks"
                          : "leave-one-out";
  if (pitch.Known()) {
    double sum = 0, cvSum = 0, largest = 0;
    int count = 0, cvCount = 0;
    for (size_t k = 0; k < crossings.size(); ++k) {
      if (fit.outlier[k]) continue;
      const Eigen::Matrix2d toPlate = ToPlateAt(model, data.uv[k]);
      const double um = Micrometres(toPlate, fit.residual[k]);
      sum += um * um, largest = std::max(largest, um), ++count;
      if (fit.cvResidual[k].allFinite()) {
        const double cv = Micrometres(toPlate, fit.cvResidual[k]);
        cvSum += cv * cv, ++cvCount;
      }
    }
    r.rmsUm = count ? std::sqrt(sum / count) : kNaN;
    r.maxUm = largest;
    r.cvRmsUm = cvCount ? std::sqrt(cvSum / cvCount) : kNaN;
  } else {
    report.notes.push_back("the pitch is unknown: plate units are cells, and no figure is in µm");
  }
  const std::vector<std::string> names = ParameterNames(md);
  const Eigen::VectorXd se = md.covariance.StandardErrors(model.ParameterCount());
  for (int k = 0; k < model.ParameterCount(); ++k)
    report.parameters.push_back({names[static_cast<size_t>(k)], md.params[k], se[k]});
  if (md.kind.type == ModelType::Radial) {
    report.radialCentreFitted = md.radial.centreFitted;
    const Vec2 c = md.radial.centreFitted ? Vec2(md.params[13], md.params[14]) : md.radial.centre;
    report.radialCentre = md.image.Undo(c);
    if (md.radial.centreFitted)
      report.radialCentreSigma = Vec2(se[13], se[14]) / md.image.scale;
    else
      report.notes.push_back(
          "the radial model's centre is fixed at the image centre: the crossings do not "
          "determine it to a tenth of the image");
  }
  if (md.kind.type == ModelType::Spline) report.spline = md.spline;
  for (const RegionIndexing& g : ix.regions)
    if (!g.note.empty())
      report.notes.push_back("region " + std::to_string(g.region + 1) + ": " + g.note);
  static const char* const kCorners[4] = {"first", "second", "third", "fourth"};
  for (size_t c = 0; c < 4; ++c)
    if (!report.nonlinearity.affine.corners[c].inside)
      report.notes.push_back(std::string("the ") + kCorners[c] +
                             " corner of the crossings' extent lies outside them: its figures "
                             "are extrapolated");
  return out;
}

}  // namespace qova::calib
